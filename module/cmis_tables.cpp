#include "module/cmis_tables.h"

#include <cstdio>

namespace cmis {
namespace {

struct Code {
  uint8_t code;
  const char* name;
};

template <size_t N>
const char* Find(const Code (&table)[N], uint8_t code) {
  for (const Code& c : table)
    if (c.code == code) return c.name;
  return nullptr;
}

std::string WithCode(const char* what, uint8_t code) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s (0x%02X)", what, code);
  return buf;
}

// Host electrical interfaces.
const Code kHost[] = {
    {0x00, "Undefined"},
    {0x01, "1000BASE-CX (Clause 39)"},
    {0x02, "XAUI (Clause 47)"},
    {0x03, "XFI (SFF INF-8071i)"},
    {0x04, "SFI (SFF-8431)"},
    {0x05, "25GAUI C2M (Annex 109B)"},
    {0x06, "XLAUI C2M (Annex 83B)"},
    {0x07, "XLPPI (Annex 86A)"},
    {0x08, "LAUI-2 C2M (Annex 135C)"},
    {0x09, "50GAUI-2 C2M (Annex 135E)"},
    {0x0A, "50GAUI-1 C2M (Annex 135G)"},
    {0x0B, "CAUI-4 C2M (Annex 83E)"},
    {0x0C, "100GAUI-4 C2M (Annex 135E)"},
    {0x0D, "100GAUI-2 C2M (Annex 135G)"},
    {0x0E, "200GAUI-8 C2M (Annex 120C)"},
    {0x0F, "200GAUI-4 C2M (Annex 120E)"},
    {0x10, "400GAUI-16 C2M (Annex 120C)"},
    {0x11, "400GAUI-8 C2M (Annex 120E)"},
    {0x13, "10GBASE-CX4 (Clause 54)"},
    {0x14, "25GBASE-CR CA-L (Clause 110)"},
    {0x15, "25GBASE-CR CA-S (Clause 110)"},
    {0x16, "25GBASE-CR CA-N (Clause 110)"},
    {0x17, "40GBASE-CR4 (Clause 85)"},
    {0x18, "50GBASE-CR (Clause 136)"},
    {0x19, "100GBASE-CR10 (Clause 85)"},
    {0x1A, "100GBASE-CR4 (Clause 92)"},
    {0x1B, "100GBASE-CR2 (Clause 136)"},
    {0x1C, "200GBASE-CR4 (Clause 136)"},
    {0x1D, "400G CR8"},
    {0x1E, "1000BASE-T (Clause 40)"},
    {0x1F, "2.5GBASE-T (Clause 126)"},
    {0x20, "5GBASE-T (Clause 126)"},
    {0x21, "10GBASE-T (Clause 55)"},
    {0x22, "25GBASE-T (Clause 113)"},
    {0x23, "40GBASE-T (Clause 113)"},
    {0x24, "50GBASE-T"},
    {0x25, "8GFC (FC-PI-4)"},
    {0x26, "10GFC"},
    {0x27, "16GFC (FC-PI-5)"},
    {0x28, "32GFC (FC-PI-6)"},
    {0x29, "64GFC (FC-PI-7)"},
    {0x2A, "128GFC (FC-PI-6P)"},
    {0x2B, "256GFC (FC-PI-7P)"},
    {0x2C, "IB SDR"},
    {0x2D, "IB DDR"},
    {0x2E, "IB QDR"},
    {0x2F, "IB FDR"},
    {0x30, "IB EDR"},
    {0x31, "IB HDR"},
    {0x32, "IB NDR"},
    {0x33, "E.96 (CPRI)"},
    {0x34, "E.99 (CPRI)"},
    {0x35, "E.119 (CPRI)"},
    {0x36, "E.238 (CPRI)"},
    {0x37, "OTL3.4 (G.709)"},
    {0x38, "OTL4.10 (G.709)"},
    {0x39, "OTL4.4 (G.709)"},
    {0x3A, "OTLC.4 (G.709.1)"},
    {0x3B, "FOIC1.4 (G.709.1)"},
    {0x3C, "FOIC1.2 (G.709.1)"},
    {0x3D, "FOIC2.8 (G.709.1)"},
    {0x3E, "FOIC2.4 (G.709.1)"},
    {0x3F, "FOIC4.16 (G.709.1)"},
    {0x40, "FOIC4.8 (G.709.1)"},
    {0x4B, "100GAUI-1-S C2M (Annex 120G)"},
    {0x4C, "100GAUI-1-L C2M (Annex 120G)"},
    {0x4D, "200GAUI-2-S C2M (Annex 120G)"},
    {0x4E, "200GAUI-2-L C2M (Annex 120G)"},
    {0x4F, "400GAUI-4-S C2M (Annex 120G)"},
    {0x50, "400GAUI-4-L C2M (Annex 120G)"},
    {0x51, "800GAUI-8 S C2M (Annex 120G)"},
    {0x52, "800GAUI-8 L C2M (Annex 120G)"},
    {0xFF, "Unused (end of the application list)"},
};

// Media interfaces, one table per media type.
const Code kMultimode[] = {
    {0x00, "Undefined"},
    {0x01, "10GBASE-SW (Clause 52)"},
    {0x02, "10GBASE-SR (Clause 52)"},
    {0x03, "25GBASE-SR (Clause 112)"},
    {0x04, "40GBASE-SR4 (Clause 86)"},
    {0x05, "40GE SWDM4"},
    {0x06, "40GE BiDi"},
    {0x07, "50GBASE-SR (Clause 138)"},
    {0x08, "100GBASE-SR10 (Clause 86)"},
    {0x09, "100GBASE-SR4 (Clause 95)"},
    {0x0A, "100GE SWDM4"},
    {0x0B, "100GE BiDi"},
    {0x0C, "100GBASE-SR2 (Clause 138)"},
    {0x0D, "100G-SR"},
    {0x0E, "200GBASE-SR4 (Clause 138)"},
    {0x0F, "400GBASE-SR16 (Clause 123)"},
    {0x10, "400GBASE-SR8 (Clause 138)"},
    {0x11, "400G-SR4"},
    {0x12, "800G-SR8"},
    {0x13, "8GFC-MM (FC-PI-4)"},
    {0x14, "10GFC-MM"},
    {0x15, "16GFC-MM (FC-PI-5)"},
    {0x16, "32GFC-MM (FC-PI-6)"},
    {0x17, "64GFC-MM (FC-PI-7)"},
    {0x18, "128GFC-MM4 (FC-PI-6P)"},
    {0x19, "256GFC-MM4 (FC-PI-7P)"},
    {0x1A, "400GBASE-SR4.2 (Clause 150)"},
};

const Code kSingleMode[] = {
    {0x00, "Undefined"},
    {0x01, "10GBASE-LW (Clause 52)"},
    {0x02, "10GBASE-EW (Clause 52)"},
    {0x03, "10G-ZW"},
    {0x04, "10GBASE-LR (Clause 52)"},
    {0x05, "10GBASE-ER (Clause 52)"},
    {0x06, "10G-ZR"},
    {0x07, "25GBASE-LR (Clause 114)"},
    {0x08, "25GBASE-ER (Clause 114)"},
    {0x09, "40GBASE-LR4 (Clause 87)"},
    {0x0A, "40GBASE-FR (Clause 89)"},
    {0x0B, "50GBASE-FR (Clause 139)"},
    {0x0C, "50GBASE-LR (Clause 139)"},
    {0x0D, "100GBASE-LR4 (Clause 88)"},
    {0x0E, "100GBASE-ER4 (Clause 88)"},
    {0x0F, "100G PSM4"},
    {0x10, "100G CWDM4"},
    {0x11, "100G 4WDM-10"},
    {0x12, "100G 4WDM-20"},
    {0x13, "100G 4WDM-40"},
    {0x14, "100GBASE-DR (Clause 140)"},
    {0x15, "100G-FR / 100GBASE-FR1 (Clause 140)"},
    {0x16, "100G-LR / 100GBASE-LR1 (Clause 140)"},
    {0x17, "200GBASE-DR4 (Clause 121)"},
    {0x18, "200GBASE-FR4 (Clause 122)"},
    {0x19, "200GBASE-LR4 (Clause 122)"},
    {0x1A, "400GBASE-FR8 (Clause 122)"},
    {0x1B, "400GBASE-LR8 (Clause 122)"},
    {0x1C, "400GBASE-DR4 (Clause 124)"},
    {0x1D, "400G-FR4 / 400GBASE-FR4 (Clause 151)"},
    {0x1E, "400G-LR4-10"},
    {0x1F, "8GFC-SM (FC-PI-4)"},
    {0x20, "10GFC-SM"},
    {0x21, "16GFC-SM (FC-PI-5)"},
    {0x22, "32GFC-SM (FC-PI-6)"},
    {0x23, "64GFC-SM (FC-PI-7)"},
    {0x24, "128GFC-PSM4 (FC-PI-6P)"},
    {0x25, "256GFC-PSM4 (FC-PI-7P)"},
    {0x26, "128GFC-CWDM4 (FC-PI-6P)"},
    {0x27, "256GFC-CWDM4 (FC-PI-7P)"},
    {0x2C, "4I1-9D1F (G.959.1)"},
    {0x2D, "4L1-9C1F (G.959.1)"},
    {0x2E, "4L1-9D1F (G.959.1)"},
    {0x2F, "C4S1-9D1F (G.695)"},
    {0x30, "C4S1-4D1F (G.695)"},
    {0x31, "4I1-4D1F (G.959.1)"},
    {0x32, "8R1-4D1F (G.959.1)"},
    {0x33, "8I1-4D1F (G.959.1)"},
    {0x38, "10G-SR"},
    {0x39, "10G-LR"},
    {0x3A, "25G-SR"},
    {0x3B, "25G-LR"},
    {0x3C, "10G-LR-BiDi"},
    {0x3D, "25G-LR-BiDi"},
    {0x3E, "400ZR, DWDM, amplified"},
    {0x3F, "400ZR, single wavelength, unamplified"},
    {0x46, "ZR400-OFEC-16QAM"},
    {0x47, "ZR300-OFEC-8QAM"},
    {0x48, "ZR200-OFEC-QPSK"},
    {0x49, "ZR100-OFEC-QPSK"},
    {0x56, "800GBASE-DR8"},
};

const Code kPassiveCopper[] = {
    {0x00, "Undefined"},
    {0x01, "Copper cable"},
    {0x02, "Passive loopback module"},
};

const Code kActiveCable[] = {
    {0x00, "Undefined"},
    {0x01, "Active cable assembly with BER < 10^-12"},
    {0x02, "Active cable assembly with BER < 5x10^-5"},
    {0x03, "Active cable assembly with BER < 2.6x10^-4"},
    {0x04, "Active cable assembly with BER < 10^-6"},
    {0xBF, "Active loopback module"},
};

const Code kBaseT[] = {
    {0x00, "Undefined"},
    {0x01, "1000BASE-T (Clause 40)"},
    {0x02, "2.5GBASE-T (Clause 126)"},
    {0x03, "5GBASE-T (Clause 126)"},
    {0x04, "10GBASE-T (Clause 55)"},
};

// Interface codes from 0xC0 to 0xFE are the vendors' own.
bool CustomInterfaceCode(uint8_t code) { return code >= 0xC0 && code <= 0xFE; }

}  // namespace

std::string MediaTypeName(uint8_t media_type) {
  switch (media_type) {
    case kMediaUndefined:
      return "Undefined";
    case kMediaMultimode:
      return "Optical interfaces: multimode fibre (MMF)";
    case kMediaSingleMode:
      return "Optical interfaces: single-mode fibre (SMF)";
    case kMediaPassiveCopper:
      return "Passive copper cable";
    case kMediaActiveCable:
      return "Active cable assembly";
    case kMediaBaseT:
      return "BASE-T";
  }
  return WithCode(media_type >= 0x40 && media_type <= 0x8F ? "Custom" : "Reserved", media_type);
}

std::string HostInterfaceName(uint8_t code) {
  if (const char* name = Find(kHost, code)) return name;
  return WithCode(CustomInterfaceCode(code) ? "Custom" : "Reserved or not listed", code);
}

std::string MediaInterfaceName(uint8_t media_type, uint8_t code) {
  const char* name = nullptr;
  switch (media_type) {
    case kMediaMultimode:
      name = Find(kMultimode, code);
      break;
    case kMediaSingleMode:
      name = Find(kSingleMode, code);
      break;
    case kMediaPassiveCopper:
      name = Find(kPassiveCopper, code);
      break;
    case kMediaActiveCable:
      name = Find(kActiveCable, code);
      break;
    case kMediaBaseT:
      name = Find(kBaseT, code);
      break;
    default:
      return WithCode("Media type without an interface table, code", code);
  }
  if (name) return name;
  return WithCode(CustomInterfaceCode(code) ? "Custom" : "Reserved or not listed", code);
}

std::string ModuleFaultCauseName(uint8_t code) {
  switch (code) {
    case 0:
      return "No fault detected (or not reported)";
    case 1:
      return "TEC runaway";
    case 2:
      return "Data memory corrupted";
    case 3:
      return "Program memory corrupted";
  }
  return WithCode("Reserved or custom fault code", code);
}

std::optional<double> GridSpacingGhz(uint8_t code) {
  switch (code) {
    case 0:
      return 3.125;
    case 1:
      return 6.25;
    case 2:
      return 12.5;
    case 3:
      return 25.0;
    case 4:
      return 50.0;
    case 5:
      return 100.0;
    case 6:
      return 100.0 / 3.0;
    case 7:
      return 75.0;
  }
  return std::nullopt;
}

}  // namespace cmis

#include "module/names.h"

namespace names {

const List& ModuleStates() {
  static const List list = {"000 Undefined", "001 ModLowPwr", "010 ModPwrUp", "011 ModReady",
                            "100 ModPwrDn",  "101 Res",       "110 Res"};
  return list;
}

const List& DataPathStates() {
  static const List list = {"0 Res",
                            "1 DPDeactivated",
                            "2 DPInit",
                            "3 DPDeinit",
                            "4 DPActivated",
                            "5 DPTxTurnOn",
                            "6 DPTxTurnOff",
                            "7 DPInitialized",
                            "8 Res",
                            "9 Res",
                            "A Res",
                            "B Res",
                            "C "};
  return list;
}

const List& ConfigStatuses() {
  static const List list = {"0 No Status",
                            "1 accepted",
                            "2 rejected unknown",
                            "3 rejected invalid code",
                            "4 rejected invalid combo",
                            "5 rejected invalid SI",
                            "6 rejected in use",
                            "7 rejected incomplete",
                            "8 Res",
                            "9 Res",
                            "A Res",
                            "B Res",
                            "C Res",
                            "D Res",
                            "E Res",
                            "F Res"};
  return list;
}

const List& Identifiers() {
  static const List list = {
      "Unknown or unspecified",
      "GBIC",
      "Module/connector soldered to motherboard(using SFF-8472)",
      "SFP/SFP+/SFP28",
      "300 pin XBI",
      "XENPAK",
      "XFP",
      "XFF",
      "XFP-E",
      "XPAK",
      "X2",
      "DWDM-SFP/SFP+(not using SFF-8472)",
      "QSFP(INF-8438)",
      "QSFP+ or later with SFF-8636 or SFF-8436 management interface(SFF-8436,SFF-8635,"
      "SFF-8665,SFF-8685 et al.)*1",
      "CXP or later",
      "Shielded Mini Multilane HD 4X",
      "Shielded Mini Multilane HD 8X",
      "QSFP28 or later with SFF-8636 management interface (SFF-8665 et al.)*2",
      "CXP2 (aka CXP28) or later",
      "CDFP (Style 1/Style 2)",
      "Shielded Mini Nultilane HD 4X Fanout Cable",
      "Shielded Mini Nultilane HD 8X Fanout Cable",
      "CDFP (Style 3)",
      "microQSFP",
      "QSFP-DD Double Density 8X Pluggable Transceiver(INF-8628)",
      "OSFP 8X Pluggable Transceiver",
      "SFP-DD Double Density 2X Pluggable Transceiver",
      "DSFP Dual Small Form Factor Pluggable Transceiver",
      "X4 MiniLink/OcuLink",
      "X8 MiniLink",
      "QSFP+ or later with Common Management Interface (CMIS)",
      "",
  };
  return list;
}

const List& DeviceTechnologies() {
  static const List list = {"850 nm VCSEL",
                            "1310 nm VCSEL",
                            "1550 nm VCSEL",
                            "1310 nm FP",
                            "1310 nm DFB",
                            "1550 nm DFB",
                            "1310 nm EML",
                            "1550 nm EML",
                            "Others",
                            "1490 nm DFB",
                            "Coper cable unequalized",
                            "Coper cable passive equalized",
                            "Coper cable,near and far end limiting active equalizers",
                            "Coper cable,far end limiting active equalizers",
                            "Coper cable,near end limiting active equalizers",
                            "Coper cable,linear active equalizers"};
  return list;
}

const List& Connectors() {
  static const List list = [] {
    List l = {"Unknown or unspecified",
              "SC(Subscriber Connector)",
              "Fibre Channel Style 1 copper connector",
              "Fibre Channel Style 2 copper connector",
              "BNC/TNC(Bayonet/Threaded Neill-Concelman)",
              "Fibre Channel coax headers",
              "Fiber Jack",
              "LC(Lucent Connector)",
              "MT-RJ(Mechanical Transfer - Registered Jack)",
              "MU(Multiple optical)",
              "SG",
              "Optical Pigtail",
              "MPO 1X12(Multifiber Parallel Optic)",
              "MPO 2X16"};
    for (int code = 0x0E; code <= 0x1F; ++code) l.push_back("Reserved");
    for (const char* name :
         {"HSSDC II(High Speed Serial Data Connector)", "Copper pigtail", "RJ45(Registered Jack)",
          "No separable connector", "MXC 2X16", "CS optical connector", "Mini CS optical connector",
          "MPO 2X12", "MPO 1X16"})
      l.push_back(name);
    return l;
  }();
  return list;
}

const std::string* Item(const List& list, int code) {
  if (code < 0 || code >= static_cast<int>(list.size())) return nullptr;
  return &list[code];
}

std::string ItemOr(const List& list, int code, const std::string& fallback) {
  const std::string* item = Item(list, code);
  return item ? *item : fallback;
}

}  // namespace names

// Code names of the interface tables CMIS modules refer to: media types,
// host electrical interfaces, media interfaces by media type, module fault
// causes and tuning grids. Unlisted codes get a name that says what range
// they fall in, with the code, so a decoder never shows an empty name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cmis {

// Lower memory byte 85: what the media interface codes of the application
// descriptors refer to.
enum MediaType : uint8_t {
  kMediaUndefined = 0x00,
  kMediaMultimode = 0x01,
  kMediaSingleMode = 0x02,
  kMediaPassiveCopper = 0x03,
  kMediaActiveCable = 0x04,
  kMediaBaseT = 0x05,
};

// "Optical interfaces: multimode fibre (MMF)", ...; "Custom (0x45)", "Reserved (0x07)".
std::string MediaTypeName(uint8_t media_type);
// The host electrical interface of an application descriptor: "400GAUI-8 C2M (Annex 120E)";
// 0xFF "Unused (end of the application list)".
std::string HostInterfaceName(uint8_t code);
// The media interface of an application descriptor, from the table that
// the media type selects: "400GBASE-SR8 (Clause 138)", "Copper cable".
std::string MediaInterfaceName(uint8_t media_type, uint8_t code);
// Lower memory byte 41: why the module entered ModuleFault.
std::string ModuleFaultCauseName(uint8_t code);
// A tuning grid code (page 12h, bits 7-4 of a lane's grid byte), in GHz;
// nothing for a reserved code. Code 6 is the 33 GHz grid (100/3 GHz).
std::optional<double> GridSpacingGhz(uint8_t code);

}  // namespace cmis

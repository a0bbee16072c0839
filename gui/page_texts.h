// What the module pages tell the user about a failed board call, as plain
// functions of the call and its result (no widgets).
#pragma once

#include <string>

#include "board/board_result.h"
#include "module/controls.h"

namespace pages {

// The status-line message for a control write that failed:
// "Tx Disable(0x82) lane 3: the board did not answer within 50 ms (command
// 0x01, report 1 of 1)". Module-wide controls name no lane.
std::string ControlFailureText(const ControlFamily& family, int lane, const BoardResult& result);

// The status-line message for an information pass with rows it could not read.
std::string InfoFailureText(const BoardResult& result);
// What a row that could not be read shows in place of its value.
inline constexpr const char* kNotRead = "not read";

}  // namespace pages

// The code lists the module pages and the command-line tool show. Index =
// the code; a code past the end of a list has no item (a box asked to select
// it shows no selection).
#pragma once

#include <string>
#include <vector>

namespace names {

using List = std::vector<std::string>;

// Lower memory byte 3 bits 3-1 ("000 Undefined" ... "110 Res"; code 7 has no item).
const List& ModuleStates();
// A lane's data path state nibble, page 11h 0x80-0x83 ("0 Res" ... "C ").
const List& DataPathStates();
// A lane's configuration status nibble, page 11h 0xCA-0xCD ("0 No Status" ... "F Res").
const List& ConfigStatuses();
// Information page: identifier (0x00-0x1F), media interface technology
// (0x00-0x0F) and connector (0x00-0x28) names.
const List& Identifiers();
const List& DeviceTechnologies();
const List& Connectors();

// The item of `code`, or nullptr when the list has none.
const std::string* Item(const List& list, int code);
// The item, or `fallback` when there is none.
std::string ItemOr(const List& list, int code, const std::string& fallback);

}  // namespace names

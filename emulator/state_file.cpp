#include "emulator/state_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "emulator/mailbox_model.h"

namespace emu {

namespace {
constexpr const char* kMagic = "lanewright-emulator-state 1";

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
  std::istringstream in(text);
  std::string field;
  while (in >> field) {
    if (field.size() != 2 || !std::isxdigit(static_cast<unsigned char>(field[0])) ||
        !std::isxdigit(static_cast<unsigned char>(field[1])))
      return false;
    out->push_back(static_cast<uint8_t>(std::stoul(field, nullptr, 16)));
  }
  return true;
}
}  // namespace

bool ParseBoardState(const std::string& text, BoardState* state, std::string* error) {
  std::istringstream in(text);
  std::string line, section;
  int line_no = 0;
  BoardState out;
  out.eeprom.assign(MailboxModel::kEepromSize, 0xFF);
  std::vector<uint8_t> dsp;
  bool magic = false, has_module = false, has_dsp = false;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(line_no) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!magic) {
      if (line.empty() || line[0] == '#') continue;
      if (line != kMagic) return fail("not an emulated board state file");
      magic = true;
      continue;
    }
    if (!line.empty() && line[0] == '[') {
      section = line;
      if (section == "[module]") has_module = true;
      else if (section == "[dsp-saved]") has_dsp = true;
      else if (section != "[eeprom]") return fail("unknown section " + section);
      continue;
    }
    if (section == "[module]") {
      out.module_dump += line + "\n";
    } else if (section == "[dsp-saved]") {
      if (!ParseHexBytes(line, &dsp)) return fail("bad hex byte in the DSP block");
    } else if (section == "[eeprom]") {
      if (line.empty()) continue;
      unsigned offset = 0;
      auto colon = line.find(':');
      if (colon == std::string::npos || std::sscanf(line.c_str(), "%x", &offset) != 1)
        return fail("EEPROM lines read \"OFFSET: bytes\"");
      std::vector<uint8_t> bytes;
      if (!ParseHexBytes(line.substr(colon + 1), &bytes)) return fail("bad hex byte in the EEPROM");
      if (offset + bytes.size() > out.eeprom.size()) return fail("EEPROM line beyond 256 KiB");
      std::copy(bytes.begin(), bytes.end(), out.eeprom.begin() + offset);
    } else if (!line.empty()) {
      return fail("data outside a section");
    }
  }
  if (!magic) return fail("empty file, not an emulated board state file");
  if (!has_module) return fail("no [module] section");
  if (has_dsp && dsp.size() != DspModel::kBlockSize)
    return fail("the DSP block holds " + std::to_string(dsp.size()) + " of 193 bytes");
  if (has_dsp) std::copy(dsp.begin(), dsp.end(), out.dsp_saved.begin());
  else out.dsp_saved = DspModel().Saved();
  *state = std::move(out);
  return true;
}

bool WriteBoardState(const std::string& path, const BoardState& state, std::string* error) {
  std::ostringstream out;
  out << "# Lanewright emulated test board: module memory, saved DSP block, EEPROM\n";
  out << kMagic << "\n[module]\n" << state.module_dump << "[dsp-saved]\n";
  char buf[24];
  for (int i = 0; i < DspModel::kBlockSize; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", state.dsp_saved[i]);
    out << buf << ((i % 16 == 15 || i == DspModel::kBlockSize - 1) ? "\n" : " ");
  }
  out << "[eeprom]\n";
  for (size_t off = 0; off < state.eeprom.size(); off += 32) {
    bool blank = true;
    for (size_t i = off; i < off + 32 && i < state.eeprom.size(); ++i)
      if (state.eeprom[i] != 0xFF) blank = false;
    if (blank) continue;
    std::snprintf(buf, sizeof buf, "%05zx:", off);
    out << buf;
    for (size_t i = off; i < off + 32 && i < state.eeprom.size(); ++i) {
      std::snprintf(buf, sizeof buf, " %02x", state.eeprom[i]);
      out << buf;
    }
    out << "\n";
  }
  const std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) {
      if (error) *error = tmp + ": " + std::strerror(errno);
      return false;
    }
    f << out.str();
    if (!f.flush()) {
      if (error) *error = tmp + ": write failed";
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace emu

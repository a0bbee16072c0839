#include "emulator/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace emu {

namespace {

constexpr const char* kMagicV1 = "lanewright-emulator-state 1";
constexpr const char* kMagic = "lanewright-emulator-state 2";
constexpr int kRow = 32;  // bytes on a mailbox or EEPROM line
constexpr int kDspRow = 16;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool AllHex(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (HexValue(c) < 0) return false;
  return true;
}

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string field;
  while (in >> field) out.push_back(field);
  return out;
}

// Fields of exactly `digits` hex digits each.
bool ParseNumbers(const std::vector<std::string>& fields, int digits, std::vector<uint32_t>* out,
                  std::string* why) {
  out->clear();
  for (const auto& f : fields) {
    if (static_cast<int>(f.size()) != digits || !AllHex(f)) {
      *why = "\"" + f + "\" is not a hex " + (digits == 2 ? "byte" : "word of 4 digits");
      return false;
    }
    out->push_back(static_cast<uint32_t>(std::strtoul(f.c_str(), nullptr, 16)));
  }
  return true;
}

// "key: fields": the key is lower-case letters, digits and '-', right before the colon.
bool SplitKeyLine(const std::string& line, std::string* key, std::vector<std::string>* fields) {
  const auto colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  *key = line.substr(0, colon);
  for (char c : *key)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || (c >= 'A' && c <= 'F')))
      return false;
  if (colon + 1 < line.size() && line[colon + 1] != ' ' && line[colon + 1] != '\t') return false;
  *fields = Fields(line.substr(colon + 1));
  return true;
}

bool LooksLikeModuleDump(const std::string& line) {
  return line == "lower" || (line.size() == 7 && line.rfind("page ", 0) == 0);
}

const char kHex[] = "0123456789abcdef";

void AppendBytes(std::string& out, const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    out += ' ';
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
  }
}

void AppendWords(std::string& out, const uint16_t* words, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    out += ' ';
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(words[i] >> shift) & 15];
  }
}

std::string HexNumber(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*x", digits, value);
  return buf;
}

}  // namespace

bool ParseBoardState(const std::string& text, BoardState* state, std::string* error) {
  std::istringstream in(text);
  std::string line;
  int line_no = 0;
  BoardState out;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(line_no) + ": " + why;
    return false;
  };

  bool magic = false;
  std::string section;
  std::map<std::string, int> section_lines;  // where each section began
  std::map<std::string, int> key_lines;      // keys of the current section
  std::string module_text;
  int module_first_line = 0;
  std::vector<uint8_t> dsp;  // the DSP block being read
  std::optional<DspModel::Block> dsp_working, dsp_saved;
  std::vector<int> eeprom_lines(MailboxModel::kEepromSize / kRow, 0);
  std::vector<int> mailbox_lines(256 / kRow, 0);
  ModuleModel::Retained live;

  // Ends the current section: what must be whole is checked here.
  auto close_section = [&]() -> bool {
    if (section == "[dsp-working]" || section == "[dsp-saved]") {
      if (dsp.size() != DspModel::kBlockSize)
        return fail("the DSP block holds " + std::to_string(dsp.size()) + " of " +
                    std::to_string(DspModel::kBlockSize) + " bytes");
      DspModel::Block block{};
      std::copy(dsp.begin(), dsp.end(), block.begin());
      (section == "[dsp-working]" ? dsp_working : dsp_saved) = block;
    } else if (section == "[module-retained]") {
      for (const char* key : {"power-on-controls", "power-on-page-10", "temperature", "vcc",
                              "tx-power", "tx-bias", "rx-input"})
        if (!key_lines.count(key))
          return fail("[module-retained] lacks \"" + std::string(key) + ":\"");
      out.module_retained = live;
    }
    return true;
  };

  // One "key: values" line of the keyed sections.
  auto keyed_line = [&]() -> bool {
    std::string key, why;
    std::vector<std::string> fields;
    std::vector<uint32_t> values;
    const bool offset_rows = section == "[eeprom]" || section == "[mailbox]";
    if (!SplitKeyLine(line, &key, &fields))
      return fail(offset_rows ? "lines here read \"OFFSET: bytes\" (hex offset, 32 hex bytes)"
                              : "lines here read \"key: values\"");
    if (offset_rows && !(section == "[mailbox]" && key == "mode")) {
      const long size = section == "[eeprom]" ? MailboxModel::kEepromSize : 256;
      if (!AllHex(key)) return fail("\"" + key + "\" is not a hex offset");
      unsigned long offset = 0;
      if (key.size() > 8 ||
          (offset = std::strtoul(key.c_str(), nullptr, 16)) >= static_cast<unsigned long>(size))
        return fail("offset " + key + " lies beyond the " +
                    std::string(size == 256 ? "256-byte mailbox" : "256 KiB EEPROM"));
      if (offset % kRow) return fail("offset " + key + " is not a multiple of 32");
      auto& seen = (section == "[eeprom]" ? eeprom_lines : mailbox_lines)[offset / kRow];
      if (seen)
        return fail("offset " + key + " appears twice (first at line " + std::to_string(seen) +
                    ")");
      seen = line_no;
      if (!ParseNumbers(fields, 2, &values, &why)) return fail(why);
      if (values.size() != kRow)
        return fail("the line holds " + std::to_string(values.size()) + " of 32 bytes");
      uint8_t* to = section == "[eeprom]" ? &out.eeprom[offset] : &out.mailbox[offset];
      for (int i = 0; i < kRow; ++i) to[i] = static_cast<uint8_t>(values[i]);
      return true;
    }

    // Named keys: how many values of which width each takes, and where they go.
    struct Key {
      int count, digits;
      std::function<void(const std::vector<uint32_t>&)> take;
    };
    std::map<std::string, Key> keys;
    auto bytes_to = [](uint8_t* to) {
      return [to](const std::vector<uint32_t>& v) {
        for (size_t i = 0; i < v.size(); ++i) to[i] = static_cast<uint8_t>(v[i]);
      };
    };
    auto words_to = [](uint16_t* to) {
      return [to](const std::vector<uint32_t>& v) {
        for (size_t i = 0; i < v.size(); ++i) to[i] = static_cast<uint16_t>(v[i]);
      };
    };
    if (section == "[module-retained]") {
      keys["power-on-controls"] = {ModuleModel::kControlCount, 2,
                                   bytes_to(live.power_on_controls.data())};
      keys["power-on-page-10"] = {128, 2, bytes_to(live.power_on_page10.data())};
      keys["temperature"] = {1, 4, words_to(&live.temperature)};
      keys["vcc"] = {1, 4, words_to(&live.vcc)};
      keys["tx-power"] = {8, 4, words_to(live.tx_power.data())};
      keys["tx-bias"] = {8, 4, words_to(live.tx_bias.data())};
      keys["rx-input"] = {8, 4, words_to(live.rx_input.data())};
    } else if (section == "[prbs]") {
      for (int lane = 1; lane <= 8; ++lane) {
        keys["generator-" + std::to_string(lane)] = {PrbsModel::kGeneratorSize, 2,
                                                     bytes_to(out.prbs.generator[lane - 1].data())};
        keys["checker-" + std::to_string(lane)] = {PrbsModel::kCheckerSize, 2,
                                                   bytes_to(out.prbs.checker[lane - 1].data())};
      }
    } else if (section == "[board]") {
      keys["clock"] = {1, 2, bytes_to(&out.clock)};
    } else if (section == "[mailbox]") {
      if (fields.size() != 1 || (fields[0] != "idle" && fields[0] != "load"))
        return fail("\"mode:\" is \"idle\" or \"load\"");
      if (key_lines.count(key))
        return fail("\"mode:\" appears twice (first at line " + std::to_string(key_lines[key]) +
                    ")");
      key_lines[key] = line_no;
      out.load_mode = fields[0] == "load";
      return true;
    }
    const auto it = keys.find(key);
    if (it == keys.end()) return fail("unknown key \"" + key + "\" in " + section);
    if (key_lines.count(key))
      return fail("\"" + key + ":\" appears twice (first at line " +
                  std::to_string(key_lines[key]) + ")");
    key_lines[key] = line_no;
    if (!ParseNumbers(fields, it->second.digits, &values, &why)) return fail(why);
    if (static_cast<int>(values.size()) != it->second.count)
      return fail("\"" + key + ":\" holds " + std::to_string(values.size()) + " of " +
                  std::to_string(it->second.count) + " values");
    it->second.take(values);
    return true;
  };

  while (std::getline(in, line)) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!magic) {
      if (line.empty() || line[0] == '#') continue;
      if (line == kMagic || line == kMagicV1) {
        magic = true;
        continue;
      }
      if (LooksLikeModuleDump(line))
        return fail(
            "a module dump, not an emulated board state file (--emulate-module loads "
            "dumps)");
      return fail("not an emulated board state file (it starts with \"" + std::string(kMagic) +
                  "\")");
    }
    if (!line.empty() && line[0] == '[') {
      if (!close_section()) return false;
      section = line;
      static const char* kSections[] = {
          "[module]", "[module-retained]", "[dsp-working]", "[dsp-saved]",
          "[prbs]",   "[board]",           "[mailbox]",     "[eeprom]"};
      if (std::find(std::begin(kSections), std::end(kSections), section) == std::end(kSections))
        return fail("unknown section " + section);
      const auto [first, fresh] = section_lines.emplace(section, line_no);
      if (!fresh)
        return fail(section + " appears twice (first at line " + std::to_string(first->second) +
                    ")");
      key_lines.clear();
      dsp.clear();
      if (section == "[module]") module_first_line = line_no + 1;
      continue;
    }
    if (section == "[module]") {
      module_text += line;
      module_text += '\n';
      continue;
    }
    if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
    if (section.empty()) return fail("data outside a section");
    if (section == "[dsp-working]" || section == "[dsp-saved]") {
      std::vector<uint32_t> values;
      std::string why;
      if (!ParseNumbers(Fields(line), 2, &values, &why)) return fail(why);
      const size_t left = DspModel::kBlockSize - dsp.size();
      if (left == 0) return fail("the DSP block has more than 193 bytes");
      const size_t expected = std::min<size_t>(kDspRow, left);
      if (values.size() != expected)
        return fail("the line holds " + std::to_string(values.size()) + " bytes, expected " +
                    std::to_string(expected) + " (16 a line, the rest on the last)");
      for (uint32_t v : values) dsp.push_back(static_cast<uint8_t>(v));
      continue;
    }
    if (!keyed_line()) return false;
  }
  if (!magic) {
    if (error)
      *error = "the file is empty, not an emulated board state file (it starts with \"" +
               std::string(kMagic) + "\")";
    return false;
  }
  ++line_no;  // errors at the end of the file name the line after the last
  if (!close_section()) return false;
  if (!section_lines.count("[module]")) return fail("no [module] section");
  std::string why;
  if (!ParseModuleDump(module_text, &out.module, &why, module_first_line)) {
    if (error) *error = why + " (in [module])";
    return false;
  }
  out.dsp_saved = dsp_saved ? *dsp_saved : DspModel().Saved();
  out.dsp_working = dsp_working ? *dsp_working : out.dsp_saved;
  *state = std::move(out);
  return true;
}

std::string FormatBoardState(const BoardState& state) {
  std::string out;
  out.reserve(64 * 1024);
  out += "# Lanewright emulated test board: the state of a powered board\n";
  out += kMagic;
  out += "\n[module]\n";
  out += FormatModuleDump(state.module);
  if (state.module_retained) {
    const auto& live = *state.module_retained;
    out += "[module-retained]\npower-on-controls:";
    AppendBytes(out, live.power_on_controls.data(), live.power_on_controls.size());
    out += "\npower-on-page-10:";
    AppendBytes(out, live.power_on_page10.data(), live.power_on_page10.size());
    out += "\ntemperature:";
    AppendWords(out, &live.temperature, 1);
    out += "\nvcc:";
    AppendWords(out, &live.vcc, 1);
    out += "\ntx-power:";
    AppendWords(out, live.tx_power.data(), 8);
    out += "\ntx-bias:";
    AppendWords(out, live.tx_bias.data(), 8);
    out += "\nrx-input:";
    AppendWords(out, live.rx_input.data(), 8);
    out += "\n";
  }
  auto dsp = [&out](const char* title, const DspModel::Block& block) {
    out += title;
    for (int i = 0; i < DspModel::kBlockSize; i += kDspRow) {
      const int n = std::min(kDspRow, DspModel::kBlockSize - i);
      std::string row;
      AppendBytes(row, &block[i], n);
      out += row.substr(1);
      out += '\n';
    }
  };
  dsp("[dsp-working]\n", state.dsp_working);
  dsp("[dsp-saved]\n", state.dsp_saved);
  out += "[prbs]\n";
  for (int lane = 1; lane <= 8; ++lane) {
    out += "generator-" + std::to_string(lane) + ":";
    AppendBytes(out, state.prbs.generator[lane - 1].data(), PrbsModel::kGeneratorSize);
    out += "\nchecker-" + std::to_string(lane) + ":";
    AppendBytes(out, state.prbs.checker[lane - 1].data(), PrbsModel::kCheckerSize);
    out += '\n';
  }
  out += "[board]\nclock: " + HexNumber(state.clock, 2) + "\n";
  out += "[mailbox]\nmode: ";
  out += state.load_mode ? "load\n" : "idle\n";
  for (int off = 0; off < 256; off += kRow) {
    bool zero = true;
    for (int i = off; i < off + kRow; ++i) zero = zero && state.mailbox[i] == 0;
    if (zero) continue;
    out += HexNumber(off, 2) + ":";
    AppendBytes(out, &state.mailbox[off], kRow);
    out += '\n';
  }
  out += "[eeprom]\n";
  for (size_t off = 0; off + kRow <= state.eeprom.size(); off += kRow) {
    bool blank = true;
    for (size_t i = off; i < off + kRow && blank; ++i) blank = state.eeprom[i] == 0xFF;
    if (blank) continue;
    out += HexNumber(static_cast<unsigned>(off), 5) + ":";
    AppendBytes(out, &state.eeprom[off], kRow);
    out += '\n';
  }
  return out;
}

// ---- Files ----

namespace {

std::string Errno(int code) { return std::strerror(code); }

std::string NotRegular(mode_t mode) {
  const char* what = S_ISDIR(mode)    ? "a directory"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                     : S_ISFIFO(mode) ? "a named pipe"
                     : S_ISSOCK(mode) ? "a socket"
                                      : "not a regular file";
  return std::string(what) + ", not a regular file; refused";
}

std::string DirName(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

mode_t CreationMode() {
  // The umask, without changing it (umask(2) would, for every thread).
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0)
      return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 0644;
}

}  // namespace

FileFault ResolveFile(const std::string& path, std::string* resolved, std::string* error) {
  std::string at = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0) {
      if (errno == ENOENT) break;  // not there yet: it will be made here
      if (error) *error = Errno(errno);
      return FileFault::kIo;
    }
    if (!S_ISLNK(st.st_mode)) {
      if (!S_ISREG(st.st_mode)) {
        if (error) *error = NotRegular(st.st_mode);
        return FileFault::kInvalid;
      }
      break;
    }
    if (hops == 40) {
      if (error) *error = Errno(ELOOP);
      return FileFault::kIo;
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(at.c_str(), target.data(), target.size());
    if (n < 0) {
      if (error) *error = Errno(errno);
      return FileFault::kIo;
    }
    target.resize(static_cast<size_t>(n));
    at = !target.empty() && target[0] == '/' ? target : DirName(at) + "/" + target;
  }
  *resolved = at;
  return FileFault::kNone;
}

FileFault ReadRegularFile(const std::string& path, std::string* text, bool* exists,
                          std::string* error) {
  text->clear();
  *exists = false;
  // Non-blocking, so that a named pipe cannot hold the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return FileFault::kNone;
    if (error) *error = Errno(errno);
    return FileFault::kIo;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int code = errno;
    ::close(fd);
    if (error) *error = st.st_mode ? NotRegular(st.st_mode) : Errno(code);
    return st.st_mode ? FileFault::kInvalid : FileFault::kIo;
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      if (error) *error = Errno(code);
      return FileFault::kIo;
    }
    text->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  *exists = true;
  return FileFault::kNone;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error) {
  const std::string dir = DirName(path);
  const auto slash = path.rfind('/');
  std::string temp =
      dir + "/." + (slash == std::string::npos ? path : path.substr(slash + 1)) + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = Errno(errno);
    return false;
  }
  auto fail = [&](int code) {
    ::close(fd);
    ::unlink(temp.c_str());
    if (error) *error = Errno(code);
    return false;
  };
  struct stat st {};
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : CreationMode();
  if (::fchmod(fd, mode) != 0) return fail(errno);
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    const int code = errno;
    ::unlink(temp.c_str());
    if (error) *error = Errno(code);
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int code = errno;
    ::unlink(temp.c_str());
    if (error) *error = Errno(code);
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

}  // namespace emu

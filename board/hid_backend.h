// The transport seam: what CHid needs of a HID stack. Two implementations
// exist, hidapi (real boards) and the built-in emulated board; both follow
// hidapi's contract so that framing and timing code is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct HidDeviceInfo {
  std::string path;
  uint16_t vendor = 0;
  uint16_t product = 0;
  uint16_t release = 0;  // bcdDevice, the "version number" of the board match
  std::string product_name;
};

class HidConnection {
 public:
  virtual ~HidConnection() = default;
  // data[0] is the report id (0 for this board); returns bytes written or -1.
  virtual int Write(const uint8_t* data, size_t length) = 0;
  // Input reports arrive WITHOUT a report-id byte (the board does not number
  // its reports). Returns bytes read, 0 when the time limit passed, -1 on
  // error or when the device is gone. timeout_ms 0 polls without waiting.
  virtual int Read(uint8_t* data, size_t length, int timeout_ms) = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;
  virtual std::vector<HidDeviceInfo> Enumerate() = 0;
  virtual std::unique_ptr<HidConnection> Open(const std::string& path) = 0;
  // A short name for messages ("hidapi", "emulated").
  virtual std::string Name() const = 0;
  // The file whose flock stands for the board at `path` while a process
  // uses it (its device node), or empty when the backend needs none.
  virtual std::string LockPath(const std::string& path) const { return {}; }
};

// hidapi's hidraw backend.
std::shared_ptr<HidBackend> MakeHidapiBackend();

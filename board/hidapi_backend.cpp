#include <hidapi.h>

#include <mutex>

#include "board/hid_backend.h"

namespace {

class HidapiConnection final : public HidConnection {
 public:
  explicit HidapiConnection(hid_device* handle) : handle_(handle) {}
  ~HidapiConnection() override { hid_close(handle_); }
  int Write(const uint8_t* data, size_t length) override {
    return hid_write(handle_, data, length);
  }
  int Read(uint8_t* data, size_t length, int timeout_ms) override {
    return hid_read_timeout(handle_, data, length, timeout_ms);
  }

 private:
  hid_device* handle_;
};

class HidapiBackend final : public HidBackend {
 public:
  HidapiBackend() {
    static std::once_flag once;
    std::call_once(once, [] { hid_init(); });
  }
  std::vector<HidDeviceInfo> Enumerate() override {
    std::vector<HidDeviceInfo> out;
    hid_device_info* list = hid_enumerate(0, 0);
    for (auto* d = list; d; d = d->next) {
      HidDeviceInfo info;
      info.path = d->path ? d->path : "";
      info.vendor = d->vendor_id;
      info.product = d->product_id;
      info.release = d->release_number;
      if (d->product_string) {
        for (const wchar_t* c = d->product_string; *c; ++c)
          info.product_name.push_back(*c < 128 ? static_cast<char>(*c) : '?');
      }
      out.push_back(std::move(info));
    }
    hid_free_enumeration(list);
    return out;
  }
  std::unique_ptr<HidConnection> Open(const std::string& path) override {
    hid_device* handle = hid_open_path(path.c_str());
    if (!handle) return nullptr;
    return std::make_unique<HidapiConnection>(handle);
  }
  std::string Name() const override { return "hidapi"; }
  // hidraw paths are the device nodes themselves (/dev/hidrawN).
  std::string LockPath(const std::string& path) const override { return path; }
};

}  // namespace

std::shared_ptr<HidBackend> MakeHidapiBackend() { return std::make_shared<HidapiBackend>(); }

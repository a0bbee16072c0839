// The module object: the transceiver in the board's cage, reached through the
// board object. CSfpBase holds what every module type shares (register
// access, images, password, stamp area, page codes, calibration stores) and
// runs the control, mask and flag operations over the register map that the
// module type installs. The refresh, monitor, threshold and calibration
// sequences differ by module type and are virtual; here they return false.
//
// Threads: the operations exchange with the board and belong on the board
// worker (or the command-line tool's one thread). Snapshot() may be called
// from any thread; it copies the images under a short lock, and every
// refresh operation publishes what it read in one step, so a snapshot never
// shows a refresh half done. Operations of one object are not meant to run
// on two threads at once: a read-modify-write is not atomic against other
// writers of the same register.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "module/cmis_decode.h"
#include "module/flag_reader.h"
#include "module/module_images.h"
#include "module/register_access.h"
#include "module/register_map.h"

class CSfpBase : public CRegisterAccess {
 public:
  // Per-module-type settings block; this system always passes zeros. Layout
  // of what the operations use: the expected identity word (u32, host order)
  // at kConfigIdentityWord and the threshold set (28 floats, in the order of
  // the threshold table) at kConfigThresholdSet.
  static constexpr size_t kConfigBlockSize = 1844;
  static constexpr size_t kConfigIdentityWord = 0;
  static constexpr size_t kConfigThresholdSet = 1336;
  using ConfigBlock = std::array<uint8_t, kConfigBlockSize>;

  static constexpr int kThresholdSlots = 28;
  static constexpr int kCalibrationCoefficients = 5;
  static constexpr uint8_t kPageSelectRegister = 0x7F;
  static constexpr int kPageCodeEntries = 2 * 32 + 256;
  // Pause after a code that makes the module commit to its memory.
  static constexpr int kCommitPauseMs = 500;

  struct Timestamp {
    uint16_t year = 0;
    uint8_t month = 0, day = 0, hour = 0, minute = 0;
  };

  CSfpBase(CDevice* board, const ConfigBlock& config);
  virtual ~CSfpBase();
  CSfpBase(const CSfpBase&) = delete;
  CSfpBase& operator=(const CSfpBase&) = delete;

  int LaneCount() const { return lane_count_; }
  const RegisterMap& Map() const { return *map_; }

  // ---- Images ----
  // A consistent copy of the lower memory, page 10h and page 11h images and
  // the raw monitor cache as the last refresh operations and setters left them.
  ModuleImages Snapshot() const;
  RawMonitors Monitors() const;

  // ---- Password, stamp area, page codes ----
  BoardResult EnterPassword(bool enter);
  bool CheckPassword();
  BoardResult LockPassword();
  bool PasswordEntered() const { return password_entered_; }
  // The 10 identity bytes, then the 6 timestamp bytes.
  BoardResult ReadStampArea();
  bool CheckIdentity();
  bool IdentityMatch() const { return identity_match_; }
  const Timestamp& Stamp() const { return timestamp_; }
  BoardResult SendPageCode(uint32_t address);
  // False without a write for a device other than 0xA0 or 0xA2.
  BoardResult SendPageCodeFor(uint8_t device, uint8_t page, uint8_t reg);
  // Local time to the timestamp area, then the timestamp-page code; 500 ms pause.
  BoardResult WriteTimestamp();
  BoardResult CommitCalibration();
  BoardResult StampModule();
  // WriteThresholds with the configured threshold set, then the threshold-page code.
  BoardResult ProgramThresholds();

  // ---- What the module advertises ----
  // Reads the module's identification key (lower 0x00-0x02 and page 00h)
  // and, when it differs from the last one read (another module, or the
  // first read), what the module advertises: the application table (lower
  // 85-117) and pages 01h and 02h when the module has them. Every call also
  // reads the firmware revision and fault cause (lower 39-41) and the active
  // control set (page 11h 206-213). A new module's images are forgotten
  // first. The refresh operations follow the advertisement: they read it
  // when the object has none or a refresh failed since, and skip pages the
  // module does not have. Call it when a module may have been replaced.
  virtual BoardResult ReadAdvertisement();
  // The advertisement the refreshes follow (board worker thread); views
  // decode it from a snapshot (cmis::DecodeAdvertisement).
  const std::optional<cmis::Advertisement>& Advertised() const { return advertisement_; }
  // Page 12h of a tunable module; nothing is read for another module.
  virtual BoardResult ReadTuningImage();

  // ---- Latched flags ----
  // Every good read of a latched flag register by a refresh operation
  // feeds it; views read it, never the flag bytes of the images.
  FlagReader& Flags() { return flags_; }
  const FlagReader& Flags() const { return flags_; }

  // ---- Monitors, flags and thresholds ----
  virtual BoardResult ReadMonitors();
  virtual BoardResult ReadAlarmImage();
  // From the images, no transfer; false for a kind outside 0-3 or a lane outside 1-8.
  bool GetTempFlag(int kind) const;
  bool GetVccFlag(int kind) const;
  bool GetTxPowerFlag(int lane, int kind) const;
  bool GetTxBiasFlag(int lane, int kind) const;
  bool GetRxPowerFlag(int lane, int kind) const;
  // Tx bias thresholds take the module's bias multiplier. A value the
  // module does not give (no page 02h, a reserved bias multiplier) is NaN.
  virtual BoardResult ReadThresholds();
  // Writes the first 20 values of `set`, converted, in threshold-table
  // order. Refused before any write for a module without page 02h or with
  // a reserved bias multiplier.
  virtual BoardResult WriteThresholds(const float* set);
  std::array<float, kThresholdSlots> Thresholds() const;

  // ---- Calibration ----
  // Writes b - a as a float (least significant byte first) and keeps it.
  BoardResult WriteTempOffset(float a, float b);
  float TempOffset() const { return temp_offset_; }
  // Fits power = f(counts) of degree 0-4 for lane 1-8 and writes the
  // coefficients; a degree above 4 returns false.
  virtual bool FitTxPowerCalibration(int lane, const uint32_t* counts, const float* powers,
                                     int count, int degree);
  virtual bool FitRxPowerCalibration(int lane, const uint32_t* counts, const float* powers,
                                     int count, int degree);
  // The lane's stored coefficients, highest power first (x^4 ... x^0).
  std::array<float, kCalibrationCoefficients> TxCalibration(int lane) const;
  std::array<float, kCalibrationCoefficients> RxCalibration(int lane) const;

  // ---- Refresh operations ----
  virtual BoardResult ReadControlImage();
  virtual BoardResult ReadStatusImage();
  virtual BoardResult ReadMaskImage();

  // ---- Controls and masks ----
  // Every control and mask of the module (the module global controls, the
  // lane controls, both staged control sets, the flag masks) is a row of the
  // control table (module/controls.h), written through ControlFamily::Apply
  // with the two operations below; its value in a snapshot is
  // ControlFamily::ValueIn. The rows name the operations they stand for
  // (`SetTxDisable`, `SetAppCode1`, `SetTxPowerMask` ...).
  //
  // Read-modify-write of one register: the register is read into its image
  // byte, the field of the lane (ignored for a module-wide field) replaced by
  // the low bits of `value` that fit it, the byte written back (no verify, no
  // wait). Returns the write's result; a failed read writes nothing and
  // returns the read's failure. An absent field or a lane outside 1-8 writes
  // nothing and returns false.
  BoardResult SetField(const Field& field, int lane, uint8_t value);
  // A module-wide bit (the global controls of lower 0x1A): value 0 clears it,
  // 1 sets it, anything else writes the byte back as read.
  BoardResult SetModuleBit(const Field& field, uint8_t value);
  bool IsUpperNibbleAll();
  virtual bool IsAllTxDisabled();
  // The whole Tx-disable register at once, without reading it first.
  virtual BoardResult SetAllTxDisable(bool disable);

 protected:
  // What a module type installs in its constructor.
  struct TypeConstants {
    uint32_t password_change = 0, password_entry = 0, timestamp = 0, identity = 0, temp_offset = 0;
    uint32_t host_password = 0, lock_value = 0;
    uint32_t threshold_page_code = 0, timestamp_page_code = 0;
    uint32_t calibration_code1 = 0, calibration_code2 = 0;
    uint32_t lower_code_a0 = 0, lower_code_a2 = 0;
  };
  void Install(int lane_count, const RegisterMap* map, const TypeConstants& constants);
  void SetPageCode(int table, uint8_t page, uint32_t code);
  const TypeConstants& Constants() const { return constants_; }
  const ConfigBlock& Config() const { return config_; }

  // Reads of one refresh operation into a working copy of the images; what
  // was read is published in one step when the refresh ends (the object goes
  // out of scope). The first failed read fails the whole refresh: the reads
  // after it are not made, and every part not read keeps its earlier bytes,
  // marked not current in the snapshot.
  class ImageRefresh {
   public:
    explicit ImageRefresh(CSfpBase& module);
    ~ImageRefresh();
    ImageRefresh(const ImageRefresh&) = delete;
    ImageRefresh& operator=(const ImageRefresh&) = delete;
    // `address` names lower memory or a page with an image; the run must
    // stay inside its image.
    BoardResult Read(uint32_t address, uint8_t length);
    // Bytes read outside this refresh, published with it.
    void Store(uint32_t address, uint8_t length, const uint8_t* bytes);
    // A run the module does not have: published as not current.
    void Skip(uint32_t address, uint8_t length);
    // Fails this refresh before its reads (they are then not made).
    void Fail(const BoardResult& result) { result_.Merge(result); }
    // The monitor cache to fill; Publish it only when every monitor was read.
    RawMonitors& Monitors();
    void MonitorsRead(const BoardResult& result);
    // The first failure of this refresh, or ok.
    const BoardResult& Result() const { return result_; }

   private:
    CSfpBase& module_;
    ModuleImages work_;
    struct Range {
      uint8_t page, reg, length;
      bool read;  // read from the module by this refresh
    };
    std::vector<Range> ranges_;
    bool monitors_ = false;
    BoardResult result_;
  };

  bool GetField(const Field& field, int lane) const;
  bool GetKindedField(const KindedField& field, int lane, int kind) const;

  // Calibration stores, highest power first.
  std::array<std::array<float, kCalibrationCoefficients>, kLanes> tx_calibration_{};
  std::array<std::array<float, kCalibrationCoefficients>, kLanes> rx_calibration_{};
  void PublishThresholds(const std::array<float, kThresholdSlots>& values);
  // Drops every image byte and the monitor cache (another module).
  void ForgetImages();

  std::optional<cmis::Advertisement> advertisement_;
  // Set by a failed refresh: the next one checks the advertisement first.
  bool recheck_advertisement_ = false;

 private:
  BoardResult WriteImageByte(const FieldSpot& spot, uint8_t read, uint8_t write);
  BoardResult WritePasswordEntry(uint32_t value, bool lsb_first);

  ConfigBlock config_;
  int lane_count_ = 0;
  static const RegisterMap kNoFields;
  const RegisterMap* map_ = &kNoFields;
  TypeConstants constants_;
  std::array<uint32_t, kPageCodeEntries> page_codes_{};

  mutable std::mutex images_mutex_;
  ModuleImages images_;
  std::array<float, kThresholdSlots> thresholds_{};

  bool password_entered_ = false;
  bool identity_match_ = false;
  std::array<uint8_t, 10> identity_{};
  Timestamp timestamp_;
  float temp_offset_ = 0.0f;
  FlagReader flags_;
};

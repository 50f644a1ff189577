#pragma once
// Libraries of the simulated platform, and a scripted USB infrared receiver library.
//
// A simulated library is a table of entry points by name. Entry points are native
// function pointers, so the code under test calls them exactly as it calls a loaded
// Windows library.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/modules.h"

namespace sfh56::sim {

class SimModules : public platform::Modules {
 public:
  using Exports = std::map<std::string, void*>;

  // Makes a library loadable under name (replacing one of the same name). With present
  // given, a load succeeds only while it answers true, as a library loads only while its
  // file is where the search finds it.
  void AddLibrary(const std::string& name, Exports exports,
                  std::function<bool()> present = nullptr);
  void RemoveLibrary(const std::string& name);

  // Load requests for name, successful or not.
  int LoadAttempts(const std::string& name) const;
  // Modules of name loaded and not yet released.
  int LoadedNow(const std::string& name) const;

  // Resources of the plugin's own module, found by name in any letter case.
  void AddResource(const std::string& name, std::vector<uint8_t> bytes);

  std::unique_ptr<platform::Module> Load(const std::string& name) override;
  std::optional<std::vector<uint8_t>> OwnResource(const std::string& name) override;

 private:
  class SimModule;
  struct Library {
    Exports exports;
    std::function<bool()> present;
  };
  void Released(const std::string& name);

  mutable std::mutex mutex_;
  std::map<std::string, Library> libraries_;
  std::map<std::string, std::vector<uint8_t>> resources_;  // by upper-case name
  std::map<std::string, int> attempts_;
  std::map<std::string, int> loaded_;
};

// The maker's USB receiver library as a script. DoGetInfraCode answers one queued entry
// per call (a train, silence, or a raw answer that breaks the library's contract) and
// reports nothing once the queue is empty. Every byte written to the output port and
// the direction register is recorded.
//
// The entry points are plain functions, so they reach the receiver through one
// process-wide pointer: at most one SimUsbReceiver may exist at a time.
class SimUsbReceiver {
 public:
  struct PortWrite {
    enum Kind { kOut, kDirection };
    Kind kind = kOut;
    uint8_t value = 0;
    int poll = 0;  // DoGetInfraCode calls made before this write
    bool operator==(const PortWrite&) const = default;
  };

  SimUsbReceiver();
  ~SimUsbReceiver();
  SimUsbReceiver(const SimUsbReceiver&) = delete;
  SimUsbReceiver& operator=(const SimUsbReceiver&) = delete;

  // The library's five entry points; without_entry removes one of them.
  SimModules::Exports Exports(const std::string& without_entry = "") const;

  void SetPort(uint8_t out, uint8_t direction);
  // One train of duration bytes (result 0, count = durations.size()).
  void QueueTrain(std::vector<uint8_t> durations);
  // Polls that report nothing (result 1, count 0).
  void QueueSilence(int polls);
  // A raw answer: the result and count as given; the bytes written into the buffer are
  // cut at the capacity the caller passed.
  void QueueRaw(int32_t result, int32_t count, std::vector<uint8_t> bytes);

  int Polls() const;
  // Every queued entry has been answered.
  bool Drained() const;
  // Capacity passed by the last DoGetInfraCode call.
  int32_t LastCapacity() const;
  std::vector<PortWrite> Writes() const;
  uint8_t Out() const;
  uint8_t Direction() const;

 private:
  struct Answer {
    int32_t result = 1;
    int32_t count = 0;
    std::vector<uint8_t> bytes;
  };

  static int32_t GetInfraCode(uint8_t* buffer, int32_t capacity, int32_t* count);
  static int32_t SetDataPortDirection(uint8_t value);
  static int32_t GetDataPortDirection(uint8_t* value);
  static int32_t SetOutDataPort(uint8_t value);
  static int32_t GetOutDataPort(uint8_t* value);

  mutable std::mutex mutex_;
  std::vector<Answer> queue_;
  size_t next_ = 0;
  int polls_ = 0;
  int32_t last_capacity_ = 0;
  uint8_t out_ = 0;
  uint8_t direction_ = 0;
  std::vector<PortWrite> writes_;
};

}  // namespace sfh56::sim

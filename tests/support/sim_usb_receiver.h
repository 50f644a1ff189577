#pragma once
// The maker's USB receiver library, simulated: its five entry points as native functions
// that a SimModules library exports, answering from a script.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/sim_modules.h"

namespace sfh56::sim {

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

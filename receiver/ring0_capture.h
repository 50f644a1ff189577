#pragma once
// Ring-0 capture: a train taken by a routine that polls the UART's modem-status register
// at the processor's most privileged level, with interrupts held off, instead of the
// receiver thread's own polling. Serial capture uses it for every comm event while
// AllowRing0 holds; opening the port, the receiver check, the sequence rule, decoding
// and the drain stay the serial capture's.
//
// The routine addresses no object: what it reads and writes is module storage (g_ring0),
// filled by the receiver thread before each run and read back after it. There are two
// ways to run it:
//   the driver route     the hardware-access driver's RunRing0Function (any Windows,
//                        while the driver is active), guarded against faults;
//   the Windows 9x route as the handler of interrupt vector 5 (32-bit product only).
// A route that faults gives an empty train and the box "Error to switch to Ring0".

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "common/pulse_train.h"
#include "decode/sequence_rule.h"
#include "hwaccess/hardware_driver.h"
#include "platform/platform.h"
#include "platform/privileged.h"
#include "receiver/train_assembler.h"

namespace sfh56 {

inline constexpr char kRing0SwitchErrorText[] = "Error to switch to Ring0";
inline constexpr char kRing0SwitchErrorCaption[] = "Error";
// The modem-status register's offset from the UART's I/O base.
inline constexpr int32_t kModemStatusRegister = 6;

// Copies of the time base's thresholds, written by TimeBase::SetTimeBase.
// Every receiver's time base writes these when it calibrates, on whichever thread that
// is: a receiver being made (the host's thread) and one still running can calibrate at
// the same moment. Each value is one whole word, written and read without a lock (the
// routine runs with interrupts held off); values written together may come from two
// calibrations of the same counters, which agree.
struct Ring0Thresholds {
  std::atomic<int64_t> TrainStartWindowTicks{0};
  std::atomic<int64_t> EdgeGapTicks{0};
  std::atomic<int64_t> SequenceGapTicks{0};
};

// Everything the routine touches. One receiver per process.
struct Ring0Storage {
  std::array<EdgeRecord, kMaxCapturedEdges> Ring0Buffer{};
  // Records of the current run: by the driver route's routine, and by the interrupt copy.
  int32_t Ring0EdgeCount = 0;
  int32_t Ring0IntEdgeCount = 0;
  // The modem-status register's I/O address, PortBase + 6; 0 until a run has found it.
  int32_t MsrPort = 0;
  // PriorityLevel < 8: interrupts are held off around each read only, not for the train.
  bool KeepInterruptsOn = true;
  Ring0Thresholds Thresholds;
  // The capture variables shared with serial capture, handed over for each train: the
  // sequence's count and last edge, the line's bit and its previous status (in Train),
  // and the latest sample.
  int32_t TrainCount = 0;
  int64_t LastEdgeTime = 0;
  uint32_t SignalMask = 0;
  TrainAssembler Train;  // TrainStart, PrevStatus, the records of the run
  int64_t SampleTime = 0;
  uint32_t CurStatus = 0;
  bool TrainEnded = false;
};

extern Ring0Storage g_ring0;

// Ring-0 capture for one receiver: the driver it owns and the platform's ring-0 access.
class Ring0Capture {
 public:
  Ring0Capture(platform::Platform& platform, HardwareDriver& driver)
      : platform_(platform), driver_(driver) {}

  // At the start of a serial capture run while AllowRing0 holds: looks the port up in the
  // device registry and sets MsrPort, SignalMask and KeepInterruptsOn for the run. False
  // when the port's I/O base cannot be found, or is none a UART can have (the registry
  // marks a missing entry 0xFFFF): the run then captures without ring 0.
  bool StartRun(const std::string& port_name, uint32_t signal_mask, uint8_t priority_level);

  // One train, for a comm event: the routine's records go to train (Edges, LastEdgeIndex,
  // TicksPerSecond); the line's previous status and the sequence's count and last edge go
  // to the routine before and come back after. Never more than kMaxCapturedEdges records,
  // whatever a driver answers; a fault gives an empty train and the error box.
  void CaptureTrain(PulseTrain& train, TrainAssembler& line, SequenceRule& sequence,
                    double ticks_per_second);

 private:
  // The routine's count when a route ran it, or nothing when the route faulted.
  bool RunDriverRoute(int32_t& count);
  bool RunWin9xRoute(int32_t& count);

  platform::Platform& platform_;
  HardwareDriver& driver_;
};

}  // namespace sfh56

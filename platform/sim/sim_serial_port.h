#pragma once
// Simulated serial ports carrying an infrared receiver on one modem-status line.
//
// A port plays a waveform, the receiver output's level over virtual time, on its line
// (CTS, DSR or DCD). The receiver is powered from RTS and DTR: until both are raised the
// line reads as not set. Status reads cost a little virtual time, as a real port read
// does. The comm-event wait behaves like an overlapped WaitCommEvent on a real driver:
// changes of the masked line that happen while no wait is pending are remembered, and
// the next wait completes at once; otherwise it completes at the next change. Nothing
// sleeps in real time. Every call is recorded so that tests can check calls, flags and
// order; failures (ports that do not open, a port that vanishes) can be injected.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/sim/sim_clock.h"

namespace sfh56::sim {

// The receiver output's level over virtual time: its level at time 0 and the changes
// after that, in time order.
struct PinWaveform {
  struct Change {
    int64_t at_ns = 0;
    bool set = false;
  };
  bool initial_set = true;
  std::vector<Change> changes;

  bool LevelAt(int64_t ns) const;
  // The first change strictly after ns, if any.
  std::optional<Change> FirstChangeAfter(int64_t ns) const;
};

// Builds a waveform from a cursor moving forward in time. A mark (carrier seen) drives
// the line to its not-set level; a space and the idle state leave it set.
class WaveformBuilder {
 public:
  explicit WaveformBuilder(int64_t start_ns = 0, bool idle_set = true);

  // Changes the level at the cursor (no change is recorded when it is the same).
  WaveformBuilder& Level(bool set);
  // Moves the cursor forward, keeping the level.
  WaveformBuilder& Hold(int64_t us);
  // Idle level for the given time.
  WaveformBuilder& Pause(int64_t us);
  // Mark, space, mark, ... durations in microseconds, starting with a mark at the
  // cursor; the line returns to idle after the last one.
  WaveformBuilder& Durations(const std::vector<int64_t>& us);
  // count changes, one every period_us, then back to idle.
  WaveformBuilder& Noise(int64_t period_us, int count);
  // A line that toggles every period_us until the given virtual time and then stays.
  WaveformBuilder& ToggleUntil(int64_t period_us, int64_t until_ns);

  int64_t CursorNs() const { return cursor_ns_; }
  PinWaveform Build() const { return waveform_; }

 private:
  PinWaveform waveform_;
  int64_t cursor_ns_ = 0;
  bool idle_set_ = true;
  bool level_ = true;
};

enum class ModemLine { kCts, kDsr, kDcd };

class SimSerialPort;

struct SimPortConfig {
  ModemLine line = ModemLine::kDsr;
  PinWaveform waveform;
  // Virtual time one modem-status read takes.
  int64_t status_read_cost_ns = 1000;
  // From this virtual time on, the port is gone: status reads and new waits fail.
  std::optional<int64_t> vanish_at_ns;
  // The device control block the port reports before anything is written.
  platform::DeviceControlBlock initial_dcb{9600, 0x00001011u, 8, 0, 0};
  // The UART's I/O base, where ring-0 capture reads its modem-status register (base + 6);
  // 0: the port's registers are nowhere in the I/O space.
  uint16_t io_base = 0;
  // Virtual time one register read (an `in` instruction) takes.
  int64_t register_read_cost_ns = 1000;
};

enum class SerialCall {
  kOpen,
  kOpenFailed,
  kSetupQueues,
  kGetState,
  kSetState,
  kEscape,
  kSetEventMask,
  kCreateEventWait,
  kStartEventWait,
  kEventWaitCompleted,
  kGetModemStatus,
  kClose,
};

struct SerialCallRecord {
  SerialCall call = SerialCall::kOpen;
  std::string port;
  uint32_t arg1 = 0;  // queue sizes, DCB flag word, escape function, event mask
  uint32_t arg2 = 0;
  int64_t at_ns = 0;
  platform::DeviceControlBlock dcb{};  // kSetState
};

class SimSerialPorts : public platform::SerialPorts {
 public:
  explicit SimSerialPorts(SimClock& clock) : clock_(clock) {}

  void AddPort(const std::string& name, SimPortConfig config);

  // The record of calls. Status reads and event-wait calls are numerous; they are
  // recorded only when record_polling is set, and always counted.
  void SetRecordPolling(bool record) { record_polling_ = record; }
  std::vector<SerialCallRecord> Calls() const;
  std::vector<SerialCall> ConfigurationCalls() const;  // without the polling calls
  int64_t StatusReads() const;
  int OpenPorts() const;

  std::unique_ptr<platform::SerialPort> Open(const std::string& name) override;

  // A byte read from the I/O space, as the processor's `in` reads it: a UART's
  // modem-status register (io_base + 6) holds its line's bit (CTS 0x10, DSR 0x20,
  // DCD 0x80) while the line is set, which it is only while an open port powers the
  // receiver; any other address reads 0xFF (nothing answers). Each read costs the port's
  // register_read_cost_ns of virtual time (addresses of no port: 1 us).
  uint8_t ReadRegister(uint16_t address);
  int64_t RegisterReads() const;

  // Used by the ports.
  void Record(SerialCallRecord record, bool polling);
  SimClock& Clock() { return clock_; }
  void PortClosed(const std::string& name);

 private:
  SimClock& clock_;
  mutable std::mutex mutex_;
  // Shared with the ports opened from them: a long waveform is not copied per open.
  std::map<std::string, std::shared_ptr<const SimPortConfig>> ports_;
  std::vector<SerialCallRecord> calls_;
  bool record_polling_ = false;
  int64_t status_reads_ = 0;
  int64_t register_reads_ = 0;
  int open_ports_ = 0;
  std::map<std::string, SimSerialPort*> open_by_name_;
};

}  // namespace sfh56::sim

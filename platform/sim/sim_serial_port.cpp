#include "platform/sim/sim_serial_port.h"

#include <algorithm>
#include <utility>

namespace sfh56::sim {

namespace {

constexpr int64_t kNsPerUs = 1000;

uint32_t StatusBit(ModemLine line) {
  switch (line) {
    case ModemLine::kCts:
      return platform::kMsCtsOn;
    case ModemLine::kDsr:
      return platform::kMsDsrOn;
    case ModemLine::kDcd:
      return platform::kMsRlsdOn;
  }
  return 0;
}

uint32_t EventBit(ModemLine line) {
  switch (line) {
    case ModemLine::kCts:
      return platform::kEvCts;
    case ModemLine::kDsr:
      return platform::kEvDsr;
    case ModemLine::kDcd:
      return platform::kEvRlsd;
  }
  return 0;
}

}  // namespace

bool PinWaveform::LevelAt(int64_t ns) const {
  auto after = std::upper_bound(changes.begin(), changes.end(), ns,
                                [](int64_t t, const Change& c) { return t < c.at_ns; });
  return after == changes.begin() ? initial_set : std::prev(after)->set;
}

std::optional<PinWaveform::Change> PinWaveform::FirstChangeAfter(int64_t ns) const {
  auto after = std::upper_bound(changes.begin(), changes.end(), ns,
                                [](int64_t t, const Change& c) { return t < c.at_ns; });
  if (after == changes.end()) return std::nullopt;
  return *after;
}

WaveformBuilder::WaveformBuilder(int64_t start_ns, bool idle_set)
    : cursor_ns_(start_ns), idle_set_(idle_set), level_(idle_set) {
  waveform_.initial_set = idle_set;
}

WaveformBuilder& WaveformBuilder::Level(bool set) {
  if (set == level_) return *this;
  auto& changes = waveform_.changes;
  if (!changes.empty() && changes.back().at_ns == cursor_ns_) {
    // Two changes at one instant cancel out into the later level.
    changes.pop_back();
    const bool before = changes.empty() ? waveform_.initial_set : changes.back().set;
    if (before != set) changes.push_back({cursor_ns_, set});
  } else {
    changes.push_back({cursor_ns_, set});
  }
  level_ = set;
  return *this;
}

WaveformBuilder& WaveformBuilder::Hold(int64_t us) {
  cursor_ns_ += std::max<int64_t>(us, 0) * kNsPerUs;
  return *this;
}

WaveformBuilder& WaveformBuilder::Pause(int64_t us) {
  return Level(idle_set_).Hold(us);
}

WaveformBuilder& WaveformBuilder::Durations(const std::vector<int64_t>& us) {
  bool mark = true;
  for (int64_t d : us) {
    Level(mark ? !idle_set_ : idle_set_);
    Hold(d);
    mark = !mark;
  }
  return Level(idle_set_);
}

WaveformBuilder& WaveformBuilder::Noise(int64_t period_us, int count) {
  for (int i = 0; i < count; ++i) Level(!level_).Hold(period_us);
  return Level(idle_set_);
}

WaveformBuilder& WaveformBuilder::ToggleUntil(int64_t period_us, int64_t until_ns) {
  const int64_t step_ns = std::max<int64_t>(period_us, 1) * kNsPerUs;
  while (cursor_ns_ < until_ns) {
    Level(!level_);
    cursor_ns_ += step_ns;
  }
  return *this;
}

// One opened simulated port. Lives on the thread that opened it.
class SimSerialPort : public platform::SerialPort {
 public:
  SimSerialPort(SimSerialPorts& owner, std::string name,
                std::shared_ptr<const SimPortConfig> config)
      : owner_(owner),
        name_(std::move(name)),
        shared_config_(std::move(config)),
        config_(*shared_config_),
        event_(*this) {}

  ~SimSerialPort() override {
    Record(SerialCall::kClose);
    owner_.PortClosed(name_);
  }

  // The UART's modem-status register at virtual time ns.
  uint8_t ModemStatusRegister(int64_t ns) const {
    return LineSetAt(ns) ? static_cast<uint8_t>(StatusBit(config_.line)) : 0;
  }

  bool SetupQueues(uint32_t in_bytes, uint32_t out_bytes) override {
    Record(SerialCall::kSetupQueues, in_bytes, out_bytes);
    return !Vanished();
  }

  bool GetState(platform::DeviceControlBlock& dcb) override {
    Record(SerialCall::kGetState);
    if (Vanished()) return false;
    dcb = dcb_;
    return true;
  }

  bool SetState(const platform::DeviceControlBlock& dcb) override {
    SerialCallRecord record{SerialCall::kSetState, name_, dcb.flags, dcb.baud_rate, Now(), dcb};
    owner_.Record(record, false);
    if (Vanished()) return false;
    dcb_ = dcb;
    return true;
  }

  bool Escape(platform::EscapeFunction function) override {
    Record(SerialCall::kEscape, static_cast<uint32_t>(function));
    if (Vanished()) return false;
    if (function == platform::EscapeFunction::kSetRts) rts_ = true;
    if (function == platform::EscapeFunction::kSetDtr) dtr_ = true;
    if (rts_ && dtr_ && !powered_at_ns_) powered_at_ns_ = Now();
    return true;
  }

  bool SetEventMask(uint32_t mask) override {
    Record(SerialCall::kSetEventMask, mask);
    if (Vanished()) return false;
    event_mask_ = mask;
    history_from_ns_ = Now();
    return true;
  }

  void CreateEventWait() override {
    Record(SerialCall::kCreateEventWait);
    event_created_ = true;
    event_initially_set_ = true;
  }

  platform::Waitable& EventWaitObject() override { return event_; }

  void StartEventWait() override {
    const int64_t now = Now();
    Record(SerialCall::kStartEventWait, 0, 0, true);
    if (pending_ && (!completion_ns_ || *completion_ns_ > now)) {
      return;  // a wait is still pending: the new one fails and changes nothing
    }
    // WaitCommEvent resets the event before it starts.
    event_initially_set_ = false;
    if (pending_ && completion_ns_) history_from_ns_ = *completion_ns_;
    pending_ = false;
    completion_ns_.reset();
    if (Vanished()) return;  // fails at once; the event stays reset
    pending_ = true;
    const auto change = FirstMaskedChangeAfter(history_from_ns_);
    if (change) completion_ns_ = std::max(now, *change);
    if (config_.vanish_at_ns) {
      completion_ns_ = std::min(completion_ns_.value_or(*config_.vanish_at_ns),
                                std::max(now, *config_.vanish_at_ns));
    }
  }

  bool EventWaitCompleted() override {
    const int64_t now = Now();
    Record(SerialCall::kEventWaitCompleted, 0, 0, true);
    if (Vanished()) return false;  // completed with an error: no result
    if (!pending_) return true;
    return completion_ns_ && *completion_ns_ <= now;
  }

  bool GetModemStatus(uint32_t& status) override {
    owner_.Clock().Advance(config_.status_read_cost_ns);
    Record(SerialCall::kGetModemStatus, 0, 0, true);
    if (Vanished()) return false;
    status = LineSetAt(Now()) ? StatusBit(config_.line) : 0;
    return true;
  }

  // The comm-event wait's event: manual-reset, set when the pending wait completes.
  class EventObject : public VirtualWaitable {
   public:
    explicit EventObject(SimSerialPort& port) : port_(port) {}
    std::optional<int64_t> NextSignalNs(int64_t now_ns) override {
      return port_.NextSignalNs(now_ns);
    }

   private:
    SimSerialPort& port_;
  };

 private:
  int64_t Now() const { return owner_.Clock().NowNs(); }
  bool Vanished() const { return config_.vanish_at_ns && Now() >= *config_.vanish_at_ns; }

  void Record(SerialCall call, uint32_t arg1 = 0, uint32_t arg2 = 0, bool polling = false) {
    owner_.Record({call, name_, arg1, arg2, Now(), {}}, polling);
  }

  bool LineSetAt(int64_t ns) const {
    return powered_at_ns_ && ns >= *powered_at_ns_ && config_.waveform.LevelAt(ns);
  }

  // The first change of the line as read (power-up included) strictly after ns, when the
  // event mask covers the line.
  std::optional<int64_t> FirstMaskedChangeAfter(int64_t ns) const {
    if ((event_mask_ & EventBit(config_.line)) == 0 || !powered_at_ns_) return std::nullopt;
    const int64_t power = *powered_at_ns_;
    if (ns < power && config_.waveform.LevelAt(power)) return power;
    const auto change = config_.waveform.FirstChangeAfter(std::max(ns, power));
    if (!change) return std::nullopt;
    return change->at_ns;
  }

  std::optional<int64_t> NextSignalNs(int64_t now_ns) const {
    if (!event_created_) return std::nullopt;
    if (event_initially_set_) return now_ns;
    if (!pending_ || !completion_ns_) return std::nullopt;
    return std::max(now_ns, *completion_ns_);
  }

  SimSerialPorts& owner_;
  std::string name_;
  std::shared_ptr<const SimPortConfig> shared_config_;
  const SimPortConfig& config_;
  EventObject event_;
  platform::DeviceControlBlock dcb_ = config_.initial_dcb;
  bool rts_ = false;
  bool dtr_ = false;
  std::optional<int64_t> powered_at_ns_;
  uint32_t event_mask_ = 0;
  int64_t history_from_ns_ = 0;
  bool event_created_ = false;
  bool event_initially_set_ = false;
  bool pending_ = false;
  std::optional<int64_t> completion_ns_;
};

void SimSerialPorts::AddPort(const std::string& name, SimPortConfig config) {
  std::lock_guard lock(mutex_);
  ports_[name] = std::make_shared<const SimPortConfig>(std::move(config));
}

std::vector<SerialCallRecord> SimSerialPorts::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<SerialCall> SimSerialPorts::ConfigurationCalls() const {
  std::lock_guard lock(mutex_);
  std::vector<SerialCall> result;
  for (const auto& c : calls_) {
    if (c.call != SerialCall::kGetModemStatus && c.call != SerialCall::kStartEventWait &&
        c.call != SerialCall::kEventWaitCompleted) {
      result.push_back(c.call);
    }
  }
  return result;
}

int64_t SimSerialPorts::StatusReads() const {
  std::lock_guard lock(mutex_);
  return status_reads_;
}

int SimSerialPorts::OpenPorts() const {
  std::lock_guard lock(mutex_);
  return open_ports_;
}

std::unique_ptr<platform::SerialPort> SimSerialPorts::Open(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = ports_.find(name);
  if (it == ports_.end()) {
    calls_.push_back({SerialCall::kOpenFailed, name, 0, 0, clock_.NowNs(), {}});
    return nullptr;
  }
  calls_.push_back({SerialCall::kOpen, name, 0, 0, clock_.NowNs(), {}});
  ++open_ports_;
  auto port = std::make_unique<SimSerialPort>(*this, name, it->second);
  open_by_name_[name] = port.get();
  return port;
}

uint8_t SimSerialPorts::ReadRegister(uint16_t address) {
  int64_t cost_ns = 1000;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [name, config] : ports_) {
      if (config->io_base != 0 && config->io_base + 6 == address)
        cost_ns = config->register_read_cost_ns;
    }
  }
  // The clock may stop at a test's pause point: not while holding the lock.
  clock_.Advance(cost_ns);
  std::lock_guard lock(mutex_);
  ++register_reads_;
  for (const auto& [name, config] : ports_) {
    if (config->io_base == 0 || config->io_base + 6 != address) continue;
    const auto open = open_by_name_.find(name);
    return open == open_by_name_.end() ? 0 : open->second->ModemStatusRegister(clock_.NowNs());
  }
  return 0xFF;
}

int64_t SimSerialPorts::RegisterReads() const {
  std::lock_guard lock(mutex_);
  return register_reads_;
}

void SimSerialPorts::Record(SerialCallRecord record, bool polling) {
  std::lock_guard lock(mutex_);
  if (record.call == SerialCall::kGetModemStatus) ++status_reads_;
  if (!polling || record_polling_) calls_.push_back(std::move(record));
}

void SimSerialPorts::PortClosed(const std::string& name) {
  std::lock_guard lock(mutex_);
  --open_ports_;
  open_by_name_.erase(name);
}

}  // namespace sfh56::sim

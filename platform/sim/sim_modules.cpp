#include "platform/sim/sim_modules.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>

#include "receiver/usb_capture.h"

namespace sfh56::sim {

class SimModules::SimModule : public platform::Module {
 public:
  SimModule(SimModules& owner, std::string name, Exports exports)
      : owner_(owner), name_(std::move(name)), exports_(std::move(exports)) {}
  ~SimModule() override { owner_.Released(name_); }

  void* Resolve(const std::string& name) override {
    auto it = exports_.find(name);
    return it == exports_.end() ? nullptr : it->second;
  }

 private:
  SimModules& owner_;
  std::string name_;
  Exports exports_;
};

void SimModules::AddLibrary(const std::string& name, Exports exports,
                            std::function<bool()> present) {
  std::lock_guard lock(mutex_);
  libraries_[name] = {std::move(exports), std::move(present)};
}

namespace {
std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}
}  // namespace

void SimModules::AddResource(const std::string& name, std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  resources_[UpperCase(name)] = std::move(bytes);
}

std::optional<std::vector<uint8_t>> SimModules::OwnResource(const std::string& name) {
  std::lock_guard lock(mutex_);
  const auto it = resources_.find(UpperCase(name));
  if (it == resources_.end()) return std::nullopt;
  return it->second;
}

void SimModules::RemoveLibrary(const std::string& name) {
  std::lock_guard lock(mutex_);
  libraries_.erase(name);
}

int SimModules::LoadAttempts(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = attempts_.find(name);
  return it == attempts_.end() ? 0 : it->second;
}

int SimModules::LoadedNow(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = loaded_.find(name);
  return it == loaded_.end() ? 0 : it->second;
}

std::unique_ptr<platform::Module> SimModules::Load(const std::string& name) {
  std::lock_guard lock(mutex_);
  ++attempts_[name];
  auto it = libraries_.find(name);
  if (it == libraries_.end()) return nullptr;
  if (it->second.present && !it->second.present()) return nullptr;
  ++loaded_[name];
  return std::make_unique<SimModule>(*this, name, it->second.exports);
}

void SimModules::Released(const std::string& name) {
  std::lock_guard lock(mutex_);
  --loaded_[name];
}

namespace {
std::atomic<SimUsbReceiver*> g_active_receiver{nullptr};

SimUsbReceiver& Active() {
  SimUsbReceiver* receiver = g_active_receiver.load();
  assert(receiver != nullptr);
  return *receiver;
}
}  // namespace

SimUsbReceiver::SimUsbReceiver() {
  SimUsbReceiver* expected = nullptr;
  [[maybe_unused]] const bool first = g_active_receiver.compare_exchange_strong(expected, this);
  assert(first && "one SimUsbReceiver at a time");
}

SimUsbReceiver::~SimUsbReceiver() {
  SimUsbReceiver* expected = this;
  g_active_receiver.compare_exchange_strong(expected, nullptr);
}

SimModules::Exports SimUsbReceiver::Exports(const std::string& without_entry) const {
  // The casts to the capture's own function types make a signature mismatch a compile
  // error here rather than a wrong call at run time.
  SimModules::Exports exports{
      {kDoGetInfraCode, reinterpret_cast<void*>(static_cast<UsbGetInfraCodeFn>(&GetInfraCode))},
      {kDoSetDataPortDirection,
       reinterpret_cast<void*>(static_cast<UsbSetPortByteFn>(&SetDataPortDirection))},
      {kDoGetDataPortDirection,
       reinterpret_cast<void*>(static_cast<UsbGetPortByteFn>(&GetDataPortDirection))},
      {kDoSetOutDataPort, reinterpret_cast<void*>(static_cast<UsbSetPortByteFn>(&SetOutDataPort))},
      {kDoGetOutDataPort, reinterpret_cast<void*>(static_cast<UsbGetPortByteFn>(&GetOutDataPort))},
  };
  exports.erase(without_entry);
  return exports;
}

void SimUsbReceiver::SetPort(uint8_t out, uint8_t direction) {
  std::lock_guard lock(mutex_);
  out_ = out;
  direction_ = direction;
}

void SimUsbReceiver::QueueTrain(std::vector<uint8_t> durations) {
  const auto count = static_cast<int32_t>(durations.size());
  QueueRaw(0, count, std::move(durations));
}

void SimUsbReceiver::QueueSilence(int polls) {
  for (int i = 0; i < polls; ++i) QueueRaw(1, 0, {});
}

void SimUsbReceiver::QueueRaw(int32_t result, int32_t count, std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  queue_.push_back({result, count, std::move(bytes)});
}

int SimUsbReceiver::Polls() const {
  std::lock_guard lock(mutex_);
  return polls_;
}

bool SimUsbReceiver::Drained() const {
  std::lock_guard lock(mutex_);
  return next_ >= queue_.size();
}

int32_t SimUsbReceiver::LastCapacity() const {
  std::lock_guard lock(mutex_);
  return last_capacity_;
}

std::vector<SimUsbReceiver::PortWrite> SimUsbReceiver::Writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

uint8_t SimUsbReceiver::Out() const {
  std::lock_guard lock(mutex_);
  return out_;
}

uint8_t SimUsbReceiver::Direction() const {
  std::lock_guard lock(mutex_);
  return direction_;
}

int32_t SimUsbReceiver::GetInfraCode(uint8_t* buffer, int32_t capacity, int32_t* count) {
  SimUsbReceiver& self = Active();
  std::lock_guard lock(self.mutex_);
  ++self.polls_;
  self.last_capacity_ = capacity;
  if (self.next_ >= self.queue_.size()) {
    *count = 0;
    return 1;
  }
  const Answer& answer = self.queue_[self.next_++];
  const size_t written =
      std::min(answer.bytes.size(), static_cast<size_t>(std::max<int32_t>(capacity, 0)));
  if (written > 0) std::memcpy(buffer, answer.bytes.data(), written);
  *count = answer.count;
  return answer.result;
}

int32_t SimUsbReceiver::SetDataPortDirection(uint8_t value) {
  SimUsbReceiver& self = Active();
  std::lock_guard lock(self.mutex_);
  self.direction_ = value;
  self.writes_.push_back({PortWrite::kDirection, value, self.polls_});
  return 0;
}

int32_t SimUsbReceiver::GetDataPortDirection(uint8_t* value) {
  SimUsbReceiver& self = Active();
  std::lock_guard lock(self.mutex_);
  *value = self.direction_;
  return 0;
}

int32_t SimUsbReceiver::SetOutDataPort(uint8_t value) {
  SimUsbReceiver& self = Active();
  std::lock_guard lock(self.mutex_);
  self.out_ = value;
  self.writes_.push_back({PortWrite::kOut, value, self.polls_});
  return 0;
}

int32_t SimUsbReceiver::GetOutDataPort(uint8_t* value) {
  SimUsbReceiver& self = Active();
  std::lock_guard lock(self.mutex_);
  *value = self.out_;
  return 0;
}

}  // namespace sfh56::sim

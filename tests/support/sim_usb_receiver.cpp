#include "tests/support/sim_usb_receiver.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>

#include "receiver/usb_capture.h"

namespace sfh56::sim {

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

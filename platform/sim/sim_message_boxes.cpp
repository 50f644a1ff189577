#include "platform/sim/sim_message_boxes.h"

namespace sfh56::sim {

void SimMessageBoxes::QueueAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

std::vector<SimMessageBoxes::Shown> SimMessageBoxes::ShownBoxes() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

int SimMessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  std::lock_guard lock(mutex_);
  shown_.push_back({text, caption, flags});
  if (!answers_.empty()) {
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  return (flags & 0xF) == platform::kMbRetryCancel ? platform::kIdCancel : platform::kIdOk;
}

}  // namespace sfh56::sim

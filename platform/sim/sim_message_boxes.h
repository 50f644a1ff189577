#pragma once
// Message boxes for tests: every box is recorded, and answered from a script.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace sfh56::sim {

class SimMessageBoxes : public platform::MessageBoxes {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    uint32_t flags = 0;
  };

  // Answers given in order; once they run out every box is answered with its default
  // button (IDOK, or IDCANCEL for a Retry/Cancel box).
  void QueueAnswer(int answer);
  std::vector<Shown> ShownBoxes() const;

  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;

 private:
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::vector<Shown> shown_;
};

}  // namespace sfh56::sim

#pragma once
// The hardware-access library as a script, for native tests: its four entry points are
// plain functions that answer as the test decides and note every call. GetActiveHW gives
// the queued answers in turn (0 once they are used up); OpenTVicHW32 hands out handles
// 101, 102, ...; CloseTVicHW32 answers 0; RunRing0Function calls the routine directly
// (natively nothing is privileged) and notes whether the library was still open.
//
// The entry points reach the script through one process-wide pointer: at most one
// ScriptedDriverLibrary may exist at a time.

#include <atomic>
#include <cassert>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "hwaccess/driver_entry_points.h"
#include "platform/sim/sim_modules.h"

namespace sfh56::test_doubles {

class ScriptedDriverLibrary {
 public:
  // context() is appended to every noted call, for example how many installs preceded it.
  explicit ScriptedDriverLibrary(std::function<std::string()> context = nullptr)
      : context_(std::move(context)) {
    assert(active_ == nullptr && "one ScriptedDriverLibrary at a time");
    active_ = this;
  }
  ~ScriptedDriverLibrary() { active_ = nullptr; }
  ScriptedDriverLibrary(const ScriptedDriverLibrary&) = delete;
  ScriptedDriverLibrary& operator=(const ScriptedDriverLibrary&) = delete;

  // The entry points, without_entry left out.
  sim::SimModules::Exports Exports(const std::string& without_entry = "") const {
    sim::SimModules::Exports exports{
        {kOpenTVicHW32, reinterpret_cast<void*>(static_cast<OpenTVicHW32Function>(&Open))},
        {kCloseTVicHW32, reinterpret_cast<void*>(static_cast<CloseTVicHW32Function>(&Close))},
        {kGetActiveHW, reinterpret_cast<void*>(static_cast<GetActiveHWFunction>(&Active))},
        {kRunRing0Function,
         reinterpret_cast<void*>(static_cast<RunRing0FunctionFunction>(&RunRing0))},
    };
    exports.erase(without_entry);
    return exports;
  }

  void AnswerActive(std::vector<uint32_t> answers) {
    std::lock_guard lock(mutex_);
    active_answers_.assign(answers.begin(), answers.end());
  }
  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  static ScriptedDriverLibrary& Self() {
    assert(active_ != nullptr);
    return *active_;
  }
  void Note(std::string call) {
    if (context_) call += " " + context_();
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  static uint32_t SFH_DRIVER_CALL Open(uint32_t handle, const char* service, const char* device) {
    ScriptedDriverLibrary& self = Self();
    const uint32_t opened = ++self.handles_;
    self.open_ = true;
    self.Note("open(" + std::to_string(handle) + "," + service + "," + device +
              ")=" + std::to_string(opened));
    return opened;
  }
  static uint32_t SFH_DRIVER_CALL Active(uint32_t handle) {
    ScriptedDriverLibrary& self = Self();
    uint32_t answer = 0;
    {
      std::lock_guard lock(self.mutex_);
      if (!self.active_answers_.empty()) {
        answer = self.active_answers_.front();
        self.active_answers_.pop_front();
      }
    }
    self.Note("active(" + std::to_string(handle) + ")=" + std::to_string(answer));
    return answer;
  }
  static uint32_t SFH_DRIVER_CALL Close(uint32_t handle) {
    ScriptedDriverLibrary& self = Self();
    self.open_ = false;
    self.Note("close(" + std::to_string(handle) + ")");
    return 0;
  }
  static int32_t SFH_DRIVER_CALL RunRing0(uint32_t handle, Ring0Routine routine, void* argument) {
    ScriptedDriverLibrary& self = Self();
    const int32_t result = routine(argument);
    self.Note("ring0(" + std::to_string(handle) + ")=" + std::to_string(result) +
              (self.open_ ? "" : " while closed"));
    return result;
  }

  static inline ScriptedDriverLibrary* active_ = nullptr;
  std::function<std::string()> context_;
  mutable std::mutex mutex_;
  std::deque<uint32_t> active_answers_;
  std::vector<std::string> calls_;
  uint32_t handles_ = 100;
  std::atomic<bool> open_{false};
};

}  // namespace sfh56::test_doubles

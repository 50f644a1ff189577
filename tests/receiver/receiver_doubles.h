#pragma once
// Test doubles of the host side and of capture runs, for tests of the receiver thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "receiver/capture_run.h"
#include "receiver/comm_thread.h"
#include "receiver/host_services.h"

namespace sfh56::test_doubles {

// Polls done, in real time, every step until it holds or tries run out: for what another
// thread brings about a moment later. The caller checks the outcome itself.
template <typename Done>
void WaitUntil(Done done, int tries = 5000,
               std::chrono::milliseconds step = std::chrono::milliseconds(1)) {
  for (int i = 0; i < tries && !done(); ++i) std::this_thread::sleep_for(step);
}

// A one-shot gate: Open() lets every Wait() through, now and later.
class Gate {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return open_; });
  }
  bool IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

class FakeHost : public HostServices {
 public:
  bool PluginOpen() const override { return true; }
  void DeliverCode(const std::string& code) override {
    {
      std::lock_guard lock(mutex_);
      codes_.push_back(code);
    }
    delivering_.Open();
    if (block_delivery) release_delivery.Wait();
  }
  std::string TranslateText(const std::string& text) override { return text; }
  platform::RootKey SettingsRootKey() const override { return root; }

  std::vector<std::string> Codes() const {
    std::lock_guard lock(mutex_);
    return codes_;
  }
  // Blocks until DeliverCode has been entered.
  void WaitUntilDelivering() { delivering_.Wait(); }

  platform::RootKey root = platform::RootKey::kCurrentUser;
  bool block_delivery = false;  // set before the receiver starts
  Gate release_delivery;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> codes_;
  Gate delivering_;
};

// What the scripted capture saw at each of its runs.
struct CaptureLog {
  struct Entry {
    std::string com_name;
    uint8_t priority_level = 0;
    int thread_priority = 0;
    uint32_t process_class = 0;
    bool keep_interrupts_on = false;
  };
  std::mutex mutex;
  std::vector<Entry> runs;

  std::vector<Entry> Runs() {
    std::lock_guard lock(mutex);
    return runs;
  }
};

// A capture run whose behaviour a test chooses.
class ScriptedCapture : public CaptureRun {
 public:
  enum class Mode {
    kServe,              // opens, acknowledges running, serves requests
    kFailOpen,           // cannot open: acknowledges not running, returns
    kDeliverThenServe,   // opens, acknowledges, delivers one code, then serves requests
    kHangUntilReleased,  // never acknowledges; returns when the test releases it
    kDeliverOnRequest,   // opens, acknowledges; hands a code to the host on taking a stop
                         // or the terminate request, before answering it, as a capture
                         // does that finishes a train just then
  };

  // receiver: the object the run belongs to, for what capture runs do not see (the
  // ring-0 interrupt switch, a code delivered without a train).
  ScriptedCapture(std::shared_ptr<CaptureLog> log, Mode mode, TCommThread& receiver,
                  platform::Scheduler& scheduler)
      : log_(std::move(log)), mode_(mode), receiver_(receiver), scheduler_(scheduler) {}

  void Run(const CaptureSeams& seams) override {
    {
      std::lock_guard lock(log_->mutex);
      log_->runs.push_back({seams.settings.ComName, seams.settings.PriorityLevel,
                            scheduler_.GetCurrentThreadPriority(),
                            scheduler_.GetProcessPriorityClass(), receiver_.KeepInterruptsOn()});
    }
    switch (mode_) {
      case Mode::kFailOpen:
        seams.control.Acknowledge(false);
        return;
      case Mode::kHangUntilReleased:
        release.Wait();
        return;
      case Mode::kDeliverThenServe:
        seams.control.Acknowledge(true);
        receiver_.Deliver("1A2B");
        break;
      case Mode::kServe:
      case Mode::kDeliverOnRequest:
        seams.control.Acknowledge(true);
        break;
    }
    for (;;) {
      const Wake wake = seams.control.Wait(platform::kWaitInfinite);
      if (mode_ == Mode::kDeliverOnRequest && (wake == Wake::kStop || wake == Wake::kTerminate)) {
        // Late enough for the host to be in its wait by now.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        receiver_.Deliver("1A2B");
      }
      if (AnswerRequest(seams.control, wake) != RequestAnswer::kGoOn) return;
    }
  }

  Gate release;

 private:
  std::shared_ptr<CaptureLog> log_;
  Mode mode_;
  TCommThread& receiver_;
  platform::Scheduler& scheduler_;
};

}  // namespace sfh56::test_doubles

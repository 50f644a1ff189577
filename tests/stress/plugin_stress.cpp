// Stress of the entry points: the real Plugin and the real receiver thread objects on the
// simulated platform, driven from several host threads at once through open, start,
// stop, power-resume, configure and close calls of both host generations, while each
// receiver delivers recorded trains, some of whose deliveries block: in a slow host, or
// until the host's window thread (the first host thread, which owns the window a level-0
// code is sent to) serves them between its own calls.
//
// Every receiver call made on the plugin's behalf is logged in the order it took effect;
// a model of the plugin replays that log and checks each result, and at the end of each
// cycle the receiver's state. Every train a receiver decodes must reach the host exactly
// once with the code the decoder gives it; no call may run into a handshake time limit,
// and every receiver must be ended and destroyed by the end of its plugin.
//
//   plugin-stress [--sessions N] [--cycles N] [--threads N] [--calls N] [--seed N]
//
// Prints the figures of the run; exit status 1 on the first violated expectation.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/identity.h"
#include "config/config_box.h"
#include "config/configuration_cycle.h"
#include "decode/decoder.h"
#include "host/comm_thread_receiver.h"
#include "host/plugin.h"
#include "platform/sim/sim_platform.h"
#include "receiver/capture_run.h"
#include "receiver/capture_seams.h"
#include "receiver/comm_thread.h"

namespace sfh56::stress {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int sessions = 4;
  int cycles = 12;  // per session
  int threads = 3;
  int calls = 12;  // per host thread and cycle
  uint64_t seed = 1;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "plugin-stress: FAILED: %s\n", what.c_str());
  std::exit(1);
}

void Expect(bool condition, const std::string& what) {
  if (!condition) Fail(what);
}

// --- Recorded trains ----------------------------------------------------------------------

struct RecordedTrain {
  PulseTrain train;
  std::string code;
};

// The first train of each recording (durations up to its first long gap), as the serial
// receiver captures it at 1 MHz; only trains the decoder turns into a full code.
std::vector<RecordedTrain> LoadTrains(const std::string& path) {
  std::ifstream in(path);
  std::vector<RecordedTrain> trains;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream durations(line.substr(line.rfind('\t') + 1));
    RecordedTrain recorded;
    PulseTrain& train = recorded.train;
    train.TicksPerSecond = 1e6;
    int64_t t = 1000;
    int n = 0;
    int64_t us = 0;
    bool mark = true;
    while (durations >> us && n < kEdgeCapacity && us < 30000) {
      train.Edges[n++] = {mark ? 0u : 0x20u, t};
      t += us;
      mark = !mark;
    }
    if (n < kEdgeCapacity) train.Edges[n++] = {0x20u, t};
    train.LastEdgeIndex = n - 1;
    DecoderState state;
    const DecodeResult result = Decoder::Decode(train, 16, state);
    if (!result.deliver || !result.full_decode || result.code.empty()) continue;
    recorded.code = std::string(result.code);
    trains.push_back(std::move(recorded));
  }
  return trains;
}

// --- What the harness records ---------------------------------------------------------------

enum class Call { kCreate, kStart, kStop, kTerminate, kRunning };

const char* CallName(Call call) {
  switch (call) {
    case Call::kCreate:
      return "create";
    case Call::kStart:
      return "Start";
    case Call::kStop:
      return "Stop";
    case Call::kTerminate:
      return "TerminateAndWait";
    default:
      return "Running";
  }
}

// One receiver call, in the order the calls took effect.
struct ReceiverEvent {
  uint64_t seq = 0;
  Call call = Call::kCreate;
  int receiver = 0;
  bool result = false;
  bool delivery_overlapped = false;  // the receiver was handing a code to the host
  std::string op;                    // the host call it was made for
};

// Everything one receiver did, seen from its capture and from the host.
struct ReceiverLog {
  std::atomic<int> delivering{0};
  std::atomic<uint64_t> deliveries_begun{0};
  std::atomic<bool> destroyed{false};
  std::mutex mutex;
  std::vector<size_t> decoded;        // indices of the trains it decoded, in order
  std::vector<std::string> received;  // the codes the host got from it, in order
};

struct Figures {
  std::atomic<uint64_t> cycles{0};
  std::atomic<uint64_t> calls{0};
  std::atomic<int64_t> longest_call_us{0};
  std::string longest_call;
  std::mutex longest_mutex;
  uint64_t decoded = 0;
  uint64_t delivered = 0;
  uint64_t lost = 0;
  uint64_t duplicated = 0;
  std::atomic<uint64_t> window_deliveries{0};
  std::atomic<uint64_t> slow_deliveries{0};
  uint64_t retired = 0;
};

class Harness;
Harness* g_harness = nullptr;
thread_local int t_receiver = -1;          // the receiver whose thread this is
thread_local std::string* t_op = nullptr;  // the host call this thread is making

// --- The host's window: deliveries sent to it wait until its thread serves them ---------

class Window {
 public:
  // On a receiver thread: waits until the window thread has served the message.
  void Send() {
    std::unique_lock lock(mutex_);
    const uint64_t ticket = ++posted_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return served_ >= ticket; });
  }
  // On the window thread, between its calls.
  void Pump() {
    std::lock_guard lock(mutex_);
    served_ = posted_;
    changed_.notify_all();
  }
  // On the window thread while it has nothing else to do: serves what comes until done.
  template <typename Done>
  void PumpUntil(Done done) {
    std::unique_lock lock(mutex_);
    while (!done()) {
      served_ = posted_;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::milliseconds(1));
    }
    served_ = posted_;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t posted_ = 0;
  uint64_t served_ = 0;
};

// --- The capture: recorded trains, one after another, while the run is on ---------------

class TrainCapture : public CaptureRun {
 public:
  TrainCapture(Harness& harness, int receiver) : harness_(harness), receiver_(receiver) {}
  void Run(const CaptureSeams& seams) override;

 private:
  Harness& harness_;
  int receiver_;
};

// --- The receiver object as the plugin sees it, with every call logged ---------------------

class LoggedReceiver final : public ReceiverControl {
 public:
  LoggedReceiver(Harness& harness, int id, platform::Platform& platform, HostServices& host);
  ~LoggedReceiver() override;
  bool Start() override;
  bool Stop() override;
  bool TerminateAndWait() override;
  bool Running() const override;
  bool Ended() const override { return inner_.Ended(); }
  ConfigurationOutcome RunConfiguration(ConfigBox& box) override;
  TCommThread& Thread() { return inner_.Thread(); }

 private:
  template <typename Body>
  bool Logged(Call call, Body body) const;

  Harness& harness_;
  const int id_;
  mutable CommThreadReceiver inner_;
};

// --- The harness ------------------------------------------------------------------------------

class Harness {
 public:
  Harness(const Options& options, std::vector<RecordedTrain> trains)
      : options_(options), trains_(std::move(trains)) {}

  void Run();
  void Report() const;

  // Receiver side.
  bool Quiet() const { return quiet_.load(); }
  const RecordedTrain& NextTrain(size_t& index) {
    std::lock_guard lock(mutex_);
    index = train_rng_() % trains_.size();
    return trains_[index];
  }
  void Decoded(int receiver, size_t index) {
    ReceiverLog& log = Log(receiver);
    std::lock_guard lock(log.mutex);
    log.decoded.push_back(index);
  }
  void NotDecoded(int receiver) {
    ReceiverLog& log = Log(receiver);
    std::lock_guard lock(log.mutex);
    log.decoded.pop_back();
  }
  void Delivered(const std::string& code);
  ReceiverLog& Log(int receiver) {
    std::lock_guard lock(mutex_);
    return *logs_.at(static_cast<size_t>(receiver));
  }

  // Receiver calls.
  uint64_t NextSeq() { return ++seq_; }
  void Record(ReceiverEvent event) {
    event.op = t_op != nullptr ? *t_op : "plugin end";
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  int NewReceiver() {
    std::lock_guard lock(mutex_);
    logs_.push_back(std::make_unique<ReceiverLog>());
    return static_cast<int>(logs_.size()) - 1;
  }
  void Destroyed(int receiver) { Log(receiver).destroyed = true; }
  LoggedReceiver* Current() {
    std::lock_guard lock(mutex_);
    return current_;
  }
  void SetCurrent(LoggedReceiver* receiver) {
    std::lock_guard lock(mutex_);
    current_ = receiver;
  }

  Figures figures;

 private:
  struct HostThread {
    int index = 0;
    std::mt19937_64 rng;
  };

  void Session(int session);
  void Cycle(Plugin& plugin, bool newer, int cycle);
  void HostCalls(Plugin& plugin, bool newer, HostThread& thread);
  void OneCall(Plugin& plugin, bool newer, HostThread& thread);
  void Timed(const std::string& name, const std::function<void()>& call);
  void Settle();
  void CheckEvents();
  void CheckDeliveries();

  const Options options_;
  const std::vector<RecordedTrain> trains_;
  std::mutex mutex_;
  std::mt19937_64 train_rng_{7};
  std::vector<std::unique_ptr<ReceiverLog>> logs_;
  std::vector<ReceiverEvent> events_;
  LoggedReceiver* current_ = nullptr;
  std::atomic<uint64_t> seq_{0};
  std::atomic<bool> quiet_{false};
  std::atomic<int> calling_threads_{0};

  // The model of the plugin, advanced by the logged receiver calls in their order.
  struct Model {
    bool open = false;
    int receiver = -1;
    bool requested = false;  // capture running, as the host last asked for it
    bool pending = false;    // a request returned before the receiver had served it
  } model_;
  size_t checked_events_ = 0;

 public:
  Window window;
  std::unique_ptr<sim::SimPlatform> sim;
};

// --- Capture and receiver calls ---------------------------------------------------------------

void TrainCapture::Run(const CaptureSeams& seams) {
  t_receiver = receiver_;
  seams.control.Acknowledge(true);
  seams.trains.StartCapture(CapturePath::kUsb);  // every train is complete
  thread_local std::mt19937 pace(static_cast<unsigned>(receiver_));
  for (;;) {
    const RequestAnswer answer = AnswerRequest(seams.control, seams.control.Wait(0));
    if (answer == RequestAnswer::kEndRun) return;
    if (answer == RequestAnswer::kGoOn) continue;
    std::this_thread::sleep_for(std::chrono::microseconds(20 + pace() % 200));
    if (harness_.Quiet()) continue;
    size_t index = 0;
    const RecordedTrain& recorded = harness_.NextTrain(index);
    seams.trains.Train() = recorded.train;
    harness_.Decoded(receiver_, index);
    if (seams.trains.FinishTrain() == TrainAction::kEndThread) {
      // The host closed: the train is not decoded and the thread ends itself.
      harness_.NotDecoded(receiver_);
      seams.control.SetTerminated();
      return;
    }
  }
}

LoggedReceiver::LoggedReceiver(Harness& harness, int id, platform::Platform& platform,
                               HostServices& host)
    : harness_(harness), id_(id), inner_(platform, host) {
  inner_.Thread().SetSerialCapture(std::make_unique<TrainCapture>(harness, id));
}

LoggedReceiver::~LoggedReceiver() {
  if (harness_.Current() == this) harness_.SetCurrent(nullptr);
  harness_.Destroyed(id_);  // the inner object ends the thread first, should it still run
}

template <typename Body>
bool LoggedReceiver::Logged(Call call, Body body) const {
  ReceiverLog& log = harness_.Log(id_);
  const uint64_t begun = log.deliveries_begun.load();
  const bool delivering = inner_.Thread().Delivering() || log.delivering.load() > 0;
  const bool result = body();
  ReceiverEvent event;
  event.seq = harness_.NextSeq();
  event.call = call;
  event.receiver = id_;
  event.result = result;
  event.delivery_overlapped = delivering || inner_.Thread().Delivering() ||
                              log.delivering.load() > 0 || log.deliveries_begun.load() != begun;
  harness_.Record(std::move(event));
  return result;
}

bool LoggedReceiver::Start() {
  return Logged(Call::kStart, [&] { return inner_.Start(); });
}
bool LoggedReceiver::Stop() {
  return Logged(Call::kStop, [&] { return inner_.Stop(); });
}
bool LoggedReceiver::TerminateAndWait() {
  return Logged(Call::kTerminate, [&] { return inner_.TerminateAndWait(); });
}
bool LoggedReceiver::Running() const {
  return Logged(Call::kRunning, [&] { return inner_.Running(); });
}

// The real configuration cycle, its running state, stop and start going through the log.
ConfigurationOutcome LoggedReceiver::RunConfiguration(ConfigBox& box) {
  class LoggedCycle final : public ConfigurableReceiver {
   public:
    explicit LoggedCycle(LoggedReceiver& receiver)
        : logged_(receiver), thread_(receiver.Thread()) {}
    bool Running() const override { return logged_.Running(); }
    bool StartPending() const override { return thread_.StartPending(); }
    bool Delivering() const override { return thread_.Delivering(); }
    bool Stop() override { return logged_.Stop(); }
    bool Start() override { return logged_.Start(); }
    void LoadSettings() override { thread_.LoadSettings(); }
    void SaveSettings() override { thread_.SaveSettings(); }
    ReceiverSettings& Settings() override { return thread_.Settings(); }
    bool Ring0Possible() const override { return thread_.Ring0Possible(); }
    std::string TranslateText(const std::string& text) override {
      return thread_.TranslateText(text);
    }
    void SleepMs(uint32_t ms) override { thread_.SleepMs(ms); }

   private:
    LoggedReceiver& logged_;
    TCommThread& thread_;
  } cycle(*this);
  return sfh56::RunConfiguration(cycle, box);
}

// The user confirms the dialog at once, as it showed the stored settings.
class ConfirmingBox final : public ConfigBox {
 public:
  int ShowModal(const ConfigBoxTexts&, ConfigBoxValues&) override { return kModalResultOk; }
};

// --- The host's functions -------------------------------------------------------------------

void Harness::Delivered(const std::string& code) {
  const int receiver = t_receiver;
  Expect(receiver >= 0, "a code arrived from outside a receiver thread");
  ReceiverLog& log = Log(receiver);
  ++log.delivering;
  ++log.deliveries_begun;
  {
    std::lock_guard lock(log.mutex);
    log.received.push_back(code);
  }
  thread_local std::mt19937 rng(static_cast<unsigned>(receiver) * 7919u);
  const unsigned roll = rng() % 100;
  if (roll < 6) {
    ++figures.window_deliveries;
    window.Send();  // a message to the host's window
  } else if (roll < 10) {
    ++figures.slow_deliveries;
    std::this_thread::sleep_for(std::chrono::microseconds(500 + rng() % 2500));  // a slow host
  }
  --log.delivering;
}

int32_t SFH_HOST_CALL HostEvent(const char* code, const char* payload, int32_t reserved,
                                int32_t device) {
  Expect(payload != nullptr && payload[0] == '\0' && reserved == 0 && device == 207,
         "the event function's arguments");
  g_harness->Delivered(code);
  return 0;
}

int32_t SFH_HOST_CALL HostTranslate(const char*, char* buffer, int32_t size) {
  Expect(size == kTranslationBufferChars, "the translation buffer's size");
  std::strcpy(buffer, "translated");
  return 1;
}

// The older host's window: level-0 codes arrive by WM_COPYDATA.
class HostWindowIpc : public platform::HostIpc {
 public:
  static constexpr platform::WindowHandle kWindow = 0x4242;
  bool OpenMapping(const std::string&) override { return false; }
  bool OpenSemaphore(const std::string&) override { return false; }
  char* MapView() override { return nullptr; }
  size_t ViewSize() override { return 0; }
  void CloseHandles() override {}
  bool WaitSemaphore(uint32_t) override { return false; }
  intptr_t SendMessage(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) override {
    Fail("a level-0 host got a shared-memory message");
  }
  void SendCopyData(platform::WindowHandle window, uintptr_t wparam, uintptr_t dw_data,
                    const void* data, uint32_t size) override {
    const char* text = static_cast<const char*>(data);
    Expect(window == kWindow && wparam == 7 && dw_data == 0 && size >= 1 &&
               text[size - 1] == '\0' && std::strlen(text) == size - 1,
           "the WM_COPYDATA of a code");
    g_harness->Delivered(text);
  }
  uint32_t RegisterWindowMessage(const std::string&) override { return 0; }
};

// --- Host calls ---------------------------------------------------------------------------------

// The open call of either host generation: the newer with its function table.
void Open(Plugin& plugin, bool newer) {
  if (!newer) {
    plugin.InitDevice(HostWindowIpc::kWindow, nullptr);
    return;
  }
  std::array<uintptr_t, kFunctionTableSlots> table{};
  table[kTableEventSlot] = reinterpret_cast<uintptr_t>(&HostEvent);
  table[kTableTranslateSlot] = reinterpret_cast<uintptr_t>(&HostTranslate);
  Expect(plugin.GirOpen(3, 2, 0, table.data()) == 1, "gir_open's result");
}

void Harness::Timed(const std::string& name, const std::function<void()>& call) {
  std::string op = name;
  t_op = &op;
  const auto start = Clock::now();
  call();
  const int64_t us =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  t_op = nullptr;
  ++figures.calls;
  if (us > figures.longest_call_us.load()) {
    std::lock_guard lock(figures.longest_mutex);
    if (us > figures.longest_call_us.load()) {
      figures.longest_call_us = us;
      figures.longest_call = name;
    }
  }
  // The receivers answer within milliseconds: a call this long ran into a handshake's
  // time limit, which only a receiver that cannot answer may cause.
  Expect(us < int64_t{kAckTimeoutMs} * 1000, name + " waited into a time limit");
}

void Harness::OneCall(Plugin& plugin, bool newer, HostThread& thread) {
  const unsigned roll = thread.rng() % 100;
  char buffer[64];
  if (roll < 24) {
    Timed("start", [&] {
      const int32_t r = newer ? plugin.GirStart() : plugin.StartDevice();
      Expect(r == 0 || r == (newer ? 1 : -1), "start's result");
    });
  } else if (roll < 46) {
    Timed("stop", [&] {
      const int32_t r = newer ? plugin.GirStop() : plugin.StopDevice();
      Expect(r == 0 || r == (newer ? 1 : -1), "stop's result");
    });
  } else if (roll < 58) {
    Timed("power resume", [&] { Expect(plugin.GirInfo(2, 6 + thread.rng() % 2, 0) == 1, "info"); });
  } else if (roll < 66) {
    Timed("configure", [&] {
      if (newer) {
        plugin.GirConfig();
      } else {
        Expect(plugin.ConfigDevice() == -1, "config_device's result");
      }
    });
  } else if (roll < 80) {
    Timed("identity", [&] {
      Expect(std::strcmp(plugin.GirName(buffer, 63), kPluginName) == 0, "the name");
      Expect(std::strcmp(plugin.IdentifyDevice(buffer, 300), kPluginDescription) == 0,
             "the description");
      Expect(plugin.GirCompare("48B7", "48B7") == 1 && plugin.CompareStr("a", "b") == 0,
             "comparisons");
      Expect(plugin.GetDeviceNum() == (newer ? 207 : 7), "the device number");
    });
  } else if (roll < 88) {
    Timed("second open", [&] { Open(plugin, newer); });
  } else if (roll < 94) {
    Timed("close", [&] {
      if (newer) {
        const int32_t r = plugin.GirClose();
        Expect(r == 0 || r == 1, "gir_close's result");
      } else {
        plugin.CleanUpDevice();
      }
    });
  } else {
    Timed("translate", [&] {
      const std::string shown = plugin.TranslateText("Port");
      Expect(shown == (newer ? "translated" : "Port"), "a translation");
    });
  }
}

void Harness::HostCalls(Plugin& plugin, bool newer, HostThread& thread) {
  for (int i = 0; i < options_.calls; ++i) {
    OneCall(plugin, newer, thread);
    if (thread.index == 0) window.Pump();
    std::this_thread::sleep_for(std::chrono::microseconds(thread.rng() % 1000));
  }
}

// Waits until the receiver has served every request and reports the state the model
// expects; the captures are quiet and no delivery is held.
void Harness::Settle() {
  LoggedReceiver* receiver = Current();
  if (model_.open && receiver != nullptr) {
    TCommThread& thread = receiver->Thread();
    auto* start = dynamic_cast<sim::SimEvent*>(&thread.StartEvent());
    auto* stop = dynamic_cast<sim::SimEvent*>(&thread.StopEvent());
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while ((start->IsSet() || stop->IsSet() || thread.Delivering() ||
            thread.Running() != model_.requested) &&
           Clock::now() < deadline) {
      window.Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Expect(thread.Running() == model_.requested,
           std::string("capture ") + (model_.requested ? "stopped" : "running") +
               " although the host's last request was " + (model_.requested ? "start" : "stop"));
  }
}

void Harness::CheckEvents() {
  std::vector<ReceiverEvent> events;
  {
    std::lock_guard lock(mutex_);
    events.assign(events_.begin() + static_cast<std::ptrdiff_t>(checked_events_), events_.end());
    checked_events_ = events_.size();
  }
  std::sort(events.begin(), events.end(),
            [](const ReceiverEvent& a, const ReceiverEvent& b) { return a.seq < b.seq; });
  for (const ReceiverEvent& e : events) {
    const std::string where = std::string(CallName(e.call)) + " of receiver " +
                              std::to_string(e.receiver) + " for " + e.op;
    if (e.call == Call::kCreate) {
      Expect(model_.receiver < 0, where + ": created while another receiver is the plugin's");
      model_ = {true, e.receiver, false, false};
      continue;
    }
    Expect(e.receiver == model_.receiver, where + ": not the plugin's receiver");
    switch (e.call) {
      case Call::kStart:
        // Without a wait (a delivery) the answer is the state of the moment, which an
        // earlier stop served just then may have made "stopped".
        Expect(e.result || e.delivery_overlapped, where + ": capture did not start");
        model_.requested = true;
        model_.pending = e.delivery_overlapped;
        break;
      case Call::kStop:
        Expect(e.result || e.delivery_overlapped, where + ": capture did not stop");
        model_.requested = false;
        model_.pending = e.delivery_overlapped;
        break;
      case Call::kRunning:
        Expect(model_.pending || e.result == model_.requested,
               where + ": Running disagrees with the last request");
        break;
      default:  // TerminateAndWait: a close, or a second open
        Expect(e.result || e.delivery_overlapped, where + ": the thread did not end");
        if (!e.result) ++figures.retired;
        model_ = {};
        break;
    }
  }
}

void Harness::CheckDeliveries() {
  std::lock_guard lock(mutex_);
  for (size_t id = 0; id < logs_.size(); ++id) {
    ReceiverLog& log = *logs_[id];
    std::lock_guard log_lock(log.mutex);
    size_t matched = 0;
    for (size_t i = 0; i < log.decoded.size() && i < log.received.size(); ++i) {
      Expect(log.received[i] == trains_[log.decoded[i]].code,
             "receiver " + std::to_string(id) + " delivered a wrong code");
      ++matched;
    }
    figures.decoded += log.decoded.size();
    figures.delivered += log.received.size();
    figures.lost += log.decoded.size() - matched;
    figures.duplicated += log.received.size() - matched;
    log.decoded.clear();
    log.received.clear();
  }
}

void Harness::Cycle(Plugin& plugin, bool newer, int cycle) {
  quiet_ = false;
  std::vector<HostThread> threads(static_cast<size_t>(options_.threads));
  for (size_t i = 0; i < threads.size(); ++i) {
    threads[i].index = static_cast<int>(i);
    threads[i].rng.seed(options_.seed * 1000003u + static_cast<uint64_t>(cycle) * 31u + i);
  }
  // Every cycle begins open and running.
  Timed("open", [&] { Open(plugin, newer); });
  Timed("start", [&] { Expect((newer ? plugin.GirStart() : plugin.StartDevice()) != 0, "start"); });

  calling_threads_ = options_.threads - 1;
  std::vector<std::thread> others;
  for (size_t i = 1; i < threads.size(); ++i) {
    others.emplace_back([&, i] {
      HostCalls(plugin, newer, threads[i]);
      --calling_threads_;
    });
  }
  HostCalls(plugin, newer, threads[0]);
  window.PumpUntil([&] { return calling_threads_.load() == 0; });
  for (std::thread& t : others) t.join();

  quiet_ = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  window.Pump();
  CheckEvents();
  Settle();

  // The end of the cycle: closed, and every receiver let go of ended and freed once its
  // delivery returned.
  Timed("close", [&] { Expect(plugin.GirClose() == 1, "the closing gir_close"); });
  CheckEvents();
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (plugin.RetiredReceivers() > 0 && Clock::now() < deadline) {
    window.Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    (void)plugin.GirStop();  // a receiver call frees the retired receivers that ended
  }
  Expect(plugin.RetiredReceivers() == 0, "a receiver let go of was never freed");
  CheckEvents();
  CheckDeliveries();
  ++figures.cycles;
}

void Harness::Session(int session) {
  const bool newer = session % 2 == 0;
  HostWindowIpc ipc;
  sim = std::make_unique<sim::SimPlatform>();
  platform::Platform platform{sim->counters, sim->scheduler,     sim->serial_ports,
                              sim->registry, sim->message_boxes, ipc,
                              sim->files,    sim->modules,       sim->ring0};
  {
    Plugin plugin(platform, [this](platform::Platform& p, HostServices& host) {
      const int id = NewReceiver();
      auto receiver = std::make_unique<LoggedReceiver>(*this, id, p, host);
      SetCurrent(receiver.get());
      ReceiverEvent event;
      event.seq = NextSeq();
      event.call = Call::kCreate;
      event.receiver = id;
      Record(event);
      return std::unique_ptr<ReceiverControl>(std::move(receiver));
    });
    // The configuration cycle with the user confirming at once: capture stopped, the
    // settings reloaded and saved, capture restarted if it ran (ThreadSanitizer watches
    // the settings the capture reads).
    plugin.SetConfigBox(std::make_unique<ConfirmingBox>());
    plugin.OnLoad();
    if (!newer) {
      std::array<uintptr_t, kSupportBlockWords> record{};
      record[0] = sizeof record;
      Expect(plugin.HSupportFunctions(record.data()) == 1, "h_support_functions' result");
    }
    for (int cycle = 0; cycle < options_.cycles; ++cycle) {
      Cycle(plugin, newer, session * options_.cycles + cycle);
    }
    plugin.OnUnload();
  }
  std::lock_guard lock(mutex_);
  for (size_t id = 0; id < logs_.size(); ++id) {
    Expect(logs_[id]->destroyed.load(), "receiver " + std::to_string(id) + " outlived its plugin");
  }
}

void Harness::Run() {
  for (int session = 0; session < options_.sessions; ++session) Session(session);
}

void Harness::Report() const {
  std::printf(
      "plugin-stress: %llu cycles, %llu host calls from %d host threads, longest call %.1f ms "
      "(%s)\n",
      static_cast<unsigned long long>(figures.cycles.load()),
      static_cast<unsigned long long>(figures.calls.load()), options_.threads,
      static_cast<double>(figures.longest_call_us.load()) / 1000.0, figures.longest_call.c_str());
  std::printf(
      "plugin-stress: %llu trains decoded, %llu codes delivered, %llu lost, %llu duplicated; "
      "%llu of the deliveries waited for the host's window thread, %llu were slow; %llu "
      "receivers let go of while delivering\n",
      static_cast<unsigned long long>(figures.decoded),
      static_cast<unsigned long long>(figures.delivered),
      static_cast<unsigned long long>(figures.lost),
      static_cast<unsigned long long>(figures.duplicated),
      static_cast<unsigned long long>(figures.window_deliveries.load()),
      static_cast<unsigned long long>(figures.slow_deliveries.load()),
      static_cast<unsigned long long>(figures.retired));
}

}  // namespace
}  // namespace sfh56::stress

int main(int argc, char** argv) {
  using namespace sfh56::stress;
  Options options;
  std::string trains = SFH_STRESS_TRAINS;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const long value = std::strtol(argv[i + 1], nullptr, 10);
    if (name == "--sessions") {
      options.sessions = static_cast<int>(value);
    } else if (name == "--cycles") {
      options.cycles = static_cast<int>(value);
    } else if (name == "--threads") {
      options.threads = static_cast<int>(std::clamp(value, 2L, 4L));
    } else if (name == "--calls") {
      options.calls = static_cast<int>(value);
    } else if (name == "--seed") {
      options.seed = static_cast<uint64_t>(value);
    } else {
      std::fprintf(stderr, "plugin-stress: unknown option %s\n", name.c_str());
      return 2;
    }
  }
  std::vector<RecordedTrain> recorded = LoadTrains(trains);
  if (recorded.empty()) {
    std::fprintf(stderr, "plugin-stress: no recorded trains in %s\n", trains.c_str());
    return 2;
  }
  Harness harness(options, std::move(recorded));
  g_harness = &harness;
  harness.Run();
  harness.Report();
  return 0;
}

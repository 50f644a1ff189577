// plugin-host: loads a plugin DLL as either host generation and prints, one line each,
// its identity, the results of the host's calls and every event it delivers.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/handle_owner.h"
#include "tools/plugin-host/box_answerer.h"
#include "tools/plugin-host/host_emulator.h"
#include "tools/plugin-host/plugin_host_args.h"

namespace sfh56::tools {
namespace {

std::string ResultText(std::optional<int> result) {
  return result ? std::to_string(*result) : std::string("-");
}

const char* PathName(EventPath path) {
  switch (path) {
    case EventPath::kEventFunction:
      return "function";
    case EventPath::kCopyData:
      return "copydata";
    case EventPath::kSharedMemory:
      return "shared";
    case EventPath::kSharedMemoryRegistered:
      return "registered";
  }
  return "?";
}

// Prints lines whole and flushed, whichever thread reports. Events that arrive before
// the start result is printed wait for it, so the output order does not depend on how
// soon the plugin's receiver thread runs.
class LinePrinter : public HostEventSink {
 public:
  LinePrinter(std::optional<int> max_events, bool show_paths)
      : max_events_(max_events),
        show_paths_(show_paths),
        enough_events_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  LinePrinter(const LinePrinter&) = delete;
  LinePrinter& operator=(const LinePrinter&) = delete;

  void Line(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    Write(line);
  }

  // Prints the start result and any events held back until then.
  void StartLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    Write(line);
    started_ = true;
    for (const std::string& held : held_) Write(held);
    held_.clear();
  }

  void OnEvent(const HostEvent& event) override {
    std::string line =
        "event " + PrintableText(event.code) + " device " + std::to_string(event.device);
    if (show_paths_) line += std::string(" via ") + PathName(event.path);
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) {
      Write(line);
    } else {
      held_.push_back(line);
    }
    ++events_;
    if (max_events_ && events_ >= *max_events_) SetEvent(enough_events_.Get());
  }

  void OnTranslate(const std::string& text) override { Line("translate " + PrintableText(text)); }

  HANDLE enough_events() const { return enough_events_.Get(); }

 private:
  void Write(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

  std::mutex mutex_;
  bool started_ = false;
  std::vector<std::string> held_;
  int events_ = 0;
  std::optional<int> max_events_;
  bool show_paths_;
  win32::HandleOwner enough_events_;
};

// Signals `done` when standard input reaches its end (or cannot be read).
DWORD WINAPI WatchInputEnd(LPVOID done) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[256];
  DWORD read = 0;
  while (input != nullptr && input != INVALID_HANDLE_VALUE &&
         ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
  }
  SetEvent(static_cast<HANDLE>(done));
  return 0;
}

// The plugin refuses a stop at once while it is delivering a code, and the delivery may
// well be the very one after which this host decided to stop. Such a refusal is asked
// again once the delivery has had its turn (its window message handled, the plugin's
// call returned), as a user would press stop again; only the last answer is printed. A
// refusal that took long (the plugin's own time limit) is final.
int StopOnceDeliveriesLetIt(PluginHost& host) {
  constexpr int kAttempts = 50;
  constexpr DWORD kPauseMs = 20;
  constexpr DWORD kQuickAnswerMs = 1000;
  for (int attempt = 1;; ++attempt) {
    const DWORD began = GetTickCount();
    const int answer = host.Stop();
    if (answer != 0 || attempt == kAttempts || GetTickCount() - began >= kQuickAnswerMs) {
      return answer;
    }
    host.PumpPending();
    Sleep(kPauseMs);
    host.PumpPending();
  }
}

int Run(const HostArgs& args) {
  LinePrinter printer(args.max_events, args.verbose);
  HostSetup setup;
  setup.generation = args.generation;
  setup.shared_memory = args.old_level == 1;
  setup.translate = args.translate;
  PluginHost host(setup, printer);
  std::optional<BoxAnswerer> answerer;
  if (!args.answer_boxes.empty()) {
    answerer.emplace(BoxAnswerer::ButtonFromName(args.answer_boxes),
                     [&printer](const std::string& caption, const std::string& text) {
                       printer.Line("box " + PrintableText(caption) + " | " + PrintableText(text));
                     });
  }

  std::string error;
  if (!host.Load(args.plugin_path, &error)) {
    std::fprintf(stderr, "plugin-host: %s\n", error.c_str());
    return 1;
  }
  const bool older = args.generation == HostGeneration::kOlder;
  printer.Line("name " + PrintableText(host.Name()));
  printer.Line("description " + PrintableText(host.Description()));
  printer.Line("version " + PrintableText(host.Version()));
  for (int i = 0; i < args.support_calls; ++i) {
    printer.Line("support " + std::to_string(host.CallSupportFunctions()));
  }
  std::optional<int> opened = host.Open();
  if (args.verbose) {
    if (older) {
      printer.Line("devicenum " + std::to_string(host.DeviceNumber()));
    } else {
      printer.Line("requested_api " + std::to_string(host.requested_api_result()));
      printer.Line("devicenum " + std::to_string(host.devicenum_result()));
      printer.Line("open " + ResultText(opened));
    }
  }
  if (args.configure) printer.Line("config " + ResultText(host.Configure()));

  printer.StartLine("start " + std::to_string(host.Start()));
  // Configuring a running capture: the plugin stops it for its dialog and starts it again.
  if (args.configure_running) printer.Line("config " + ResultText(host.Configure()));

  std::vector<HANDLE> waits;
  win32::HandleOwner input_end;
  if (args.max_events) waits.push_back(printer.enough_events());
  if (!args.seconds) {
    input_end.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    // The watcher runs on by itself; its handle is not needed.
    win32::HandleOwner watcher(
        CreateThread(nullptr, 0, WatchInputEnd, input_end.Get(), 0, nullptr));
    waits.push_back(input_end.Get());
  }
  const DWORD timeout_ms = args.seconds ? static_cast<DWORD>(*args.seconds) * 1000 : INFINITE;
  if (!(args.max_events && *args.max_events == 0)) {
    host.PumpUntil(waits.data(), static_cast<DWORD>(waits.size()), timeout_ms);
  }

  printer.Line("stop " + std::to_string(StopOnceDeliveriesLetIt(host)));
  printer.Line("close " + ResultText(host.Close()));
  host.Unload();
  return 0;
}

}  // namespace
}  // namespace sfh56::tools

int main(int argc, char** argv) {
  using namespace sfh56::tools;
  // Lines end in a bare newline whatever reads them (a Linux test through Wine's pipe).
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> words(argv + 1, argv + argc);
  ParsedArgs parsed = ParseHostArgs(words);
  if (!parsed.args) {
    std::fprintf(stderr, "plugin-host: %s\n%s", parsed.error.c_str(), HostUsage().c_str());
    return 2;
  }
  if (parsed.args->help) {
    std::fputs(HostUsage().c_str(), stdout);
    return 0;
  }
  return Run(*parsed.args);
}

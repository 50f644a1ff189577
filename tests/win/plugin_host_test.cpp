#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "tools/plugin-host/host_emulator.h"
#include "tools/plugin-host/plugin_host_args.h"
#include "tools/plugin-host/program_run.h"

namespace sfh56::tools {
namespace {

const std::string kFakePlugin = WindowsPathFromUnix(SFH_FAKE_PLUGIN);
const std::string kPluginHostExe = WindowsPathFromUnix(SFH_PLUGIN_HOST_EXE);  // FileVersion 3.5.0.0
const std::string kPluginHost309Exe = WindowsPathFromUnix(SFH_PLUGIN_HOST_309_EXE);
// Only a safety limit for a broken build: the fake delivers its codes at once.
constexpr DWORD kSafetyTimeoutMs = 20000;

// ---------------------------------------------------------------------------------------
// Command line.

ParsedArgs Parse(std::vector<std::string> words) {
  return ParseHostArgs(words);
}

TEST(PluginHostArgs, DefaultsToTheNewerHostListeningUntilInputEnds) {
  ParsedArgs parsed = Parse({"x.dll"});
  ASSERT_TRUE(parsed.args);
  EXPECT_EQ(parsed.args->generation, HostGeneration::kNewer);
  EXPECT_FALSE(parsed.args->seconds);
  EXPECT_EQ(parsed.args->plugin_path, "x.dll");
  EXPECT_EQ(parsed.args->old_level, 0);
}

TEST(PluginHostArgs, ReadsEveryOption) {
  ParsedArgs parsed =
      Parse({"--host", "old", "--seconds", "3", "--old-level", "1", "--version-call",
             "--version-call", "--translate", "--config", "--config-running", "--events", "4",
             "--verbose", "--answer-boxes", "retry", "p.dll"});
  ASSERT_TRUE(parsed.args) << parsed.error;
  EXPECT_EQ(parsed.args->generation, HostGeneration::kOlder);
  EXPECT_EQ(parsed.args->seconds, 3);
  EXPECT_EQ(parsed.args->old_level, 1);
  EXPECT_EQ(parsed.args->support_calls, 2);
  EXPECT_EQ(parsed.args->max_events, 4);
  EXPECT_TRUE(parsed.args->translate && parsed.args->configure && parsed.args->verbose);
  EXPECT_TRUE(parsed.args->configure_running);
  EXPECT_EQ(parsed.args->answer_boxes, "retry");
}

TEST(PluginHostArgs, RefusesUnusableCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--seconds", "x.dll"},
      {"--seconds", "-1", "x.dll"},
      {"--seconds", "5s", "x.dll"},
      {"--seconds", "", "x.dll"},
      {"--host", "middle", "x.dll"},
      {"--host"},
      {"--old-level", "2", "--host", "old", "x.dll"},
      {"--old-level", "1", "x.dll"},  // only the older host has levels
      {"--version-call", "x.dll"},
      {"--frobnicate", "x.dll"},
      {"a.dll", "b.dll"},
      {"--answer-boxes", "maybe", "x.dll"},
      {"--events", "x.dll"},
  };
  for (const auto& words : bad) {
    ParsedArgs parsed = Parse(words);
    EXPECT_FALSE(parsed.args) << (words.empty() ? "(nothing)" : words[0]);
    EXPECT_FALSE(parsed.error.empty());
  }
}

TEST(PluginHostArgs, KeepsEachPluginTextOnOneLine) {
  EXPECT_EQ(PrintableText("48B7"), "48B7");
  EXPECT_EQ(PrintableText("No receiver\r\non COM1\n"), "No receiver on COM1 ");
  EXPECT_EQ(PrintableText(std::string("A\tB\x1b\x7f", 5)), "A?B??");
  EXPECT_EQ(PrintableText("\xe4\xf6"), "\xe4\xf6");  // ANSI letters pass unchanged
}

// ---------------------------------------------------------------------------------------
// The emulator in this process, against the fake plugin.

class RecordingSink : public HostEventSink {
 public:
  RecordingSink() { enough_ = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~RecordingSink() override { CloseHandle(enough_); }
  void OnEvent(const HostEvent& event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    if (events_.size() >= wanted_) SetEvent(enough_);
  }
  void OnTranslate(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    translations_.push_back(text);
  }
  std::vector<HostEvent> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::string> translations() {
    std::lock_guard<std::mutex> lock(mutex_);
    return translations_;
  }
  HANDLE enough() const { return enough_; }

 private:
  std::mutex mutex_;
  std::vector<HostEvent> events_;
  std::vector<std::string> translations_;
  size_t wanted_ = 3;
  HANDLE enough_;
};

void ExpectFixedCodes(const std::vector<HostEvent>& events, intptr_t device, EventPath path) {
  ASSERT_EQ(events.size(), 3u);
  const char* codes[] = {"1A2B", "48B7", "C0DE"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].code, codes[i]);
    EXPECT_EQ(events[i].device, device);
    EXPECT_EQ(events[i].path, path);
    EXPECT_EQ(events[i].text, "");
  }
}

TEST(PluginHostEmulator, NewerHostGetsCodesFromItsEventFunction) {
  RecordingSink sink;
  PluginHost host({HostGeneration::kNewer, false, false}, sink);
  std::string error;
  ASSERT_TRUE(host.Load(kFakePlugin, &error)) << error;
  EXPECT_EQ(host.Name(), "Fake test plugin");
  EXPECT_EQ(host.Version(), "0.1");
  EXPECT_EQ(host.Open(), 1);
  EXPECT_EQ(host.requested_api_result(), 1);
  EXPECT_EQ(host.devicenum_result(), 207);
  EXPECT_EQ(host.Start(), 1);
  HANDLE enough = sink.enough();
  EXPECT_EQ(host.PumpUntil(&enough, 1, kSafetyTimeoutMs), 0);
  EXPECT_EQ(host.Stop(), 1);
  EXPECT_EQ(host.Close(), 1);
  ExpectFixedCodes(sink.events(), 207, EventPath::kEventFunction);
  EXPECT_TRUE(sink.translations().empty());  // no translation offered
}

TEST(PluginHostEmulator, OlderHostWithoutSharedMemoryGetsCopyData) {
  RecordingSink sink;
  PluginHost host({HostGeneration::kOlder, false, false}, sink);
  std::string error;
  ASSERT_TRUE(host.Load(kFakePlugin, &error)) << error;
  EXPECT_EQ(host.Description(), "Plugin that delivers three fixed codes");
  EXPECT_EQ(host.Open(), std::nullopt);
  EXPECT_EQ(host.DeviceNumber(), 7);
  EXPECT_EQ(host.Start(), -1);
  HANDLE enough = sink.enough();
  EXPECT_EQ(host.PumpUntil(&enough, 1, kSafetyTimeoutMs), 0);
  EXPECT_EQ(host.Stop(), -1);
  EXPECT_EQ(host.Close(), std::nullopt);
  ExpectFixedCodes(sink.events(), 7, EventPath::kCopyData);
}

// Three codes pass only if the host releases the semaphore after each one.
TEST(PluginHostEmulator, OlderHostWithSharedMemoryReadsTheViewAndReleasesTheSemaphore) {
  RecordingSink sink;
  PluginHost host({HostGeneration::kOlder, true, false}, sink);
  std::string error;
  ASSERT_TRUE(host.Load(kFakePlugin, &error)) << error;
  host.Open();
  EXPECT_EQ(host.Start(), -1);
  HANDLE enough = sink.enough();
  EXPECT_EQ(host.PumpUntil(&enough, 1, kSafetyTimeoutMs), 0);
  host.Stop();
  host.Close();
  ExpectFixedCodes(sink.events(), 7, EventPath::kSharedMemory);
}

// This test program has no version resource: to the plugin it is a host older than 3.1.
TEST(PluginHostEmulator, OlderHostPassesItsSupportRecordWithTheTranslationFunction) {
  RecordingSink sink;
  PluginHost host({HostGeneration::kOlder, true, true}, sink);
  std::string error;
  ASSERT_TRUE(host.Load(kFakePlugin, &error)) << error;
  EXPECT_EQ(host.CallSupportFunctions(), 1);
  host.Open();
  EXPECT_EQ(host.Start(), -1);
  HANDLE enough = sink.enough();
  EXPECT_EQ(host.PumpUntil(&enough, 1, kSafetyTimeoutMs), 0);
  host.Stop();
  host.Close();
  ExpectFixedCodes(sink.events(), 7, EventPath::kSharedMemory);
  EXPECT_EQ(sink.translations(), std::vector<std::string>{"fake start"});
}

// Whatever a plugin sends to the older host's window, the host reads only what it was
// given: a code without its zero is cut at cbData, a missing one is empty, and the shared
// message without shared memory reports an empty code.
TEST(PluginHostEmulator, OlderHostWindowReadsMalformedMessagesSafely) {
  RecordingSink sink;
  PluginHost host({HostGeneration::kOlder, false, false}, sink);
  std::string error;
  ASSERT_TRUE(host.Load(kFakePlugin, &error)) << error;
  char unterminated[4] = {'A', 'B', 'C', 'D'};
  COPYDATASTRUCT cut = {0, 2, unterminated};
  SendMessageA(host.window(), WM_COPYDATA, 7, reinterpret_cast<LPARAM>(&cut));
  COPYDATASTRUCT no_data = {0, 5, nullptr};
  SendMessageA(host.window(), WM_COPYDATA, 7, reinterpret_cast<LPARAM>(&no_data));
  SendMessageA(host.window(), WM_COPYDATA, 7, 0);
  SendMessageA(host.window(), kSharedCodeMessage, 9, 0);
  std::vector<HostEvent> events = sink.events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].code, "AB");
  EXPECT_EQ(events[1].code, "");
  EXPECT_EQ(events[2].code, "");
  EXPECT_EQ(events[3].code, "");
  EXPECT_EQ(events[3].device, 9);
  EXPECT_EQ(events[3].path, EventPath::kSharedMemory);
}

TEST(PluginHostEmulator, ClosesAndUnloadsAPluginLeftRunning) {
  RecordingSink sink;
  {
    PluginHost host({HostGeneration::kOlder, false, false}, sink);
    std::string error;
    ASSERT_TRUE(host.Load(kFakePlugin, &error)) << error;
    host.Open();
    host.Start();
  }
  // A later host in the same process works again.
  PluginHost host({HostGeneration::kNewer, false, false}, sink);
  std::string error;
  EXPECT_TRUE(host.Load(kFakePlugin, &error)) << error;
}

TEST(PluginHostEmulator, ReportsMissingFilesAndEntryPoints) {
  RecordingSink sink;
  PluginHost host({HostGeneration::kNewer, false, false}, sink);
  std::string error;
  EXPECT_FALSE(host.Load("Z:\\nonexistent\\nothing.dll", &error));
  EXPECT_NE(error.find("cannot load"), std::string::npos) << error;
  EXPECT_FALSE(host.Load("kernel32.dll", &error));
  EXPECT_NE(error.find("lacks the entry points gir_name"), std::string::npos) << error;
}

// ---------------------------------------------------------------------------------------
// The plugin-host program, run as a separate process.

// Runs plugin-host (or `program`) with `arguments`; see RunProgram for the input.
ProgramRun RunTool(const std::string& arguments, const std::string& program = kPluginHostExe,
                   const std::string& close_input_after = "") {
  return RunProgram("\"" + program + "\" " + arguments, close_input_after);
}

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\n";
  return text;
}

std::string Plugin() {
  return "\"" + kFakePlugin + "\"";
}

TEST(PluginHostTool, NewerHostPrintsIdentityResultsAndEvents) {
  ProgramRun run = RunTool("--seconds 1 " + Plugin());
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(run.out,
            Lines({"name Fake test plugin", "description Plugin that delivers three fixed codes",
                   "version 0.1", "start 1", "event 1A2B device 207", "event 48B7 device 207",
                   "event C0DE device 207", "stop 1", "close 1"}));
}

TEST(PluginHostTool, OlderHostWithoutSharedMemory) {
  ProgramRun run = RunTool("--host old --old-level 0 --seconds 1 " + Plugin());
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(run.out,
            Lines({"name Fake test plugin", "description Plugin that delivers three fixed codes",
                   "version 0.1", "start -1", "event 1A2B device 7", "event 48B7 device 7",
                   "event C0DE device 7", "stop -1", "close -"}));
}

TEST(PluginHostTool, OlderHostWithSharedMemory) {
  ProgramRun run = RunTool("--host old --old-level 1 --seconds 1 " + Plugin());
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(run.out,
            Lines({"name Fake test plugin", "description Plugin that delivers three fixed codes",
                   "version 0.1", "start -1", "event 1A2B device 7", "event 48B7 device 7",
                   "event C0DE device 7", "stop -1", "close -"}));
}

TEST(PluginHostTool, OlderHostOptionalCallsAndTranslation) {
  ProgramRun run = RunTool(
      "--host old --old-level 1 --version-call --version-call --translate --config "
      "--answer-boxes ok --verbose --events 3 --seconds 60 " +
      Plugin());
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(
      run.out,
      Lines({"name Fake test plugin", "description Plugin that delivers three fixed codes",
             "version 0.1", "support 2", "support 2", "devicenum 7", "translate fake configure",
             "box Fake test plugin | [tr] fake configure", "config -1", "translate fake start",
             "start -1", "event 1A2B device 7 via registered", "event 48B7 device 7 via registered",
             "event C0DE device 7 via registered", "stop -1", "close -"}));
}

TEST(PluginHostTool, NewerHostOptionalCallsAndTranslation) {
  ProgramRun run = RunTool(
      "--translate --config --answer-boxes cancel --verbose --events 3 "
      "--seconds 60 " +
      Plugin());
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(run.out,
            Lines({"name Fake test plugin", "description Plugin that delivers three fixed codes",
                   "version 0.1", "requested_api 1", "devicenum 207", "open 1",
                   "translate fake configure", "box Fake test plugin | [tr] fake configure",
                   "config -", "translate fake start", "start 1",
                   "event 1A2B device 207 via function", "event 48B7 device 207 via function",
                   "event C0DE device 207 via function", "stop 1", "close 1"}));
}

// The first support call at level 1 raises the plugin to level 2 in a host of 3.1 or later;
// the codes still come through the shared memory with message 2054.
TEST(PluginHostTool, OlderHostVersionDecidesTheSecondLevel) {
  ProgramRun newer = RunTool(
      "--host old --old-level 1 --version-call --verbose --events 3 "
      "--seconds 60 " +
      Plugin());
  EXPECT_EQ(newer.exit_code, 0u) << newer.err;
  EXPECT_NE(newer.out.find("\nsupport 2\n"), std::string::npos) << newer.out;
  EXPECT_NE(newer.out.find("\nevent C0DE device 7 via shared\n"), std::string::npos) << newer.out;

  ProgramRun older = RunTool(
      "--host old --old-level 1 --version-call --version-call --verbose "
      "--events 3 --seconds 60 " +
          Plugin(),
      kPluginHost309Exe);
  EXPECT_EQ(older.exit_code, 0u) << older.err;
  EXPECT_NE(older.out.find("\nsupport 1\nsupport 1\n"), std::string::npos) << older.out;
  EXPECT_NE(older.out.find("\nevent C0DE device 7 via shared\n"), std::string::npos) << older.out;
}

// Without --seconds the host listens until its input ends, here at once; the codes may
// or may not have arrived by then, but the host stops and closes the plugin cleanly.
TEST(PluginHostTool, ListensUntilInputEnds) {
  for (const char* host : {"new", "old --old-level 0", "old --old-level 1"}) {
    ProgramRun run = RunTool(std::string("--host ") + host + " " + Plugin());
    EXPECT_EQ(run.exit_code, 0u) << host << run.err;
    EXPECT_EQ(run.out.rfind("name Fake test plugin\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\nstart "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nstop "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nclose "), std::string::npos) << run.out;
  }
}

// The host keeps listening while its input is open: all three codes arrive, line by line,
// before the input is closed.
TEST(PluginHostTool, ListensWhileInputIsOpen) {
  for (const char* host : {"new", "old --old-level 0", "old --old-level 1"}) {
    ProgramRun run = RunTool(std::string("--host ") + host + " " + Plugin(), kPluginHostExe,
                             "event C0DE device ");
    EXPECT_EQ(run.exit_code, 0u) << host << run.err;
    const bool newer = std::string(host) == "new";
    std::string device = newer ? "207" : "7";
    std::string expected =
        Lines({"name Fake test plugin", "description Plugin that delivers three fixed codes",
               "version 0.1"}) +
        (newer ? "start 1\n" : "start -1\n") + "event 1A2B device " + device +
        "\nevent 48B7 device " + device + "\nevent C0DE device " + device + "\n" +
        (newer ? "stop 1\nclose 1\n" : "stop -1\nclose -\n");
    EXPECT_EQ(run.out, expected) << host;
  }
}

TEST(PluginHostTool, BadUsageExitsWithTwo) {
  for (const char* arguments : {"", "--seconds soon x.dll", "--host sideways x.dll"}) {
    ProgramRun run = RunTool(arguments);
    EXPECT_EQ(run.exit_code, 2u) << arguments;
    EXPECT_NE(run.err.find("usage: plugin-host"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST(PluginHostTool, UnloadablePluginExitsWithOne) {
  ProgramRun missing = RunTool("--seconds 1 Z:\\nonexistent\\nothing.dll");
  EXPECT_EQ(missing.exit_code, 1u);
  EXPECT_NE(missing.err.find("cannot load"), std::string::npos) << missing.err;
  ProgramRun foreign = RunTool("--host old --seconds 1 kernel32.dll");
  EXPECT_EQ(foreign.exit_code, 1u);
  EXPECT_NE(foreign.err.find("lacks the entry points h_support_functions"), std::string::npos)
      << foreign.err;
  EXPECT_EQ(foreign.out, "");
}

}  // namespace
}  // namespace sfh56::tools

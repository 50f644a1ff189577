// The product DLL in the host emulator with ComName "USB": the stand-in receiver library
// replays recorded signals, and the host must receive the codes the decoder gives for
// the same durations in the device's unit. Without a findable receiver library, the
// start fails with the library's message.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decoder.h"
#include "tests/support/usb_offline_codes.h"
#include "tests/win/usb_test_support.h"
#include "tools/replay/durations.h"

namespace sfh56 {
namespace {

constexpr DWORD kProgramTimeoutMs = 60000;

// Runs a program in folder and returns its standard output, split into lines.
std::vector<std::string> RunProgram(std::string command_line, const std::string& folder) {
  // The session's desktop process starts with the first window: from here, before the
  // pipe exists, not from the host emulator, whose output it would otherwise inherit and
  // keep open.
  GetDesktopWindow();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return {};
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE no_input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = no_input;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, folder.c_str(), &startup, &process);
  CloseHandle(write_end);
  if (no_input != INVALID_HANDLE_VALUE) CloseHandle(no_input);
  std::string output;
  if (started) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      output.append(buffer, got);
    }
    WaitForSingleObject(process.hProcess, kProgramTimeoutMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(read_end);

  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < output.size()) {
    size_t end = output.find('\n', begin);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    begin = end + 1;
  }
  return lines;
}

// Build-tree paths arrive as Unix paths; Wine shows the root file system as drive Z:.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string PluginHostCommand(int seconds, int max_events, const std::string& host_options = "") {
  return "\"" + WindowsPath(SFH_PLUGIN_HOST_EXE) + "\" " + host_options + " --seconds " +
         std::to_string(seconds) + " --events " + std::to_string(max_events) +
         " --answer-boxes ok \"" + WindowsPath(SFH_PLUGIN_DLL) + "\"";
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines,
                                           const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

// The codes the decoder gives for the signals as the device reports them, on the
// performance counter's time base, BitMask 16, one decoder state for the whole run.
std::vector<std::string> ExpectedEvents(const std::vector<std::vector<uint8_t>>& signals,
                                        int device = 207) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  std::vector<std::string> events;
  for (const std::string& code :
       test::OfflineUsbCodes(signals, static_cast<double>(frequency.QuadPart))) {
    events.push_back("event " + code + " device " + std::to_string(device));
  }
  return events;
}

TEST(UsbEndToEnd, ReplayedRemoteArrivesAsTheDecodersCodes) {
  const std::string folder = wintest::ProgramFolder();  // holds the stand-in library
  const std::string replay = folder + "usb_replay.txt";
  const std::string log = wintest::TemporaryFileName("usb");
  wintest::ConfigureStandInLibrary(replay, log);
  const auto signals = wintest::ReadReplayInDeviceUnits(replay);
  const std::vector<std::string> expected = ExpectedEvents(signals);
  ASSERT_EQ(expected.size(), signals.size());

  wintest::ComNameOverride usb("USB");
  const auto lines = RunProgram(PluginHostCommand(20, static_cast<int>(expected.size())), folder);
  SCOPED_TRACE(::testing::PrintToString(lines));
  EXPECT_EQ(LinesStartingWith(lines, "start "), std::vector<std::string>{"start 1"});
  EXPECT_TRUE(LinesStartingWith(lines, "box ").empty());
  EXPECT_EQ(LinesStartingWith(lines, "event "), expected);

  // The status bits were driven and left off at the end.
  const auto calls = wintest::ReadLines(log);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], "setout A4");
  EXPECT_EQ(calls[1], "setdir 53");
  EXPECT_EQ(calls.back(), "setout A4");
  DeleteFileA(log.c_str());
}

// The older host generation: level 0 takes the codes as WM_COPYDATA, level 1 through its
// shared memory and the window message; both see the device number 7.
TEST(UsbEndToEnd, OlderHostReceivesTheSameCodesOnLevelsZeroAndOne) {
  const std::string folder = wintest::ProgramFolder();
  const std::string replay = folder + "usb_replay.txt";
  const std::string log = wintest::TemporaryFileName("usb");
  const auto signals = wintest::ReadReplayInDeviceUnits(replay);
  const std::vector<std::string> expected = ExpectedEvents(signals, 7);
  wintest::ComNameOverride usb("USB");
  for (const char* level : {"0", "1"}) {
    SCOPED_TRACE(level);
    wintest::ConfigureStandInLibrary(replay, log);
    const auto lines = RunProgram(PluginHostCommand(20, static_cast<int>(expected.size()),
                                                    std::string("--host old --old-level ") + level),
                                  folder);
    SCOPED_TRACE(::testing::PrintToString(lines));
    EXPECT_EQ(LinesStartingWith(lines, "start "), std::vector<std::string>{"start -1"});
    EXPECT_EQ(LinesStartingWith(lines, "event "), expected);
  }
  DeleteFileA(log.c_str());
}

TEST(UsbEndToEnd, WithoutTheReceiverLibraryTheStartFailsWithItsMessage) {
  // The temporary folder holds no receiver library; the plugin host's own folder has
  // none either.
  char temporary[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temporary);
  wintest::ComNameOverride usb("USB");
  const auto lines = RunProgram(PluginHostCommand(1, 1), temporary);
  SCOPED_TRACE(::testing::PrintToString(lines));
  EXPECT_EQ(
      LinesStartingWith(lines, "box "),
      std::vector<std::string>{"box PlonixUSB.dll | Unable to inicialize USB driver DLL library!"});
  EXPECT_EQ(LinesStartingWith(lines, "start "), std::vector<std::string>{"start 0"});
  EXPECT_TRUE(LinesStartingWith(lines, "event ").empty());
}

// The message text passes through the host's translation on both generations (the newer
// host's table slot, the older host's function given to init_device); the caption not.
TEST(UsbEndToEnd, MessageTextsAreTranslatedByEitherHost) {
  char temporary[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temporary);
  wintest::ComNameOverride usb("USB");
  for (const char* host : {"--host new --translate", "--host old --translate"}) {
    SCOPED_TRACE(host);
    const auto lines = RunProgram(PluginHostCommand(1, 1, host), temporary);
    SCOPED_TRACE(::testing::PrintToString(lines));
    EXPECT_EQ(LinesStartingWith(lines, "box "),
              std::vector<std::string>{
                  "box PlonixUSB.dll | [tr] Unable to inicialize USB driver DLL library!"});
  }
}

}  // namespace
}  // namespace sfh56

// The configuration cycle end to end, on a display: the product DLL in the host emulator
// (plugin-host) captures from the stand-in USB receiver, and the host's configure call
// comes while capture runs. The dialog is the real one; the test plays the user from
// outside the host's process, as a user would, or lets the emulator answer it.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "config/config_box.h"
#include "config/config_box_texts.h"
#include "config/win32/config_box_unit.h"
#include "tests/support/usb_offline_codes.h"
#include "tests/win/usb_test_support.h"
#include "tools/plugin-host/plugin_host_args.h"
#include "tools/plugin-host/program_run.h"

namespace sfh56 {
namespace {

using C = ConfigControl;
using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

constexpr char kSettingsKey[] = "Software\\Girder3\\HardPlugins\\Plonix SFH-56 device";
// Only a safety limit for a broken build: each wait ends as soon as its condition holds.
constexpr DWORD kSafetyMs = 60000;

const std::string kPluginHost = tools::WindowsPathFromUnix(SFH_PLUGIN_HOST_EXE);
const std::string kPlugin = tools::WindowsPathFromUnix(SFH_PLUGIN_DLL);

struct StoredValue {
  std::string name;
  DWORD type;
  Bytes data;
  bool operator==(const StoredValue&) const = default;
};

void PrintTo(const StoredValue& value, std::ostream* out) {
  *out << value.name << " " << value.type << " " << ::testing::PrintToString(value.data);
}

// The settings key under both roots: removed before and after each test.
class FreshSettings {
 public:
  FreshSettings() { Clear(); }
  ~FreshSettings() { Clear(); }
  FreshSettings(const FreshSettings&) = delete;
  FreshSettings& operator=(const FreshSettings&) = delete;

  static void Put(HKEY root, const StoredValue& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
      ADD_FAILURE() << "settings key not created";
      return;
    }
    RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
    RegCloseKey(key);
  }

 private:
  static void Clear() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) RegDeleteKeyA(root, kSettingsKey);
  }
};

std::vector<StoredValue> Stored(HKEY root) {
  std::vector<StoredValue> values;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD name_size = sizeof name;
    BYTE data[256];
    DWORD data_size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &name_size, nullptr, &type, data, &data_size) !=
        ERROR_SUCCESS) {
      break;
    }
    values.push_back({name, type, Bytes(data, data + data_size)});
  }
  RegCloseKey(key);
  // Listed by name, as the registry editor shows them.
  std::sort(values.begin(), values.end(),
            [](const StoredValue& a, const StoredValue& b) { return a.name < b.name; });
  return values;
}

Bytes Text(const std::string& text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

Lines Split(const std::string& text) {
  Lines lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

Lines Starting(const Lines& lines, const std::string& prefix) {
  Lines found;
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

std::string Folder(const std::string& path) {
  return path.substr(0, path.find_last_of('\\') + 1);
}

// The host's event lines for the replayed signals with this bit mask.
Lines Events(const std::vector<std::vector<uint8_t>>& signals, int bit_mask, int device) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  Lines events;
  for (const std::string& code :
       test::OfflineUsbCodes(signals, static_cast<double>(frequency.QuadPart), "", bit_mask)) {
    events.push_back("event " + code + " device " + std::to_string(device));
  }
  return events;
}

// The events of a run: the first `first` codes of `before` from the capture that the
// configure call stopped, then all of `after` from the restarted capture.
void ExpectEventsAroundTheCycle(const Lines& events, size_t first, const Lines& before,
                                const Lines& after) {
  ASSERT_LE(first, before.size());
  EXPECT_EQ(events, [&] {
    Lines expected(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(first));
    expected.insert(expected.end(), after.begin(), after.end());
    return expected;
  }());
}

size_t CountStarting(const Lines& lines, const std::string& prefix) {
  return Starting(lines, prefix).size();
}

// The stand-in receiver's calls, as capture runs make them: a run switches the status
// bits off and makes them outputs ("setout A4", "setdir 53"), polls ("poll 0 N" for a
// signal, "poll 1 0" for none), and switches the bits off again when it ends.
bool StartsRun(const Lines& calls, size_t i) {
  return calls[i] == "setout A4" && i + 1 < calls.size() && calls[i + 1] == "setdir 53";
}
size_t RunsStarted(const Lines& calls) {
  size_t runs = 0;
  for (size_t i = 0; i < calls.size(); ++i) runs += StartsRun(calls, i) ? 1 : 0;
  return runs;
}
// The first run has started and ended.
bool FirstRunEnded(const Lines& calls) {
  return RunsStarted(calls) == 1 && calls.back() == "setout A4";
}
// Signals the first run delivered before it ended.
size_t FirstRunSignals(const Lines& calls) {
  size_t signals = 0;
  for (size_t i = 1; i < calls.size() && !StartsRun(calls, i); ++i) {
    if (calls[i].rfind("poll 0 ", 0) == 0) ++signals;
  }
  return signals;
}

bool WaitFor(const std::function<bool()>& condition) {
  for (DWORD waited = 0; waited < kSafetyMs; waited += 20) {
    if (condition()) return true;
    Sleep(20);
  }
  return false;
}

// The plugin's dialog in the host's process, and its controls (some sit on Panel1).
HWND FindConfigBox() {
  HWND box = FindWindowA("#32770", win32::kConfigBoxCaption);
  return box != nullptr && IsWindowVisible(box) ? box : nullptr;
}
HWND Control(HWND box, C control) {
  const int id = win32::ControlId(control);
  if (HWND window = GetDlgItem(box, id)) return window;
  return GetDlgItem(GetDlgItem(box, win32::ControlId(C::Panel1)), id);
}
std::string TextOf(HWND window) {
  char text[512] = {};
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// Plays the user at the dialog on a thread of its own.
class User {
 public:
  explicit User(std::function<void(HWND)> act)
      : thread_([act] {
          HWND box = nullptr;
          if (!WaitFor([&] { return (box = FindConfigBox()) != nullptr; })) {
            ADD_FAILURE() << "no configuration dialog";
            return;
          }
          act(box);
        }) {}
  ~User() { thread_.join(); }

 private:
  std::thread thread_;
};

class ConfigCycleEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // The session's desktop process starts with the first window: from here, not from
    // the host emulator, whose output it would otherwise keep open after it ends.
    GetDesktopWindow();
    // The stand-in receiver library and its replay are beside this program; the host
    // emulator finds the library in its working folder, which it takes from here.
    const std::string folder = wintest::ProgramFolder();
    SetCurrentDirectoryA(folder.c_str());
    calls_ = wintest::TemporaryFileName("cfg");
    wintest::ConfigureStandInLibrary(folder + "usb_replay.txt", calls_);
    signals_ = wintest::ReadReplayInDeviceUnits(folder + "usb_replay.txt");
    ASSERT_FALSE(signals_.empty());
    DeleteFileA(service_log_.c_str());
  }
  void TearDown() override {
    DeleteFileA(calls_.c_str());
    DeleteFileA(service_log_.c_str());
  }

  std::string Command(const std::string& options) const {
    return "\"" + kPluginHost + "\" " + options + " \"" + kPlugin + "\"";
  }
  // Runs the host emulator until the restarted capture has delivered `after` events
  // beyond those the first capture delivered before it was stopped.
  tools::ProgramRun RunUntilReplayedAgain(const std::string& options) {
    return tools::RunProgram(Command(options), [this](const std::string& out) {
      const Lines calls = Calls();
      return RunsStarted(calls) == 2 &&
             CountStarting(Split(out), "event ") >= FirstRunSignals(calls) + signals_.size();
    });
  }
  Lines Calls() const { return wintest::ReadLines(calls_); }

  // The first capture run has ended: the configure call stopped it.
  Lines StoppedCalls() const {
    Lines calls;
    WaitFor([&] { return FirstRunEnded(calls = Calls()); });
    return calls;
  }

  FreshSettings settings_;
  std::string calls_;
  std::vector<std::vector<uint8_t>> signals_;
  const std::string service_log_ = Folder(kPluginHost) + "log.txt";
};

TEST_F(ConfigCycleEndToEnd, OkStoresTheDialogsValuesAndTheRestartedCaptureUsesThem) {
  FreshSettings::Put(HKEY_LOCAL_MACHINE, {"ComName", REG_SZ, Text("USB")});
  const Lines before = Events(signals_, 16, 207);
  const Lines after = Events(signals_, 8, 207);

  Lines at_dialog, before_ok;
  std::string shown_port, ok_caption, advanced_caption;
  bool pin_hidden = false;
  tools::ProgramRun run;
  {
    User user([&](HWND box) {
      at_dialog = StoppedCalls();
      shown_port = TextOf(Control(box, C::COMComboBox));
      ok_caption = TextOf(Control(box, C::OKButton));
      advanced_caption = TextOf(Control(box, C::AdvancedButton));
      // The user picks "USB" from the list: the pin list goes.
      HWND port = Control(box, C::COMComboBox);
      SendMessageA(port, CB_SETCURSEL, 4, 0);
      SendMessageA(GetParent(port), WM_COMMAND,
                   MAKEWPARAM(win32::ControlId(C::COMComboBox), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(port));
      pin_hidden = WaitFor([&] { return !IsWindowVisible(Control(box, C::InputSignalComboBox)); });
      SendMessageA(Control(box, C::BitMaskSpinEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("8"));
      SendMessageA(Control(box, C::ServiceCheckBox), BM_CLICK, 0, 0);
      before_ok = Calls();
      SendMessageA(Control(box, C::OKButton), BM_CLICK, 0, 0);
    });
    run = RunUntilReplayedAgain("--translate --config-running");
  }
  ASSERT_TRUE(run.started);
  const Lines out = Split(run.out);
  SCOPED_TRACE(run.out);
  EXPECT_EQ(Starting(out, "start "), Lines{"start 1"});
  EXPECT_EQ(Starting(out, "config "), Lines{"config -"});
  EXPECT_EQ(Starting(out, "close "), Lines{"close 1"});

  // The dialog showed the stored port and the host's translations.
  EXPECT_EQ(shown_port, "USB");
  EXPECT_EQ(ok_caption, "[tr] OK");
  EXPECT_EQ(advanced_caption, "[tr] Advanced >>");
  EXPECT_TRUE(pin_hidden);

  // Capture was down while the dialog showed, and came back with the new bit mask.
  EXPECT_TRUE(FirstRunEnded(at_dialog)) << "stopped before the dialog";
  EXPECT_EQ(before_ok, at_dialog) << "no poll while the dialog shows";
  EXPECT_EQ(RunsStarted(Calls()), 2u) << "started again";
  ExpectEventsAroundTheCycle(Starting(out, "event "), FirstRunSignals(Calls()), before, after);

  const std::vector<StoredValue> expected = {
      {"AllowRing0", REG_BINARY, {0}},  {"BitMask", REG_BINARY, {8, 0, 0, 0}},
      {"ComName", REG_SZ, Text("USB")}, {"CommandOrder", REG_BINARY, {0, 0, 0, 0}},
      {"InputSignal", REG_BINARY, {1}}, {"PriorityLevel", REG_BINARY, {7}},
      {"StableCodes", REG_BINARY, {0}},
  };
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE), expected) << "no value for the service switch";
  EXPECT_TRUE(Stored(HKEY_CURRENT_USER).empty());

  // Service mode: every code after the cycle is in the log beside the host program.
  Lines logged;
  for (const std::string& line : Starting(wintest::ReadLines(service_log_), "Code= ")) {
    logged.push_back("event " + line.substr(6, line.find(';') - 6) + " device 207");
  }
  EXPECT_EQ(logged, after);
}

TEST_F(ConfigCycleEndToEnd, CloseButtonStoresNothingAndTheCaptureKeepsTheStoredValues) {
  FreshSettings::Put(HKEY_LOCAL_MACHINE, {"ComName", REG_SZ, Text("USB")});
  FreshSettings::Put(HKEY_LOCAL_MACHINE, {"BitMask", REG_BINARY, {8, 0, 0, 0}});
  const std::vector<StoredValue> stored = Stored(HKEY_LOCAL_MACHINE);
  const Lines codes = Events(signals_, 8, 207);

  tools::ProgramRun run;
  {
    User user([&](HWND box) {
      StoppedCalls();
      SendMessageA(Control(box, C::BitMaskSpinEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("3"));
      SendMessageA(Control(box, C::ServiceCheckBox), BM_CLICK, 0, 0);
      PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    run = RunUntilReplayedAgain("--config-running");
  }
  const Lines out = Split(run.out);
  SCOPED_TRACE(run.out);
  EXPECT_EQ(Starting(out, "config "), Lines{"config -"});
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE), stored);
  EXPECT_EQ(RunsStarted(Calls()), 2u) << "started again";
  ExpectEventsAroundTheCycle(Starting(out, "event "), FirstRunSignals(Calls()), codes, codes);
  EXPECT_EQ(GetFileAttributesA(service_log_.c_str()), INVALID_FILE_ATTRIBUTES) << "no service log";
}

// The older host: its own translation function gives every text, in the dialog's order;
// the emulator answers the dialog like any box (cancel is its close button).
TEST_F(ConfigCycleEndToEnd, OlderHostTranslatesAndTheEmulatorAnswersTheDialog) {
  FreshSettings::Put(HKEY_CURRENT_USER, {"ComName", REG_SZ, Text("USB")});
  const std::vector<StoredValue> stored = Stored(HKEY_CURRENT_USER);
  const tools::ProgramRun run =
      RunUntilReplayedAgain("--host old --translate --config-running --answer-boxes cancel");
  const Lines out = Split(run.out);
  SCOPED_TRACE(run.out);
  Lines asked;
  for (const ConfigBoxSourceText& source : ConfigBoxSourceTexts()) {
    asked.push_back("translate " + tools::PrintableText(source.text));
  }
  EXPECT_EQ(Starting(out, "translate "), asked);
  EXPECT_EQ(Starting(out, "box "), Lines{"box Plonix Config | "});
  EXPECT_EQ(Starting(out, "start "), Lines{"start -1"});
  EXPECT_EQ(Stored(HKEY_CURRENT_USER), stored);
  EXPECT_TRUE(Stored(HKEY_LOCAL_MACHINE).empty());
  EXPECT_EQ(RunsStarted(Calls()), 2u) << "stopped for the dialog, started again";

  // Configured before the first start (the receiver thread not yet run) and confirmed:
  // the loaded values are stored, nothing starts until the host starts the capture.
  DeleteFileA(calls_.c_str());
  const tools::ProgramRun first = tools::RunProgram(
      Command("--host old --config --answer-boxes ok"), [this](const std::string& o) {
        return RunsStarted(Calls()) == 1 && CountStarting(Split(o), "event ") >= signals_.size();
      });
  const Lines first_out = Split(first.out);
  SCOPED_TRACE(first.out);
  EXPECT_EQ(Starting(first_out, "box "), Lines{"box Plonix Config | "});
  EXPECT_EQ(Starting(first_out, "start "), Lines{"start -1"});
  const std::vector<StoredValue> confirmed = {
      {"AllowRing0", REG_BINARY, {0}},  {"BitMask", REG_BINARY, {16, 0, 0, 0}},
      {"ComName", REG_SZ, Text("USB")}, {"CommandOrder", REG_BINARY, {0, 0, 0, 0}},
      {"InputSignal", REG_BINARY, {1}}, {"PriorityLevel", REG_BINARY, {7}},
      {"StableCodes", REG_BINARY, {0}},
  };
  EXPECT_EQ(Stored(HKEY_CURRENT_USER), confirmed);
  EXPECT_EQ(RunsStarted(Calls()), 1u);
  EXPECT_EQ(Starting(first_out, "event ").size(), signals_.size()) << "the whole replay, once";
}

}  // namespace
}  // namespace sfh56

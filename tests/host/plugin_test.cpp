#include "host/plugin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "tests/config/scripted_config_box.h"
#include "tests/host/host_fakes.h"

namespace sfh56 {
namespace {

using platform::RootKey;

// The host's functions as the host would provide them; they record their calls here.
struct HostCalls {
  std::vector<std::string> events;
  std::string translation = "Ubersetzt";
  int32_t translate_result = 1;
  bool write_unterminated = false;
};
HostCalls* g_host = nullptr;

int32_t SFH_HOST_CALL HostEvent(const char* code, const char* payload, int32_t reserved,
                                int32_t device) {
  g_host->events.push_back(std::string(code) + "|" + payload + "|" + std::to_string(reserved) +
                           "|" + std::to_string(device));
  return 0;
}
int32_t SFH_HOST_CALL TableTranslate(const char*, char* buffer, int32_t size) {
  if (g_host->write_unterminated) {
    std::memset(buffer, 'x', static_cast<size_t>(size));
  } else {
    std::strcpy(buffer, g_host->translation.c_str());
  }
  return g_host->translate_result;
}
uint32_t SFH_HOST_CALL SupportTranslate(const char*, char* buffer, int32_t) {
  std::strcpy(buffer, g_host->translation.c_str());
  return static_cast<uint32_t>(g_host->translate_result);
}
const char* SFH_HOST_CALL OlderHostTranslate(const char* text) {
  static std::string shown;
  if (g_host->translate_result == 0) return nullptr;
  shown = std::string("[") + text + "]";
  return shown.c_str();
}

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override { g_host = &host_; }
  void TearDown() override { g_host = nullptr; }

  // Library load with the host's shared memory present or not.
  void Load(bool shared_memory) {
    fake_.host_ipc.mapping_exists = shared_memory;
    fake_.host_ipc.semaphore_exists = shared_memory;
    plugin_.OnLoad();
  }

  std::array<uintptr_t, kFunctionTableSlots> Table(bool translate, bool event) {
    std::array<uintptr_t, kFunctionTableSlots> table{};
    table.fill(0);
    if (translate) table[kTableTranslateSlot] = reinterpret_cast<uintptr_t>(&TableTranslate);
    if (event) table[kTableEventSlot] = reinterpret_cast<uintptr_t>(&HostEvent);
    return table;
  }

  HostCalls host_;
  test::FakePlatform fake_;
  test::ReceiverScript receiver_;
  Plugin plugin_{fake_.platform, test::ScriptedFactory(receiver_)};
};

TEST_F(PluginTest, IdentityTextsFollowTheTextCopyRuleOfEachSet) {
  char buffer[400];
  std::memset(buffer, '*', sizeof buffer);
  EXPECT_EQ(plugin_.GirName(buffer, 5), buffer);
  EXPECT_EQ(std::string(buffer, 7), std::string("Ploni\0*", 7)) << "5 characters and a zero";
  EXPECT_STREQ(plugin_.GirDescription(buffer, 100), "SFH-56 driver, written by Plonix Quorvel");
  EXPECT_STREQ(plugin_.GirVersion(buffer, 100), "1.15");
  EXPECT_STREQ(plugin_.IdentifyDevice(buffer, 255), "SFH-56 driver, written by Plonix Quorvel");
  EXPECT_STREQ(plugin_.VersionDevice(buffer, 2), "1.");

  // The older set's count is 8 bits wide.
  EXPECT_STREQ(plugin_.SupportDevice(buffer, 256), "");
  EXPECT_STREQ(plugin_.SupportDevice(buffer, 300), "Plonix SFH-56 device");

  // Host mistakes: no buffer, no room.
  EXPECT_EQ(plugin_.GirName(nullptr, 10), nullptr);
  EXPECT_STREQ(plugin_.GirName(buffer, 0), "");
  EXPECT_STREQ(plugin_.GirName(buffer, -5), "");
}

TEST_F(PluginTest, ComparisonAndApiQueries) {
  EXPECT_EQ(plugin_.GirCompare("abc", "ABC"), 0);
  EXPECT_EQ(plugin_.GirCompare("abc", "abc"), 1);
  EXPECT_EQ(plugin_.CompareStr("abc", "abc"), -1);
  EXPECT_EQ(plugin_.CompareStr("abc", "abd"), 0);
  EXPECT_EQ(plugin_.GirCompare(nullptr, "abc"), 0) << "a missing text never crashes";
  EXPECT_EQ(plugin_.CompareStr("abc", nullptr), 0);

  EXPECT_EQ(plugin_.GirRequestedApi(0), 0);
  EXPECT_EQ(plugin_.GirRequestedApi(-1), 0);
  EXPECT_EQ(plugin_.GirRequestedApi(1), 1);
  EXPECT_EQ(plugin_.GirRequestedApi(5), 1);
  EXPECT_EQ(plugin_.FlushDevice(), -1);

  EXPECT_EQ(plugin_.GetDeviceNum(), 7);
  EXPECT_EQ(plugin_.GirDevicenum(), 207);
  EXPECT_EQ(plugin_.GetDeviceNum(), 207);
}

TEST_F(PluginTest, LoadOpensTheHostsNamedObjectsToChooseLevel0Or1) {
  Load(false);
  EXPECT_EQ(plugin_.HostApiLevel(), 0);
  EXPECT_EQ(fake_.files.version_paths, std::vector<std::string>{"C:\\Host\\host.exe"});

  test::FakePlatform with_memory;
  Plugin level1(with_memory.platform, test::ScriptedFactory(receiver_));
  level1.OnLoad();
  EXPECT_EQ(level1.HostApiLevel(), 1);
  EXPECT_EQ(with_memory.host_ipc.opened,
            (std::vector<std::string>{"GirderFileMap6111976", "GirderSemaphore6111976"}));
  EXPECT_TRUE(with_memory.message_boxes.ShownBoxes().empty());

  // A mapping without the semaphore is not the host's shared memory.
  test::FakePlatform no_semaphore;
  no_semaphore.host_ipc.semaphore_exists = false;
  Plugin level0(no_semaphore.platform, test::ScriptedFactory(receiver_));
  level0.OnLoad();
  EXPECT_EQ(level0.HostApiLevel(), 0);
}

TEST_F(PluginTest, UnmappableViewShowsTheBoxAndStillSelectsLevel1) {
  fake_.host_ipc.view_maps = false;
  Load(true);
  EXPECT_EQ(plugin_.HostApiLevel(), 1);
  const auto boxes = fake_.message_boxes.ShownBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Cannot map segment");
  EXPECT_EQ(boxes[0].caption, "Plonix SFH-56 device");
  EXPECT_EQ(boxes[0].flags, platform::kMbOk);

  // With no view the code has nowhere to go: dropped without taking the semaphore.
  plugin_.DeliverCode("1A2B");
  EXPECT_TRUE(fake_.host_ipc.semaphore_waits.empty());
  EXPECT_TRUE(fake_.host_ipc.messages.empty());
}

TEST_F(PluginTest, GirOpenSelectsLevel3ForHostsFrom3Point2) {
  struct Case {
    int32_t major, minor;
    bool level3;
  } cases[] = {{3, 1, false}, {3, 2, true}, {4, 0, true}, {2, 9, false}, {5, 1, true}};
  for (const Case& c : cases) {
    test::FakePlatform fake;
    test::ReceiverScript script;
    Plugin plugin(fake.platform, test::ScriptedFactory(script));
    plugin.OnLoad();
    const auto table = Table(true, true);
    EXPECT_EQ(plugin.GirOpen(c.major, c.minor, 0, table.data()), 1);
    EXPECT_EQ(plugin.HostApiLevel(), c.level3 ? 3 : 1) << c.major << "." << c.minor;
    EXPECT_EQ(plugin.SettingsRootKey(), c.level3 ? RootKey::kLocalMachine : RootKey::kCurrentUser);
    EXPECT_EQ(plugin.GetDeviceNum(), c.level3 ? 207 : 7);
    EXPECT_TRUE(plugin.PluginOpen());
    EXPECT_EQ(script.created, 1);
    EXPECT_EQ(plugin.GirClose(), 1);
  }
}

TEST_F(PluginTest, OpenWithoutTableStillOpensAndKeepsTheEarlierTable) {
  Load(false);
  const auto table = Table(true, true);
  ASSERT_EQ(plugin_.GirOpen(3, 2, 0, table.data()), 1);
  ASSERT_EQ(plugin_.GirClose(), 1);
  EXPECT_EQ(plugin_.GirOpen(3, 2, 0, nullptr), 0);
  EXPECT_TRUE(plugin_.PluginOpen());
  plugin_.DeliverCode("48B7");
  EXPECT_EQ(host_.events, std::vector<std::string>{"48B7||0|207"});
}

TEST_F(PluginTest, StartStopAndCloseFollowTheReceiversAnswers) {
  // Before any open there is no receiver object: failure, no crash.
  EXPECT_EQ(plugin_.GirStart(), 0);
  EXPECT_EQ(plugin_.StopDevice(), 0);
  EXPECT_EQ(plugin_.GirInfo(2, 7, 0), 1);
  EXPECT_EQ(plugin_.ConfigDevice(), -1);
  EXPECT_EQ(plugin_.GirClose(), 1);

  plugin_.InitDevice(0x1234, nullptr);
  EXPECT_EQ(plugin_.HostWindow(), 0x1234u);
  EXPECT_EQ(plugin_.StartDevice(), -1);
  EXPECT_EQ(plugin_.StopDevice(), -1);
  receiver_.capture_opens = false;
  EXPECT_EQ(plugin_.GirStart(), 0);
  EXPECT_EQ(plugin_.GirStop(), 1);

  EXPECT_EQ(plugin_.GirClose(), 1);
  EXPECT_EQ(receiver_.destroyed, 1);
  EXPECT_FALSE(plugin_.PluginOpen());
  EXPECT_EQ(plugin_.GirClose(), 1) << "closing twice does nothing";
  EXPECT_EQ(std::count(receiver_.log.begin(), receiver_.log.end(), "terminate"), 1);
  EXPECT_EQ(plugin_.GirStart(), 0) << "no receiver after a close";
}

TEST_F(PluginTest, CloseWhoseThreadDoesNotEndKeepsTheReceiverUntilItEnds) {
  std::vector<bool> holds;
  plugin_.SetReceiverHold([&](bool hold) { holds.push_back(hold); });
  plugin_.GirOpen(3, 2, 0, nullptr);
  receiver_.thread_ends = false;
  EXPECT_EQ(plugin_.GirClose(), 0);
  EXPECT_FALSE(plugin_.PluginOpen());
  EXPECT_TRUE(plugin_.ReceiverAlive());
  EXPECT_EQ(plugin_.GirClose(), 1) << "the second close does nothing";
  EXPECT_EQ(plugin_.GirStart(), 0) << "closed: the retired receiver takes no requests";
  plugin_.OnUnload();
  EXPECT_EQ(receiver_.destroyed, 0) << "never destroyed while its thread may still run";
  EXPECT_EQ(std::count(receiver_.log.begin(), receiver_.log.end(), "terminate"), 1);
  EXPECT_EQ(holds, std::vector<bool>{true});

  // Its delivery returned and the thread ended: the next receiver call frees it.
  receiver_.thread_ends = true;
  EXPECT_EQ(plugin_.GirStop(), 0);
  EXPECT_EQ(receiver_.destroyed, 1);
  EXPECT_FALSE(plugin_.ReceiverAlive());
  EXPECT_EQ(holds, (std::vector<bool>{true, false}));
}

TEST_F(PluginTest, SecondOpenEndsTheEarlierReceiverFirst) {
  {
    Plugin plugin(fake_.platform, test::ScriptedFactory(receiver_));
    plugin.GirOpen(3, 2, 0, nullptr);
    plugin.GirStart();
    plugin.InitDevice(0, nullptr);
    EXPECT_EQ(receiver_.created, 2);
    EXPECT_EQ(receiver_.destroyed, 1) << "ended like a close, not left capturing";
    EXPECT_EQ(receiver_.log, (std::vector<std::string>{"start", "terminate"}));
    EXPECT_TRUE(plugin.PluginOpen());

    // One that cannot be ended now (it is delivering) is kept until its thread ends,
    // and the new receiver is opened all the same.
    receiver_.thread_ends = false;
    plugin.GirOpen(3, 2, 0, nullptr);
    EXPECT_EQ(receiver_.created, 3);
    EXPECT_EQ(plugin.RetiredReceivers(), 1u);
    EXPECT_TRUE(plugin.PluginOpen());
    EXPECT_EQ(receiver_.destroyed, 1);
  }
  EXPECT_EQ(receiver_.destroyed, 3) << "the plugin's end ends every receiver it made";
}

// A receiver whose Start takes long enough for another host thread to get at it, and
// which counts every close or destruction that comes while one of its calls runs.
struct CallOverlaps {
  std::mutex mutex;
  std::condition_variable changed;
  int in_start = 0;
  bool closed = false;
  int overlaps = 0;
};

class SlowStartReceiver : public ReceiverControl {
 public:
  explicit SlowStartReceiver(CallOverlaps& o) : o_(o) {}
  ~SlowStartReceiver() override {
    std::lock_guard lock(o_.mutex);
    if (o_.in_start > 0) ++o_.overlaps;
  }
  bool Start() override {
    std::unique_lock lock(o_.mutex);
    ++o_.in_start;
    o_.changed.notify_all();
    o_.changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return o_.closed; });
    --o_.in_start;
    return true;
  }
  bool Stop() override { return true; }
  bool TerminateAndWait() override {
    std::lock_guard lock(o_.mutex);
    if (o_.in_start > 0) ++o_.overlaps;
    o_.closed = true;
    o_.changed.notify_all();
    return true;
  }
  bool Running() const override { return false; }
  bool Ended() const override { return true; }
  ConfigurationOutcome RunConfiguration(ConfigBox&) override {
    return ConfigurationOutcome::kFailed;
  }

 private:
  CallOverlaps& o_;
};

TEST_F(PluginTest, HostCallsOnTheReceiverAreSerialisedAcrossHostThreads) {
  CallOverlaps overlaps;
  Plugin plugin(fake_.platform, [&](platform::Platform&, HostServices&) {
    return std::unique_ptr<ReceiverControl>(std::make_unique<SlowStartReceiver>(overlaps));
  });
  plugin.GirOpen(3, 2, 0, nullptr);
  std::thread starter([&] { EXPECT_EQ(plugin.GirStart(), 1); });
  {
    std::unique_lock lock(overlaps.mutex);
    overlaps.changed.wait(lock, [&] { return overlaps.in_start > 0; });
  }
  EXPECT_EQ(plugin.GirClose(), 1) << "waits for the start of the other thread";
  starter.join();
  EXPECT_EQ(overlaps.overlaps, 0) << "closed and destroyed only after the start returned";

  // The configuration cycle's dialog lets the host call in again on the same thread: a
  // close from there must neither deadlock nor free the receiver under the cycle.
  plugin_.GirOpen(3, 2, 0, nullptr);
  ASSERT_EQ(plugin_.GirStart(), 1);
  receiver_.log.clear();
  int destroyed_in_cycle = -1;
  plugin_.SetConfigBox(
      std::make_unique<testing::ScriptedConfigBox>(kModalResultOk, [&](ConfigBoxValues&) {
        EXPECT_EQ(plugin_.GirClose(), 1);
        destroyed_in_cycle = receiver_.destroyed;
      }));
  plugin_.GirConfig();
  EXPECT_EQ(destroyed_in_cycle, 0);
  EXPECT_EQ(receiver_.destroyed, 1);
  EXPECT_EQ(receiver_.log,
            (std::vector<std::string>{"stop", "load", "terminate", "save", "start"}));
  EXPECT_FALSE(plugin_.ReceiverAlive());
}

// The configure entry points: nothing without an open plugin, no start for a capture
// that never ran, one dialog at a time, no request from inside the dialog carried out,
// nothing at all while the receiver hands a code to the host.
TEST_F(PluginTest, ConfigureShowsOneDialogAtATimeAndOnlyForAnOpenPlugin) {
  using Log = std::vector<std::string>;
  std::vector<int32_t> inner;  // the host's calls from inside the dialog
  auto box = std::make_unique<testing::ScriptedConfigBox>(kModalResultOk, [&](ConfigBoxValues&) {
    inner = {plugin_.ConfigDevice(), plugin_.GirStart(), plugin_.StopDevice()};
    plugin_.GirConfig();
    std::thread other([&] { plugin_.GirConfig(); });  // another host thread
    other.join();
  });
  const testing::ScriptedConfigBox& shown = *box;
  plugin_.SetConfigBox(std::move(box));

  plugin_.GirConfig();
  EXPECT_EQ(plugin_.ConfigDevice(), -1);
  EXPECT_EQ(shown.shows, 0) << "not open";

  plugin_.InitDevice(0, nullptr);
  EXPECT_EQ(plugin_.ConfigDevice(), -1);
  EXPECT_EQ(shown.shows, 1);
  EXPECT_EQ(receiver_.log, (Log{"load", "save"})) << "never started: not started afterwards";
  EXPECT_EQ(inner, (std::vector<int32_t>{-1, 0, 0}));
  EXPECT_FALSE(plugin_.Configuring());

  ASSERT_EQ(plugin_.StartDevice(), -1);
  receiver_.log.clear();
  plugin_.GirConfig();
  plugin_.GirConfig();
  EXPECT_EQ(shown.shows, 3);
  EXPECT_EQ(receiver_.log, (Log{"stop", "load", "save", "start", "stop", "load", "save", "start"}));

  receiver_.log.clear();
  receiver_.delivering = true;
  EXPECT_EQ(plugin_.ConfigDevice(), -1);
  EXPECT_EQ(shown.shows, 3);
  EXPECT_EQ(receiver_.log, Log{});
}

TEST_F(PluginTest, UnloadClosesAnOpenPluginThenTheNamedObjects) {
  Load(true);
  plugin_.InitDevice(0, nullptr);
  plugin_.OnUnload();
  EXPECT_EQ(receiver_.log, std::vector<std::string>{"terminate"});
  EXPECT_EQ(receiver_.destroyed, 1);
  EXPECT_EQ(fake_.host_ipc.close_calls, 1);
}

TEST_F(PluginTest, PowerResumeRestartsOnlyARunningCapture) {
  plugin_.GirOpen(3, 2, 0, nullptr);
  EXPECT_EQ(plugin_.GirInfo(2, 7, 0), 1);
  EXPECT_TRUE(receiver_.log.empty()) << "stopped: nothing to do";

  plugin_.GirStart();
  receiver_.log.clear();
  EXPECT_EQ(plugin_.GirInfo(2, 7, 0), 1);
  EXPECT_EQ(plugin_.GirInfo(2, 6, 0), 1);
  EXPECT_EQ(receiver_.log, (std::vector<std::string>{"stop", "start", "stop", "start"}));
  receiver_.log.clear();
  for (int event : {0, 4, 5, 8}) EXPECT_EQ(plugin_.GirInfo(2, event, 0), 1);
  EXPECT_EQ(plugin_.GirInfo(1, 7, 0), 1);
  EXPECT_TRUE(receiver_.log.empty()) << "suspend queries are granted, nothing else done";
}

TEST_F(PluginTest, SupportFunctionsRaiseLevelAndRootForHost3Point1) {
  fake_.files.SetFileVersion("3.1.0.0");
  Load(true);
  std::array<uintptr_t, kSupportBlockWords> record{};
  record[0] = sizeof record;

  EXPECT_EQ(plugin_.HSupportFunctions(record.data()), 2);
  EXPECT_EQ(plugin_.HostApiLevel(), 2);
  EXPECT_EQ(plugin_.SettingsRootKey(), RootKey::kCurrentUser) << "chosen by the level on entry";
  EXPECT_EQ(plugin_.HostMessageId(), 2054u);

  EXPECT_EQ(plugin_.HSupportFunctions(record.data()), 2);
  EXPECT_EQ(plugin_.SettingsRootKey(), RootKey::kLocalMachine);
  EXPECT_EQ(plugin_.HostMessageId(), 0xC123u);
  EXPECT_EQ(fake_.host_ipc.registered_names,
            std::vector<std::string>{"9FC3EB47-4ED7-41f2-BDE7-955D1BB05D8E"});

  // Delivery on level 2 uses the registered message.
  plugin_.InitDevice(0x77, nullptr);
  plugin_.DeliverCode("48B7");
  ASSERT_EQ(fake_.host_ipc.messages.size(), 1u);
  EXPECT_EQ(fake_.host_ipc.messages[0].message, 0xC123u);
  EXPECT_EQ(fake_.host_ipc.messages[0].window, 0x77u);
}

TEST_F(PluginTest, SupportFunctionsKeepLevelForOlderOrUnreadableVersions) {
  for (const char* version : {"3.09", "", "v3.5"}) {
    test::FakePlatform fake;
    fake.files.SetFileVersion(version);
    Plugin plugin(fake.platform, test::ScriptedFactory(receiver_));
    plugin.OnLoad();
    uint32_t record[11] = {44};
    EXPECT_EQ(plugin.HSupportFunctions(record), 1) << version;
    EXPECT_EQ(plugin.HSupportFunctions(nullptr), 1) << version;
    EXPECT_EQ(plugin.HSupportFunctions(record), 1) << version;
    EXPECT_EQ(plugin.HostApiLevel(), 1) << version;
    EXPECT_EQ(plugin.HostMessageId(), 2054u);
  }
  // A level set by a newer host's open is not touched by the older host's record.
  fake_.files.SetFileVersion("3.1");
  Load(true);
  plugin_.GirOpen(3, 2, 0, nullptr);
  uint32_t record[11] = {44};
  EXPECT_EQ(plugin_.HSupportFunctions(record), 2);
  EXPECT_EQ(plugin_.SettingsRootKey(), RootKey::kLocalMachine);
}

TEST_F(PluginTest, ShortSupportRecordLeavesTheTranslationFunctionUnset) {
  Load(false);
  std::array<uintptr_t, kSupportBlockWords> record{};
  record.fill(reinterpret_cast<uintptr_t>(&SupportTranslate));
  record[0] = 20;
  plugin_.HSupportFunctions(record.data());
  plugin_.InitDevice(0, &OlderHostTranslate);
  EXPECT_EQ(plugin_.TranslateText("Port"), "[Port]") << "falls back to the init_device function";

  // A record that ends inside the function's word brings none of it: a few of its bytes
  // would make a pointer to nowhere.
  constexpr size_t kWordStart = kSupportTranslateWord * sizeof(uintptr_t);
  record[0] = kWordStart + 2;
  plugin_.HSupportFunctions(record.data());
  EXPECT_EQ(plugin_.TranslateText("Port"), "[Port]");

  // The full record brings the support block's function, which wins when it translates.
  record[0] = sizeof record;
  plugin_.HSupportFunctions(record.data());
  EXPECT_EQ(plugin_.TranslateText("Port"), "Ubersetzt");
  host_.translate_result = 0x100;  // only the low byte counts
  EXPECT_EQ(plugin_.TranslateText("Port"), "[Port]");

  // A later record ending inside the word leaves the whole earlier function in place, as
  // a shorter record does, never a pointer made of both.
  host_.translate_result = 1;
  for (size_t count : {kWordStart + 1, kWordStart + sizeof(uintptr_t) - 1, size_t{20}}) {
    record.fill(0x5A5A5A5A);
    record[0] = count;
    plugin_.HSupportFunctions(record.data());
    EXPECT_EQ(plugin_.TranslateText("Port"), "Ubersetzt") << count;
  }
}

TEST_F(PluginTest, OlderHostTranslationFallsBackToTheTextItself) {
  Load(false);
  EXPECT_EQ(plugin_.TranslateText("Port"), "Port") << "no functions at all";
  plugin_.InitDevice(0, &OlderHostTranslate);
  host_.translate_result = 0;  // the host's function answers with no text
  EXPECT_EQ(plugin_.TranslateText("Port"), "Port");
}

TEST_F(PluginTest, NewerHostTranslationCountsOnlyAResultOfExactly1) {
  const auto table = Table(true, true);
  plugin_.GirOpen(3, 2, 0, table.data());
  EXPECT_EQ(plugin_.TranslateText("Port"), "Ubersetzt");
  host_.translate_result = 2;
  EXPECT_EQ(plugin_.TranslateText("Port"), "Port");

  // A host that fills the whole buffer without a terminator gives at most 1000 characters.
  host_.translate_result = 1;
  host_.write_unterminated = true;
  EXPECT_EQ(plugin_.TranslateText("Port"), std::string(1000, 'x'));

  const auto no_translation = Table(false, true);
  plugin_.GirOpen(3, 2, 0, no_translation.data());
  EXPECT_EQ(plugin_.TranslateText("Port"), "Port");
}

TEST_F(PluginTest, Level0DeliversAPrivateCopyByCopyData) {
  Load(false);
  plugin_.InitDevice(0x55, nullptr);
  plugin_.DeliverCode("1A2B");
  plugin_.DeliverCode("");
  ASSERT_EQ(fake_.host_ipc.copies.size(), 2u);
  const auto& copy = fake_.host_ipc.copies[0];
  EXPECT_EQ(copy.window, 0x55u);
  EXPECT_EQ(copy.wparam, 7u);
  EXPECT_EQ(copy.dw_data, 0u);
  EXPECT_EQ(copy.bytes, (std::vector<char>{'1', 'A', '2', 'B', '\0'}));
  EXPECT_EQ(fake_.host_ipc.copies[1].bytes, std::vector<char>{'\0'}) << "empty code, cbData 1";
}

TEST_F(PluginTest, Level1WritesTheViewUnderTheSemaphoreAndDropsWhenItIsHeld) {
  Load(true);
  fake_.host_ipc.semaphore_count = 2;
  plugin_.InitDevice(0x55, nullptr);
  plugin_.DeliverCode("1A2B");
  plugin_.DeliverCode("");
  plugin_.DeliverCode("FFFF");  // the host never released the semaphore: dropped
  plugin_.DeliverCode("EEEE");
  EXPECT_EQ(fake_.host_ipc.semaphore_waits, (std::vector<uint32_t>{50, 50, 50, 50}));
  ASSERT_EQ(fake_.host_ipc.messages.size(), 2u);
  EXPECT_EQ(fake_.host_ipc.messages[0].view_text, "1A2B");
  EXPECT_EQ(fake_.host_ipc.messages[0].message, 2054u);
  EXPECT_EQ(fake_.host_ipc.messages[0].wparam, 7u);
  EXPECT_EQ(fake_.host_ipc.messages[0].lparam, 0);
  EXPECT_EQ(fake_.host_ipc.messages[1].view_text, "");
  EXPECT_EQ(fake_.host_ipc.view[1], 'A') << "only the code and its zero are written";
  EXPECT_EQ(fake_.host_ipc.view[2], '2');
}

TEST_F(PluginTest, Level1NeverWritesPastASmallView) {
  fake_.host_ipc.view.assign(4, '#');
  Load(true);
  plugin_.DeliverCode("123456789");
  ASSERT_EQ(fake_.host_ipc.messages.size(), 1u);
  EXPECT_EQ(fake_.host_ipc.messages[0].view_text, "123");
}

TEST_F(PluginTest, Level3CallsTheEventFunctionThenGivesWayOnce) {
  const auto table = Table(false, true);
  plugin_.GirOpen(3, 2, 0, table.data());
  plugin_.DeliverCode("48B7");
  plugin_.DeliverCode("");
  EXPECT_EQ(host_.events, (std::vector<std::string>{"48B7||0|207", "||0|207"}));
  EXPECT_EQ(fake_.scheduler.calls,
            (std::vector<std::string>{"priority -1", "sleep 0", "priority 15", "priority -1",
                                      "sleep 0", "priority 15"}));

  // A host without an event function gets nothing.
  const auto no_event = Table(false, false);
  plugin_.GirOpen(3, 2, 0, no_event.data());
  fake_.scheduler.calls.clear();
  plugin_.DeliverCode("48B7");
  EXPECT_EQ(host_.events.size(), 2u);
  EXPECT_TRUE(fake_.scheduler.calls.empty());
}

TEST_F(PluginTest, NewerHostOpenedAs3Point1DeliversOnTheLevelFoundAtLoad) {
  Load(false);
  const auto table = Table(true, true);
  plugin_.GirOpen(3, 1, 0, table.data());
  plugin_.DeliverCode("48B7");
  EXPECT_TRUE(host_.events.empty());
  ASSERT_EQ(fake_.host_ipc.copies.size(), 1u);
  EXPECT_EQ(fake_.host_ipc.copies[0].window, 0u) << "the null window: reaches nobody";
}

}  // namespace
}  // namespace sfh56

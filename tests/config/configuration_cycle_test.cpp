// The configuration cycle against a receiver double whose settings live in a simulated
// registry, and a scripted dialog: the order of its steps, what OK and the close button
// leave in memory and in the registry, the ring-0 and pin choices, the host's
// translations, and a receiver that cannot be stopped.

#include "config/configuration_cycle.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/identity.h"
#include "config/config_box_texts.h"
#include "platform/sim/sim_registry.h"
#include "tests/config/scripted_config_box.h"

namespace sfh56 {
namespace {

using C = ConfigControl;
using platform::RootKey;
using Log = std::vector<std::string>;

const std::string kKeyPath = std::string(kSettingsKeyPrefix) + kPluginName;
constexpr RootKey kRoot = RootKey::kLocalMachine;

// The stored values as comparable text: name, type and bytes.
Log Stored(const sim::SimRegistry& registry) {
  Log lines;
  for (const auto& named : registry.Values(kRoot, kKeyPath)) {
    std::string line = named.name + " " + std::to_string(named.value.type);
    for (uint8_t byte : named.value.data) line += " " + std::to_string(byte);
    lines.push_back(line);
  }
  return lines;
}

class FakeReceiver : public ConfigurableReceiver {
 public:
  bool Running() const override { return running; }
  bool StartPending() const override { return start_pending; }
  bool Delivering() const override { return delivering; }
  bool Stop() override {
    log.push_back("stop");
    if (stop_acknowledged) running = start_pending = false;
    return !running;
  }
  bool Start() override {
    log.push_back("start");
    running = true;
    start_pending = false;
    return true;
  }
  void LoadSettings() override {
    log.push_back("load");
    sfh56::LoadSettings(settings, registry, kRoot, ring0_possible);
    if (loaded_pin) settings.InputSignal = *loaded_pin;
  }
  void SaveSettings() override {
    log.push_back("save");
    at_save = settings;
    sfh56::SaveSettings(settings, registry, kRoot);
  }
  ReceiverSettings& Settings() override { return settings; }
  bool Ring0Possible() const override { return ring0_possible; }
  std::string TranslateText(const std::string& text) override {
    asked.push_back(text);
    return translate ? translate(text) : text;
  }
  void SleepMs(uint32_t ms) override { log.push_back("sleep " + std::to_string(ms)); }

  // A dialog that logs its showing, checks that no capture runs meanwhile, then does
  // what the user does.
  testing::ScriptedConfigBox Box(int result, std::function<void(ConfigBoxValues&)> edit = {}) {
    return testing::ScriptedConfigBox(result, [this, edit](ConfigBoxValues& values) {
      log.push_back("show");
      EXPECT_FALSE(running) << "capture runs while the dialog is shown";
      if (edit) edit(values);
    });
  }

  sim::SimRegistry registry;
  ReceiverSettings settings;
  ReceiverSettings at_save;
  bool running = false;
  bool start_pending = false;
  bool delivering = false;
  bool stop_acknowledged = true;
  bool ring0_possible = false;
  std::optional<uint8_t> loaded_pin;  // a load that leaves this pin, whatever is stored
  std::function<std::string(const std::string&)> translate;
  Log log;
  Log asked;
};

class ThrowingBox : public ConfigBox {
 public:
  int ShowModal(const ConfigBoxTexts&, ConfigBoxValues&) override {
    throw std::runtime_error("no dialog");
  }
};

TEST(ConfigurationCycle, StopsLoadsShowsStoresAndRestartsInOrder) {
  const struct {
    bool running;
    int result;  // 0: the dialog fails
    Log log;
    ConfigurationOutcome outcome;
    bool start_pending = false;  // a start made during a delivery, not yet answered
  } cases[] = {
      {true,
       kModalResultOk,
       {"stop", "load", "show", "save", "sleep 10", "start"},
       ConfigurationOutcome::kConfirmed},
      {true,
       kModalResultCancel,
       {"stop", "load", "show", "sleep 10", "start"},
       ConfigurationOutcome::kCancelled},
      {true,
       kModalResultNone,
       {"stop", "load", "show", "sleep 10", "start"},
       ConfigurationOutcome::kFailed},
      {true, -1, {"stop", "load", "sleep 10", "start"}, ConfigurationOutcome::kFailed},
      {false, kModalResultOk, {"load", "show", "save"}, ConfigurationOutcome::kConfirmed},
      {false, kModalResultCancel, {"load", "show"}, ConfigurationOutcome::kCancelled},
      {false,
       kModalResultCancel,
       {"stop", "load", "show", "sleep 10", "start"},
       ConfigurationOutcome::kCancelled,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.log));
    FakeReceiver receiver;
    receiver.running = c.running;
    receiver.start_pending = c.start_pending;
    ThrowingBox throwing;
    testing::ScriptedConfigBox box = receiver.Box(c.result);
    ConfigBox& dialog = c.result == -1 ? static_cast<ConfigBox&>(throwing) : box;
    EXPECT_EQ(RunConfiguration(receiver, dialog), c.outcome);
    EXPECT_EQ(receiver.log, c.log);
    EXPECT_EQ(receiver.running, c.running || c.start_pending) << "capture ends as the host left it";
  }
}

TEST(ConfigurationCycle, OkStoresTheControlsAndSetsServiceModeOnlyAfterTheSave) {
  FakeReceiver receiver;
  receiver.registry.PutRaw(kRoot, kKeyPath, "BitMask", platform::kRegBinary, {12, 0, 0, 0});
  testing::ScriptedConfigBox box = receiver.Box(kModalResultOk, [](ConfigBoxValues& v) {
    v.port = "COM10";
    v.input_signal = 0;
    v.command_order = 3;
    v.bit_mask = 8;
    v.priority = 2;
    v.service = true;
    v.stable_checked = true;
  });
  EXPECT_EQ(RunConfiguration(receiver, box), ConfigurationOutcome::kConfirmed);
  EXPECT_FALSE(box.shown_values.stable_checked) << "no stored value: the classic decoding";
  EXPECT_EQ(box.shown_values.bit_mask, 12) << "the dialog starts from the stored values";

  ReceiverSettings stored;
  LoadSettings(stored, receiver.registry, kRoot, false);
  for (const ReceiverSettings* s : {&receiver.settings, &stored}) {
    EXPECT_EQ(s->ComName, "COM10");
    EXPECT_EQ(s->InputSignal, 0);
    EXPECT_EQ(s->CommandOrder, 3);
    EXPECT_EQ(s->BitMask, 8);
    EXPECT_EQ(s->PriorityLevel, 2);
    EXPECT_TRUE(s->StableCodes);
  }
  EXPECT_FALSE(receiver.at_save.ServiceMode);
  EXPECT_TRUE(receiver.settings.ServiceMode);
  EXPECT_EQ(receiver.registry.Values(kRoot, kKeyPath).size(), 7u) << "no value for service mode";

  // The next cycle shows the service box as the last one left it.
  testing::ScriptedConfigBox again = receiver.Box(kModalResultCancel);
  RunConfiguration(receiver, again);
  EXPECT_TRUE(again.shown_values.service);
  EXPECT_TRUE(again.shown_values.stable_checked);
  EXPECT_TRUE(receiver.settings.ServiceMode);
}

TEST(ConfigurationCycle, CancelLeavesTheRegistryAndBringsMemoryBackToTheStoredValues) {
  FakeReceiver receiver;
  receiver.ring0_possible = true;
  ReceiverSettings stored;
  stored.ComName = "COM2";
  stored.BitMask = 8;
  stored.AllowRing0 = true;
  SaveSettings(stored, receiver.registry, kRoot);
  const Log before = Stored(receiver.registry);
  // Memory differs: a capture run cleared the ring-0 switch, the service log is on.
  receiver.settings = stored;
  receiver.settings.BitMask = 20;
  receiver.settings.AllowRing0 = false;
  receiver.settings.ServiceMode = true;

  testing::ScriptedConfigBox box = receiver.Box(kModalResultCancel, [](ConfigBoxValues& v) {
    v.port = "USB";
    v.bit_mask = 1;
    v.service = false;
    v.ring0_checked = false;
  });
  EXPECT_EQ(RunConfiguration(receiver, box), ConfigurationOutcome::kCancelled);
  EXPECT_TRUE(box.shown_values.ring0_checked);
  EXPECT_EQ(Stored(receiver.registry), before);
  EXPECT_EQ(receiver.settings.ComName, "COM2");
  EXPECT_EQ(receiver.settings.BitMask, 8);
  EXPECT_TRUE(receiver.settings.AllowRing0);
  EXPECT_TRUE(receiver.settings.ServiceMode) << "the service switch keeps its value";
}

TEST(ConfigurationCycle, Ring0BoxFollowsWhatIsPossibleAndHiddenValuesAreStored) {
  const struct {
    const char* name;
    bool possible;
    uint8_t stored;
    bool tick;  // the user (or a faulty dialog) ticks the box
    bool shown_enabled;
    bool shown_checked;
    uint8_t saved;
  } cases[] = {
      {"USB with the hidden box ticked", true, 0, true, true, false, 1},
      {"possible and stored", true, 1, false, true, true, 1},
      {"impossible, stored 1", false, 1, false, false, false, 0},
      {"impossible, ticked anyway", false, 1, true, false, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeReceiver receiver;
    receiver.ring0_possible = c.possible;
    receiver.registry.PutRaw(kRoot, kKeyPath, "AllowRing0", platform::kRegBinary, {c.stored});
    testing::ScriptedConfigBox box = receiver.Box(kModalResultOk, [&](ConfigBoxValues& v) {
      v.port = "USB";
      if (c.tick) v.ring0_checked = true;
    });
    RunConfiguration(receiver, box);
    EXPECT_EQ(box.shown_values.ring0_enabled, c.shown_enabled);
    EXPECT_EQ(box.shown_values.ring0_checked, c.shown_checked);
    EXPECT_EQ(receiver.registry.ReadRaw(kRoot, kKeyPath, "AllowRing0")->data,
              std::vector<uint8_t>{c.saved});
    EXPECT_EQ(receiver.registry.ReadRaw(kRoot, kKeyPath, "ComName")->data,
              (std::vector<uint8_t>{'U', 'S', 'B', 0}));
  }
}

TEST(ConfigurationCycle, PinListWithoutASelectionStoresAPinOfTheThree) {
  const struct {
    uint8_t loaded;
    int32_t chosen;  // what the pin list reports at OK
    uint8_t stored;
  } cases[] = {{2, -1, 2}, {7, -1, 1}, {200, 5, 1}, {7, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chosen);
    FakeReceiver receiver;
    receiver.loaded_pin = c.loaded;
    testing::ScriptedConfigBox box =
        receiver.Box(kModalResultOk, [&](ConfigBoxValues& v) { v.input_signal = c.chosen; });
    RunConfiguration(receiver, box);
    if (c.loaded > 2) {
      EXPECT_EQ(box.shown_values.input_signal, -1) << "no item selected";
    }
    EXPECT_EQ(receiver.settings.InputSignal, c.stored);
    EXPECT_EQ(receiver.registry.ReadRaw(kRoot, kKeyPath, "InputSignal")->data,
              std::vector<uint8_t>{c.stored});
  }
}

TEST(ConfigurationCycle, EveryTextComesFromTheHostInOrderAndOddAnswersStayUsable) {
  // Each answer placed where its text belongs: the host's translations in order.
  FakeReceiver receiver;
  int count = 0;
  receiver.translate = [&](const std::string&) { return "T" + std::to_string(++count); };
  testing::ScriptedConfigBox box = receiver.Box(kModalResultCancel);
  RunConfiguration(receiver, box);
  Log english;
  for (const ConfigBoxSourceText& source : ConfigBoxSourceTexts()) english.push_back(source.text);
  EXPECT_EQ(receiver.asked, english);
  int replay = 0;
  const ConfigBoxTexts expected =
      TranslateConfigBoxTexts([&](const std::string&) { return "T" + std::to_string(++replay); });
  EXPECT_EQ(box.shown_texts.captions, expected.captions);
  EXPECT_EQ(box.shown_texts.hints, expected.hints);

  // A host that answers with nothing or with far too much.
  const std::string huge(5000, 'x');
  const struct {
    std::string answer;
    std::string advanced_caption;
    std::string ok_hint;
  } cases[] = {
      {"", "Advanced >>",
       "Apply settings|Apply this settings and close this configuration window (return with "
       "saving settings)."},
      {"Erweitert", "Erweitert >>", "Erweitert|Erweitert"},
      {huge, huge.substr(0, kMaxTranslatedChars) + " >>",
       huge.substr(0, kMaxTranslatedChars) + "|" + huge.substr(0, kMaxTranslatedChars)},
  };
  for (const auto& c : cases) {
    FakeReceiver host;
    host.translate = [&](const std::string&) { return c.answer; };
    testing::ScriptedConfigBox shown = host.Box(kModalResultCancel);
    RunConfiguration(host, shown);
    EXPECT_EQ(shown.shown_texts.Caption(C::AdvancedButton), c.advanced_caption);
    EXPECT_EQ(shown.shown_texts.Hint(C::OKButton), c.ok_hint);
  }
}

TEST(ConfigurationCycle, AReceiverThatCannotStopNowIsLeftAlone) {
  FakeReceiver delivering;
  delivering.running = true;
  delivering.delivering = true;
  testing::ScriptedConfigBox box = delivering.Box(kModalResultOk);
  EXPECT_EQ(RunConfiguration(delivering, box), ConfigurationOutcome::kReceiverBusy);
  EXPECT_EQ(delivering.log, Log{}) << "not even asked to stop";
  EXPECT_EQ(box.shows, 0);

  FakeReceiver unanswered;
  unanswered.running = true;
  unanswered.stop_acknowledged = false;
  unanswered.settings.BitMask = 20;
  testing::ScriptedConfigBox second = unanswered.Box(kModalResultOk);
  EXPECT_EQ(RunConfiguration(unanswered, second), ConfigurationOutcome::kReceiverBusy);
  EXPECT_EQ(unanswered.log, Log{"stop"});
  EXPECT_EQ(second.shows, 0);
  EXPECT_EQ(unanswered.settings.BitMask, 20) << "settings untouched while capture may read them";

  // A capture still starting reads as stopped, and so does an unanswered stop of it.
  FakeReceiver starting;
  starting.start_pending = true;
  starting.stop_acknowledged = false;
  testing::ScriptedConfigBox third = starting.Box(kModalResultOk);
  EXPECT_EQ(RunConfiguration(starting, third), ConfigurationOutcome::kReceiverBusy);
  EXPECT_EQ(starting.log, Log{"stop"});
  EXPECT_EQ(third.shows, 0);
}

}  // namespace
}  // namespace sfh56

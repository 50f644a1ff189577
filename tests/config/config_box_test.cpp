// The configuration dialog's behaviour without windows: texts, spin edits, layout, port
// rule, defaults, and the hint and help state machine on a fake clock.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/config_box.h"
#include "config/config_box_layout.h"
#include "config/config_box_logic.h"
#include "config/config_box_texts.h"
#include "config/spin_edit_rule.h"
#include "tests/config/scripted_config_box.h"

namespace sfh56 {
namespace {

using C = ConfigControl;

TEST(ConfigBoxTexts, TranslatesEveryTextInOrderAndBuildsShortAndLongHints) {
  std::vector<std::string> asked;
  const ConfigBoxTexts texts = TranslateConfigBoxTexts([&](const std::string& text) {
    asked.push_back(text);
    return "<" + std::to_string(asked.size()) + ">";
  });
  ASSERT_EQ(asked.size(), kConfigBoxTextCount);
  for (size_t i = 0; i < asked.size(); ++i) EXPECT_EQ(asked[i], ConfigBoxSourceTexts()[i].text);

  EXPECT_EQ(texts.Hint(C::COMComboBox), "<1>|<2>");
  EXPECT_EQ(texts.Caption(C::COMLabel), "<3>");
  EXPECT_EQ(texts.Caption(C::AdvancedButton), "<13> >>");  // the arrows are never translated
  EXPECT_EQ(texts.Hint(C::LoadDefaultButton), "<34>|<35>");
  EXPECT_EQ(texts.Caption(C::StableCodesCheckBox), "<36>");
  EXPECT_EQ(texts.Hint(C::StableCodesCheckBox), "<37>|<38>");
  EXPECT_EQ(texts.Caption(C::WWWLabel), "");  // "www" is the label's own
  EXPECT_EQ(texts.Hint(C::Panel1), "");
  for (C label :
       {C::COMLabel, C::InputSignalLabel, C::CountLabel, C::BitMaskLabel, C::PriorityLabel}) {
    EXPECT_EQ(texts.Hint(label), texts.Hint(*LabelledControl(label)));
  }
  for (const ConfigControl control :
       {C::COMComboBox, C::InputSignalComboBox, C::OKButton, C::InfoButton, C::AdvancedButton,
        C::WWWLabel, C::ServiceCheckBox, C::CommandOrderSpinEdit, C::BitMaskSpinEdit,
        C::AllowRing0CheckBox, C::PrioritySpinEdit, C::LoadDefaultButton, C::StableCodesCheckBox}) {
    EXPECT_NE(ShortHint(texts.Hint(control)), LongHint(texts.Hint(control)));
  }

  // Hosts' translation tables are keyed on the exact texts, odd spacing included.
  const ConfigBoxTexts english = EnglishConfigBoxTexts();
  EXPECT_NE(LongHint(english.Hint(C::ServiceCheckBox)).find("remotes  are"), std::string::npos);
  EXPECT_NE(LongHint(english.Hint(C::ServiceCheckBox)).find(kHomePageAddress), std::string::npos);
  EXPECT_NE(LongHint(english.Hint(C::InputSignalLabel)).find("according  to"), std::string::npos);
  EXPECT_NE(LongHint(english.Hint(C::LoadDefaultButton)).find("changed   many"), std::string::npos);
}

TEST(ConfigBoxTexts, HintPartsSplitAtTheFirstBar) {
  EXPECT_EQ(ShortHint("a|b|c"), "a");
  EXPECT_EQ(LongHint("a|b|c"), "b|c");
  EXPECT_EQ(ShortHint("plain"), "plain");
  EXPECT_EQ(LongHint("plain"), "plain");
  EXPECT_EQ(LongHint(""), "");
}

TEST(SpinEditRule, ReadsTextsAndClampsToTheRange) {
  struct Case {
    SpinEditRule rule;
    const char* text;
    int32_t value;
  };
  const Case cases[] = {
      {kCommandOrderSpin, "5", 5},
      {kCommandOrderSpin, "12", 9},
      {kCommandOrderSpin, "", 0},
      {kCommandOrderSpin, "-", 0},
      {kCommandOrderSpin, "+", 0},
      {kCommandOrderSpin, "+7", 7},
      {kCommandOrderSpin, "x", 0},
      {kCommandOrderSpin, "1.5", 0},
      {kCommandOrderSpin, "1 ", 0},
      {kBitMaskSpin, "200", 99},
      {kBitMaskSpin, "-5", 0},
      {kBitMaskSpin, "16", 16},
      {kBitMaskSpin, "99999999999999999999999", 99},
      {kPrioritySpin, "9", 8},
      {kPrioritySpin, "-0", 0},
      {kPrioritySpin, "08", 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.rule.Read(c.text), c.value) << '"' << c.text << '"';
  }
  EXPECT_EQ(kCommandOrderSpin.Step("9", +1), 9);
  EXPECT_EQ(kCommandOrderSpin.Step("0", -1), 0);
  EXPECT_EQ(kCommandOrderSpin.Step("-", +1), 1);
  EXPECT_EQ(kBitMaskSpin.Step("16", -1), 15);
  EXPECT_EQ(kPrioritySpin.Clamp(-2147483648LL), 0);
  for (char c : std::string("0123456789+-,")) EXPECT_TRUE(SpinEditRule::AcceptsChar(c, ','));
  for (char c : std::string("a .e\t")) EXPECT_FALSE(SpinEditRule::AcceptsChar(c, ','));
}

TEST(ConfigBoxValues, ControlsBringWhatTheCycleGivesIntoTheirRanges) {
  ConfigBoxValues given;
  given.port = "COM10-LONG";  // set from code: not cut to the typing limit
  given.input_signal = 3;
  given.command_order = 12;
  given.bit_mask = 200;
  given.priority = -1;
  // A scripted dialog, as a test of the configuration cycle would use it.
  testing::ScriptedConfigBox box(kModalResultOk, [](ConfigBoxValues& v) { v.port = "USB"; });
  ConfigBoxValues values = given;
  EXPECT_EQ(box.ShowModal(EnglishConfigBoxTexts(), values), kModalResultOk);
  EXPECT_EQ(box.shown_values.port, "COM10-LONG");
  EXPECT_EQ(box.shown_values.input_signal, -1);
  EXPECT_EQ(box.shown_values.command_order, 9);
  EXPECT_EQ(box.shown_values.bit_mask, 99);
  EXPECT_EQ(box.shown_values.priority, 0);
  EXPECT_EQ(values.port, "USB");

  testing::ScriptedConfigBox cancelled(kModalResultCancel,
                                       [](ConfigBoxValues& v) { v.bit_mask = 1; });
  values = given;
  EXPECT_EQ(cancelled.ShowModal(EnglishConfigBoxTexts(), values), kModalResultCancel);
  EXPECT_EQ(values, given);
}

class ConfigBoxLogicTest : public ::testing::Test {
 protected:
  // A frame of 6 by 25 pixels around the client area.
  static constexpr Size kFrame{6, 25};

  ConfigBoxLogic Make(bool ring0_enabled) {
    ConfigBoxLogic logic(EnglishConfigBoxTexts(), ring0_enabled);
    logic.FormCreate(0);
    Resize(logic, {kBasicClientWidth, kClientHeight});
    return logic;
  }
  // The window system asks the dialog for a size while its client area is `client`.
  static Size Resize(ConfigBoxLogic& logic, Size client) {
    return logic.FormCanResize({client.width + kFrame.width, client.height + kFrame.height},
                               client);
  }
  static std::string HoverText(const ConfigBoxLogic& logic) {
    return logic.HoverHintWindow() ? logic.HoverHintWindow()->text : "(none)";
  }
  static uint32_t HoverSerial(const ConfigBoxLogic& logic) {
    return logic.HoverHintWindow() ? logic.HoverHintWindow()->serial : 0;
  }
  static std::string HelpText(const ConfigBoxLogic& logic) {
    return logic.HelpHintWindow() ? logic.HelpHintWindow()->text : "(none)";
  }
  static std::string Short(C control) { return ShortHint(EnglishConfigBoxTexts().Hint(control)); }
  static std::string Long(C control) { return LongHint(EnglishConfigBoxTexts().Hint(control)); }
};

TEST_F(ConfigBoxLogicTest, LayoutToggleKeepsTheCaptionsArrowsAndTheSizeFixed) {
  ConfigBoxLogic logic = Make(false);
  EXPECT_EQ(logic.LayoutTag(), kBasicLayout);
  EXPECT_EQ(logic.AdvancedCaption(), "Advanced >>");
  // A resize attempt in the basic layout, then from the advanced one back and forth.
  EXPECT_EQ(logic.FormCanResize({400, 300}, {394, 275}), (Size{166, 155}));
  logic.AdvancedButtonClick();
  EXPECT_EQ(logic.LayoutTag(), kAdvancedLayout);
  EXPECT_EQ(logic.ClientWidth(), kAdvancedClientWidth);
  EXPECT_EQ(logic.AdvancedCaption(), "Advanced <<");
  EXPECT_EQ(Resize(logic, {kBasicClientWidth, kClientHeight}), (Size{341, 155}));
  EXPECT_EQ(logic.FormCanResize({100, 50}, {94, 25}), (Size{341, 155}));
  logic.AdvancedButtonClick();
  EXPECT_EQ(logic.ClientWidth(), kBasicClientWidth);
  EXPECT_EQ(logic.AdvancedCaption(), "Advanced >>");

  // A translated caption keeps its own text; one shorter than the arrows loses it all.
  ConfigBoxTexts texts = EnglishConfigBoxTexts();
  texts.Caption(C::AdvancedButton) = "X";
  ConfigBoxLogic short_caption(texts, false);
  short_caption.AdvancedButtonClick();
  EXPECT_EQ(short_caption.AdvancedCaption(), "<<");
}

TEST_F(ConfigBoxLogicTest, PortRuleHidesThePinAndRing0ControlsForUsbOnly) {
  ConfigBoxLogic logic = Make(true);
  const C ruled[] = {C::InputSignalComboBox, C::InputSignalLabel, C::AllowRing0CheckBox};
  struct Case {
    const char* port;
    bool shown;
  };
  for (const Case& c : {Case{"USB", false}, Case{"usb", true}, Case{"Usb", true},
                        Case{"USB ", true}, Case{"COM1", true}, Case{"", true}}) {
    logic.COMComboBoxChange("USB");
    logic.COMComboBoxChange(c.port);
    for (C control : ruled) EXPECT_EQ(logic.Shown(control), c.shown) << c.port;
    EXPECT_TRUE(logic.Shown(C::COMComboBox));
  }
  logic.FormActivate("USB");
  EXPECT_FALSE(logic.Shown(C::AllowRing0CheckBox));
  // Defaults bring back COM1, and with it the three controls.
  const ConfigBoxValues defaults = logic.LoadDefaultButtonClick();
  EXPECT_TRUE(logic.Shown(C::AllowRing0CheckBox));
  EXPECT_EQ(logic.LayoutTag(), kBasicLayout);
  EXPECT_EQ(defaults.port, "COM1");
  EXPECT_EQ(defaults.input_signal, 1);
  EXPECT_FALSE(defaults.service);
  EXPECT_EQ(defaults.command_order, 0);
  EXPECT_EQ(defaults.bit_mask, 16);
  EXPECT_EQ(defaults.priority, 7);
  EXPECT_TRUE(defaults.ring0_enabled);
  EXPECT_TRUE(defaults.ring0_checked);

  ConfigBoxLogic without_ring0 = Make(false);
  EXPECT_FALSE(without_ring0.LoadDefaultButtonClick().ring0_checked);
  EXPECT_FALSE(without_ring0.LoadDefaultButtonClick().ring0_enabled);
}

TEST_F(ConfigBoxLogicTest, HoverHintsFollowThePointerAndTheirTimers) {
  ConfigBoxLogic logic = Make(false);
  const Point at{300, 200};
  // The timer runs from creation without effect.
  EXPECT_TRUE(logic.HintTimerEnabled());
  EXPECT_EQ(logic.HintTimerInterval(), kHintTimerStartMs);
  EXPECT_EQ(logic.NextDeadline(), kHintTimerStartMs);
  logic.Advance(5000, at);
  EXPECT_EQ(HoverText(logic), "(none)");

  // Shown at once, yellow, no wider than the dialog, where the pointer proposed it.
  logic.MouseMoveOver(C::COMComboBox, at, 10000);
  ASSERT_TRUE(logic.HoverHintWindow());
  EXPECT_EQ(HoverText(logic), Short(C::COMComboBox));
  EXPECT_EQ(logic.HoverHintWindow()->position, at);
  EXPECT_EQ(logic.HoverHintWindow()->colour, kHoverHintColour);
  EXPECT_EQ(logic.HoverHintWindow()->max_width, kBasicClientWidth + kFrame.width);
  EXPECT_EQ(logic.HintTimerInterval(), kHintHidePauseMs);
  const uint32_t first = HoverSerial(logic);
  logic.MouseMoveOver(C::COMComboBox, {301, 200}, 11000);
  EXPECT_EQ(HoverSerial(logic), first);
  // A label shows its edit control's hint; another control replaces the hint at once.
  logic.MouseMoveOver(C::COMLabel, at, 11500);
  EXPECT_EQ(HoverText(logic), Short(C::COMComboBox));
  EXPECT_NE(HoverSerial(logic), first);
  logic.MouseMoveOver(C::OKButton, at, 12000);
  EXPECT_EQ(HoverText(logic), Short(C::OKButton));

  // 20 s of life, then gone until the hint is offered again 40 s after it appeared.
  logic.Advance(31999, at);
  EXPECT_EQ(HoverText(logic), Short(C::OKButton));
  logic.Advance(32000, at);
  EXPECT_EQ(HoverText(logic), "(none)");
  EXPECT_FALSE(logic.HintTimerEnabled());
  EXPECT_EQ(logic.NextDeadline(), 52000);
  logic.Advance(52000, {5, 6});
  EXPECT_EQ(HoverText(logic), Short(C::OKButton));
  EXPECT_EQ(logic.HoverHintWindow()->position, (Point{5, 6}));
  logic.Advance(72000 + 40000, at);  // gone at 72 s, back at 92 s, gone at 112 s
  EXPECT_EQ(HoverText(logic), "(none)");

  // Panel1 has no hint and leaves a shown hint alone; the bare dialog ends it.
  logic.MouseMoveOver(C::ServiceCheckBox, at, 200000);
  logic.MouseMoveOver(C::Panel1, at, 200100);
  EXPECT_EQ(HoverText(logic), Short(C::ServiceCheckBox));
  logic.FormMouseMove({80, 98}, at, 200200);
  EXPECT_EQ(HoverText(logic), "(none)");

  // A pointer that left the dialog is offered nothing again.
  logic.MouseMoveOver(C::InfoButton, at, 300000);
  logic.PointerLeft();
  logic.Advance(400000, at);
  EXPECT_EQ(HoverText(logic), "(none)");
  EXPECT_EQ(logic.NextDeadline(), std::nullopt);

  logic.MouseMoveOver(C::BitMaskSpinEdit, at, 500000);
  logic.FormDestroy();
  EXPECT_EQ(HoverText(logic), "(none)");
  EXPECT_EQ(logic.NextDeadline(), std::nullopt);
}

TEST_F(ConfigBoxLogicTest, TheDisabledRing0BoxShowsItsHintThroughTheDialog) {
  const Rect box = Placement(C::AllowRing0CheckBox).rect;
  const Point inside{box.left + 5, box.top + 5};
  const Point on_edge{box.left, box.top + 5};
  const Point at{1, 2};

  ConfigBoxLogic disabled = Make(false);
  disabled.AdvancedButtonClick();
  disabled.MouseMoveOver(C::PrioritySpinEdit, at, 1000);
  disabled.FormMouseMove(inside, at, 1100);
  EXPECT_EQ(HoverText(disabled), Short(C::AllowRing0CheckBox));
  const uint32_t shown = HoverSerial(disabled);
  disabled.FormMouseMove({inside.x + 20, inside.y}, at, 1200);  // resting over the box
  EXPECT_EQ(HoverSerial(disabled), shown);
  disabled.FormMouseMove(on_edge, at, 1300);  // the edge is outside
  EXPECT_EQ(HoverText(disabled), "(none)");
  disabled.FormMouseMove(inside, at, 1400);
  EXPECT_EQ(HoverText(disabled), Short(C::AllowRing0CheckBox));
  disabled.COMComboBoxChange("USB");  // a hidden box explains nothing
  disabled.FormMouseMove({inside.x + 1, inside.y}, at, 1500);
  EXPECT_EQ(HoverText(disabled), "(none)");

  // Enabled, the box shows the same hint itself; the bare dialog over it shows nothing.
  ConfigBoxLogic enabled = Make(true);
  enabled.AdvancedButtonClick();
  enabled.FormMouseMove(inside, at, 1000);
  EXPECT_EQ(HoverText(enabled), "(none)");
  enabled.MouseMoveOver(C::AllowRing0CheckBox, at, 1100);
  EXPECT_EQ(HoverText(enabled), Short(C::AllowRing0CheckBox));
}

TEST_F(ConfigBoxLogicTest, ContextHelpShowsLongTextsUntilSomethingEndsIt) {
  ConfigBoxLogic logic = Make(false);
  const Point cursor{40, 50};

  // "?" then the command-order label: the spin edit's long text in aqua at the cursor.
  logic.SysCommandBegin(kScContextHelp);
  EXPECT_TRUE(logic.HelpMode());
  logic.CountLabelMouseDown(cursor);
  EXPECT_FALSE(logic.HelpMode());  // that press ends it: the next one is ordinary
  logic.SysCommandEnd();
  ASSERT_TRUE(logic.HelpHintWindow());
  EXPECT_EQ(HelpText(logic), Long(C::CommandOrderSpinEdit));
  EXPECT_EQ(logic.HelpHintWindow()->position, cursor);
  EXPECT_EQ(logic.HelpHintWindow()->colour, kHelpHintColour);
  // The hint timer and the pointer do not end it; a press on the bare dialog does.
  logic.MouseMoveOver(C::OKButton, cursor, 1000);
  logic.Advance(100000, cursor);
  EXPECT_EQ(HelpText(logic), Long(C::CommandOrderSpinEdit));
  logic.FormMouseDown();
  EXPECT_EQ(HelpText(logic), "(none)");

  // Outside help mode a label press shows nothing.
  logic.PriorityLabelMouseDown(cursor);
  EXPECT_EQ(HelpText(logic), "(none)");

  // Help requests (F1, or the system's help mode): a control, a label, no control, Panel1.
  struct Request {
    std::optional<C> item;
    std::string shown;
  };
  const Request requests[] = {
      {C::COMComboBox, Long(C::COMComboBox)},
      {C::BitMaskLabel, Long(C::BitMaskSpinEdit)},
      {std::nullopt, "(none)"},
      {C::WWWLabel, Long(C::WWWLabel)},
      {C::Panel1, "(none)"},
  };
  for (const Request& r : requests) {
    logic.HelpRequest(C::OKButton, cursor);
    logic.HelpRequest(r.item, {7, 8});
    EXPECT_EQ(HelpText(logic), r.shown);
  }

  // What else ends it: any title-bar command, Panel1, the layout toggle, the dialog's end.
  const std::function<void(ConfigBoxLogic&)> enders[] = {
      [](ConfigBoxLogic& l) { l.SysCommandBegin(0xF060); },  // close
      [](ConfigBoxLogic& l) { l.SysCommandBegin(kScContextHelp + 1); },
      [](ConfigBoxLogic& l) { l.Panel1MouseDown(); },
      [](ConfigBoxLogic& l) { l.AdvancedButtonClick(); },
      [](ConfigBoxLogic& l) { l.FormDestroy(); },
  };
  for (const auto& end : enders) {
    logic.HelpRequest(C::OKButton, cursor);
    end(logic);
    EXPECT_EQ(HelpText(logic), "(none)");
    EXPECT_FALSE(logic.HelpMode());  // only SC_CONTEXTHELP itself sets help mode
  }
}

}  // namespace
}  // namespace sfh56

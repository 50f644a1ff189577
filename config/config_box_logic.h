#pragma once
// The configuration dialog's behaviour, apart from any window system: its handlers, its
// layout and port rules, and the hover-hint and context-help state machine with its
// timers. The Win32 dialog forwards events here and shows what this holds: the layout,
// which controls are shown, the toggle's caption and the two hint windows.
//
// Times are milliseconds of any monotonic clock; the Win32 dialog arms one window timer
// for NextDeadline() and calls Advance() when it fires.

#include <cstdint>
#include <optional>
#include <string>

#include "config/config_box.h"
#include "config/config_box_layout.h"
#include "config/receiver_settings.h"

namespace sfh56 {

using Millis = int64_t;

struct Rgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kHoverHintColour{255, 255, 0};  // yellow
inline constexpr Rgb kHelpHintColour{0, 255, 255};   // aqua

inline constexpr Millis kHintTimerStartMs = 1000;  // HintTimer's interval at creation
inline constexpr Millis kHintHidePauseMs = 20000;  // a hover hint's life
inline constexpr Millis kHintReshowMs = 2 * kHintHidePauseMs;
inline constexpr uint32_t kScContextHelp = 0xF180;

// A hint window to be shown: its text at position (screen coordinates, top-left corner),
// wrapped to at most max_width pixels including its border. Every new window gets a new
// serial, so a replaced window is told from the one before even with the same text.
struct HintWindowState {
  uint32_t serial = 0;
  std::string text;
  Point position;
  int max_width = 0;
  Rgb colour;
};

class ConfigBoxLogic {
 public:
  // texts: as the cycle set them; ring0_enabled: whether AllowRing0CheckBox is enabled.
  ConfigBoxLogic(ConfigBoxTexts texts, bool ring0_enabled);

  // --- The dialog's handlers.
  void FormCreate(Millis now);
  void FormActivate(const std::string& port_text) { ApplyPortRule(port_text); }
  // Any size change: returns the outer size the dialog takes, and remembers its width.
  Size FormCanResize(Size outer, Size client);
  void FormDestroy();
  void FormMouseDown() { EndHelp(); }
  void Panel1MouseDown() { EndHelp(); }
  // The pointer over the bare dialog at client, a hover hint proposed at hint_position.
  void FormMouseMove(Point client, Point hint_position, Millis now);
  void COMLabelMouseDown(Point cursor) { ShowControlHelp(ConfigControl::COMComboBox, cursor); }
  void InputSignalLabelMouseDown(Point cursor) {
    ShowControlHelp(ConfigControl::InputSignalComboBox, cursor);
  }
  void CountLabelMouseDown(Point cursor) {
    ShowControlHelp(ConfigControl::CommandOrderSpinEdit, cursor);
  }
  void BitMaskLabelMouseDown(Point cursor) {
    ShowControlHelp(ConfigControl::BitMaskSpinEdit, cursor);
  }
  void PriorityLabelMouseDown(Point cursor) {
    ShowControlHelp(ConfigControl::PrioritySpinEdit, cursor);
  }
  // Any of the five labels above.
  void LabelMouseDown(ConfigControl label, Point cursor);
  void COMComboBoxChange(const std::string& port_text) { ApplyPortRule(port_text); }
  void AdvancedButtonClick();
  // The values to put into the controls; the port rule is applied to them.
  ConfigBoxValues LoadDefaultButtonClick();
  void HintTimerTimer();

  // --- Title-bar commands: Begin before the standard handling, End after it and after
  // the messages it left pending.
  void SysCommandBegin(uint32_t command);
  void SysCommandEnd() { help_mode_ = false; }
  // A help request about item (nothing: not one of the dialog's controls) at mouse, in
  // screen coordinates.
  void HelpRequest(std::optional<ConfigControl> item, Point mouse);
  void ShowControlHelp(ConfigControl control, Point cursor);
  void HideHelpHint() { help_window_.reset(); }
  // A press on the background: no help to give, and the end of help mode if it was on.
  void EndHelp() {
    help_mode_ = false;
    HideHelpHint();
  }

  // --- The hint machinery: it offers the hint of whatever the pointer rests on.
  // The pointer over a control (Panel1 included, which has no hint).
  void MouseMoveOver(ConfigControl control, Point hint_position, Millis now);
  // The pointer left the dialog.
  void PointerLeft();
  // Runs the timers that are due; hint_position is where a re-offered hint would go.
  void Advance(Millis now, Point hint_position);
  std::optional<Millis> NextDeadline() const;

  // --- What the dialog shows.
  int LayoutTag() const { return layout_tag_; }
  int ClientWidth() const { return ClientWidthFor(layout_tag_); }
  const std::string& AdvancedCaption() const { return advanced_caption_; }
  bool Shown(ConfigControl control) const;
  const std::optional<HintWindowState>& HoverHintWindow() const { return hover_window_; }
  const std::optional<HintWindowState>& HelpHintWindow() const { return help_window_; }
  bool HelpMode() const { return help_mode_; }
  bool HintTimerEnabled() const { return timer_enabled_; }
  Millis HintTimerInterval() const { return timer_interval_; }
  const ConfigBoxTexts& Texts() const { return texts_; }

 private:
  // Who a hover hint belongs to: a control's index, the dialog itself, or nobody.
  using HintOwner = int;
  static constexpr HintOwner kNobody = -1;
  static constexpr HintOwner kForm = static_cast<int>(kConfigControlCount);

  void ApplyPortRule(const std::string& port_text) { port_is_usb_ = port_text == kUsbComName; }
  void PointerOn(HintOwner target, Point hint_position, Millis now);
  void ShowHoverHint(HintOwner owner, Point hint_position, Millis now);
  void EndHoverHint();
  std::string ShortHintOf(HintOwner owner) const;
  int MaxHintWidth() const;
  void StartTimer(Millis interval, Millis now);

  ConfigBoxTexts texts_;
  bool ring0_enabled_;
  int layout_tag_ = kBasicLayout;
  std::string advanced_caption_;
  bool port_is_usb_ = false;
  int outer_width_ = 0;

  bool help_mode_ = false;
  std::optional<HintWindowState> help_window_;
  std::optional<HintWindowState> hover_window_;
  uint32_t next_serial_ = 1;
  HintOwner last_hint_owner_ = kNobody;  // LastHintControl
  bool form_hints_on_ = false;           // the dialog shows the disabled ring-0 box's hint

  bool timer_enabled_ = false;  // HintTimer
  Millis timer_interval_ = kHintTimerStartMs;
  Millis timer_due_ = 0;

  HintOwner pointer_on_ = kNobody;  // the hint target under the pointer
  std::optional<Millis> reshow_at_;
};

}  // namespace sfh56

#include "config/config_box_logic.h"

#include <algorithm>
#include <utility>

namespace sfh56 {

ConfigBoxLogic::ConfigBoxLogic(ConfigBoxTexts texts, bool ring0_enabled)
    : texts_(std::move(texts)),
      ring0_enabled_(ring0_enabled),
      advanced_caption_(texts_.Caption(ConfigControl::AdvancedButton)) {}

void ConfigBoxLogic::FormCreate(Millis now) {
  help_window_.reset();
  help_mode_ = false;
  StartTimer(kHintTimerStartMs, now);
  layout_tag_ = kBasicLayout;
  last_hint_owner_ = kNobody;
  hover_window_.reset();
}

Size ConfigBoxLogic::FormCanResize(Size outer, Size client) {
  const Size fixed = FixedOuterSize(outer, client, layout_tag_);
  outer_width_ = fixed.width;
  return fixed;
}

void ConfigBoxLogic::FormDestroy() {
  // Nothing the dialog showed may outlive it.
  HideHelpHint();
  hover_window_.reset();
  last_hint_owner_ = kNobody;
  timer_enabled_ = false;
  pointer_on_ = kNobody;
  reshow_at_.reset();
}

void ConfigBoxLogic::FormMouseMove(Point client, Point hint_position, Millis now) {
  const ControlPlacement& ring0 = Placement(ConfigControl::AllowRing0CheckBox);
  // A disabled box takes no pointer of its own, so the dialog shows its hint for it;
  // a hidden box (USB port) has nothing to explain.
  form_hints_on_ = !ring0_enabled_ && Shown(ConfigControl::AllowRing0CheckBox) &&
                   ring0.rect.StrictlyContains(client);
  // Leaving a control for the bare dialog ends its hint; moving over the disabled box
  // keeps the box's hint that the dialog is showing, or it would vanish at the first
  // pixel of movement.
  if (!(form_hints_on_ && last_hint_owner_ == kForm)) HintTimerTimer();
  PointerOn(form_hints_on_ ? kForm : kNobody, hint_position, now);
}

void ConfigBoxLogic::LabelMouseDown(ConfigControl label, Point cursor) {
  if (auto edit = LabelledControl(label)) ShowControlHelp(*edit, cursor);
}

void ConfigBoxLogic::AdvancedButtonClick() {
  HideHelpHint();
  std::string caption = advanced_caption_.substr(
      0, advanced_caption_.size() - std::min<size_t>(2, advanced_caption_.size()));
  if (layout_tag_ == kAdvancedLayout) {
    layout_tag_ = kBasicLayout;
    advanced_caption_ = caption + ">>";
  } else {
    layout_tag_ = kAdvancedLayout;
    advanced_caption_ = caption + "<<";
  }
}

ConfigBoxValues ConfigBoxLogic::LoadDefaultButtonClick() {
  ConfigBoxValues values;  // the defaults: COM1, DSR, 0, 16, 7, no service log, classic codes
  values.ring0_enabled = ring0_enabled_;
  values.ring0_checked = ring0_enabled_;
  ApplyPortRule(values.port);
  return values;
}

void ConfigBoxLogic::HintTimerTimer() {
  if (!hover_window_) return;
  EndHoverHint();
}

void ConfigBoxLogic::EndHoverHint() {
  hover_window_.reset();
  last_hint_owner_ = kNobody;
  timer_enabled_ = false;
}

void ConfigBoxLogic::SysCommandBegin(uint32_t command) {
  HideHelpHint();
  if (command == kScContextHelp) help_mode_ = true;
}

void ConfigBoxLogic::HelpRequest(std::optional<ConfigControl> item, Point mouse) {
  HideHelpHint();
  if (!item) return;
  std::string text = LongHint(texts_.Hint(*item));
  if (text.empty()) return;  // Panel1 explains nothing
  help_window_ =
      HintWindowState{next_serial_++, std::move(text), mouse, MaxHintWidth(), kHelpHintColour};
}

void ConfigBoxLogic::ShowControlHelp(ConfigControl control, Point cursor) {
  if (!help_mode_) return;
  // The press help mode waits for ends it, as the system's own help mode does: a later
  // press is an ordinary one even while the title-bar command is still being finished.
  help_mode_ = false;
  HelpRequest(control, cursor);
}

void ConfigBoxLogic::MouseMoveOver(ConfigControl control, Point hint_position, Millis now) {
  const auto owner = static_cast<HintOwner>(Index(control));
  PointerOn(ShortHintOf(owner).empty() ? kNobody : owner, hint_position, now);
}

void ConfigBoxLogic::PointerLeft() {
  pointer_on_ = kNobody;
  reshow_at_.reset();
}

void ConfigBoxLogic::PointerOn(HintOwner target, Point hint_position, Millis now) {
  if (target == pointer_on_) return;
  pointer_on_ = target;
  reshow_at_.reset();
  // No pause before a hint: the new control's hint replaces the old one at once.
  if (target != kNobody) ShowHoverHint(target, hint_position, now);
}

void ConfigBoxLogic::ShowHoverHint(HintOwner owner, Point hint_position, Millis now) {
  if (owner == last_hint_owner_) return;
  hover_window_.reset();
  timer_enabled_ = false;
  last_hint_owner_ = owner;
  hover_window_ = HintWindowState{next_serial_++, ShortHintOf(owner), hint_position, MaxHintWidth(),
                                  kHoverHintColour};
  StartTimer(kHintHidePauseMs, now);
  reshow_at_ = now + kHintReshowMs;
}

void ConfigBoxLogic::Advance(Millis now, Point hint_position) {
  for (;;) {
    const std::optional<Millis> due = NextDeadline();
    if (!due || *due > now) return;
    if (reshow_at_ && *reshow_at_ == *due) {
      reshow_at_.reset();
      // The machinery offers the hint of what the pointer rests on once more.
      if (pointer_on_ != kNobody) ShowHoverHint(pointer_on_, hint_position, *due);
    } else {
      timer_due_ += timer_interval_;
      HintTimerTimer();
    }
  }
}

std::optional<Millis> ConfigBoxLogic::NextDeadline() const {
  std::optional<Millis> due = reshow_at_;
  if (timer_enabled_ && (!due || timer_due_ < *due)) due = timer_due_;
  return due;
}

bool ConfigBoxLogic::Shown(ConfigControl control) const {
  switch (control) {
    case ConfigControl::InputSignalComboBox:
    case ConfigControl::InputSignalLabel:
    case ConfigControl::AllowRing0CheckBox:
      return !port_is_usb_;
    default:
      return true;
  }
}

std::string ConfigBoxLogic::ShortHintOf(HintOwner owner) const {
  if (owner == kForm) return ShortHint(texts_.Hint(ConfigControl::AllowRing0CheckBox));
  if (owner < 0 || owner == static_cast<int>(Index(ConfigControl::Panel1))) return {};
  return ShortHint(texts_.hints[static_cast<size_t>(owner)]);
}

int ConfigBoxLogic::MaxHintWidth() const {
  return outer_width_ > 0 ? outer_width_ : ClientWidth();
}

void ConfigBoxLogic::StartTimer(Millis interval, Millis now) {
  timer_enabled_ = true;
  timer_interval_ = interval;
  timer_due_ = now + interval;
}

}  // namespace sfh56

#include "config/config_box_texts.h"

#include "config/config_box_layout.h"

namespace sfh56 {

namespace {

using C = ConfigControl;
using R = TextRole;

// Spaces inside the texts are as the plugin has always shown them, double ones included:
// hosts' translation tables are keyed on these exact texts.
constexpr std::array<ConfigBoxSourceText, kConfigBoxTextCount> kTexts{{
    {C::COMComboBox, R::kShortHint, "Select (or write) serial port"},
    {C::COMComboBox, R::kLongHint,
     "Select the COM port where is connected receiver. You can write port if it is not listed "
     "here (e.g. COM5). (Note: this COM port must have not shared IRQ)."},
    {C::COMLabel, R::kCaption, "COM port"},
    {C::InputSignalComboBox, R::kShortHint, "Select serial port input pin"},
    {C::InputSignalComboBox, R::kLongHint,
     "Select the input pin used as input from receiver (default is this DSR - according  to "
     "schematic)."},
    {C::InputSignalLabel, R::kCaption, "Input Signal"},
    {C::OKButton, R::kCaption, "OK"},
    {C::OKButton, R::kShortHint, "Apply settings"},
    {C::OKButton, R::kLongHint,
     "Apply this settings and close this configuration window (return with saving settings)."},
    {C::InfoButton, R::kCaption, "About HW"},
    {C::InfoButton, R::kShortHint, "Very simple hardware"},
    {C::InfoButton, R::kLongHint,
     "Draw picture with receiver schematic on screen. Useful help if you want to build "
     "receiver."},
    {C::AdvancedButton, R::kCaption, "Advanced"},
    {C::AdvancedButton, R::kShortHint, "Extended settings ..."},
    {C::AdvancedButton, R::kLongHint, "Extended settings"},
    {C::WWWLabel, R::kShortHint, "Update online"},
    {C::WWWLabel, R::kLongHint,
     "Open Plonix's plugin WWW page on internet. Use if you want to check for new version or if "
     "you want to get more information about remote control."},
    {C::ServiceCheckBox, R::kCaption, "service"},
    {C::ServiceCheckBox, R::kShortHint,
     "If you have trouble log signal from remote control to \"\\Girder\\log.txt\" and send to "
     "author (e-mail)!"},
    {C::ServiceCheckBox, R::kLongHint,
     "If you have trouble with code receiving from your remote (but other brands remotes  are "
     "working), set this box, apply settings and push some buttons on remote - transmit some "
     "codes. Log file \"\\Girder\\log.txt\" is created -  send it to author with problem "
     "description by email. I will read every log I get and try to make your remote work in "
     "the next version. Contact: the plugin's home page, " SFH56_HOME_PAGE_ADDRESS},
    {C::CommandOrderSpinEdit, R::kShortHint, "Accept in sequence only command with this number"},
    {C::CommandOrderSpinEdit, R::kLongHint,
     "Some remotes transmit more codes in sequence for one button pressing. Therefore plugin "
     "receives only last code (from this sequence). But if the last code is the same for every "
     "button, received code is the same. Then set this option to nonzero value (N)-received code "
     "then will be the N-th from sequence. This problem have some universal remotes."},
    {C::CountLabel, R::kCaption, "Command order"},
    {C::BitMaskSpinEdit, R::kShortHint, "Accept only last bits received from receiver"},
    {C::BitMaskSpinEdit, R::kLongHint,
     "If remote transmit some toggle bits (changed every pressing) then you can remove they: "
     "toggle bits are usually on code begin - truncate code"},
    {C::BitMaskLabel, R::kCaption, "Enable last bits"},
    {C::AllowRing0CheckBox, R::kCaption, "Allow Ring0 priority"},
    {C::AllowRing0CheckBox, R::kShortHint, "Allow maximum priority during receiving (only Win9x)"},
    {C::AllowRing0CheckBox, R::kLongHint,
     "This setting enable absolute highest priority during code transmition: other "
     "applications is paused - sound is pausing, video is paused, but good code receiving (good "
     "setting for slow computers: up to Pentium 200MHz)."},
    {C::PrioritySpinEdit, R::kShortHint,
     "Higher-better receiving, Lower-more time for another programs)"},
    {C::PrioritySpinEdit, R::kLongHint,
     "Sets the priority of plugin: 0 to 7. Higher - better code receiving. Less - more time for "
     "another application."},
    {C::PriorityLabel, R::kCaption, "Priority level"},
    {C::LoadDefaultButton, R::kCaption, "Defaults"},
    {C::LoadDefaultButton, R::kShortHint, "Loads default values"},
    {C::LoadDefaultButton, R::kLongHint,
     "Loads default values. Use this if you want load default settings (if you have changed   "
     "many options and forget ...)."},
    {C::StableCodesCheckBox, R::kCaption, "stable codes"},
    {C::StableCodesCheckBox, R::kShortHint, "One code per button even when the signal wavers"},
    {C::StableCodesCheckBox, R::kLongHint,
     "Decodes the signal so that a button keeps its code when the receiver's timing wavers by "
     "a few microseconds. Tick it when a button now and then gives a code the host does not "
     "know. Some buttons then give other codes than before: learn them again in the host."},
}};

}  // namespace

const std::array<ConfigBoxSourceText, kConfigBoxTextCount>& ConfigBoxSourceTexts() {
  return kTexts;
}

ConfigBoxTexts TranslateConfigBoxTexts(
    const std::function<std::string(const std::string&)>& translate) {
  ConfigBoxTexts texts;
  for (const ConfigBoxSourceText& source : kTexts) {
    std::string translated = translate(source.text);
    switch (source.role) {
      case TextRole::kCaption:
        texts.Caption(source.control) = std::move(translated);
        if (source.control == ConfigControl::AdvancedButton) {
          texts.Caption(source.control) += " >>";
        }
        if (auto edit = LabelledControl(source.control)) {
          texts.Hint(source.control) = texts.Hint(*edit);
        }
        break;
      case TextRole::kShortHint:
        texts.Hint(source.control) = std::move(translated);
        break;
      case TextRole::kLongHint:
        texts.Hint(source.control) += "|" + translated;
        break;
    }
  }
  return texts;
}

ConfigBoxTexts EnglishConfigBoxTexts() {
  return TranslateConfigBoxTexts([](const std::string& text) { return text; });
}

}  // namespace sfh56

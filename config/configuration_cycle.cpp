#include "config/configuration_cycle.h"

#include <utility>

#include "config/config_box_texts.h"

namespace sfh56 {
namespace {

constexpr int32_t kPinCount = 3;  // CTS, DSR, DCD
const ReceiverSettings kDefaults{};

bool IsPin(int32_t index) {
  return index >= 0 && index < kPinCount;
}

ConfigBoxValues ControlsFrom(const ReceiverSettings& settings, bool ring0_possible) {
  ConfigBoxValues values;
  values.service = settings.ServiceMode;
  values.port = settings.ComName;
  values.input_signal = settings.InputSignal;  // no item selected outside 0..2
  values.command_order = settings.CommandOrder;
  values.bit_mask = settings.BitMask;
  values.priority = settings.PriorityLevel;
  values.ring0_enabled = ring0_possible;
  values.ring0_checked = settings.AllowRing0 && values.ring0_enabled;
  values.stable_checked = settings.StableCodes;
  return values;
}

// Copies the confirmed controls into the settings, stores them, then sets the service
// switch, which is never stored.
void ConfirmControls(ConfigurableReceiver& receiver, const ConfigBoxValues& values) {
  ReceiverSettings& settings = receiver.Settings();
  settings.ComName = values.port;  // as typed: a list item, a typed name or the loaded one
  // The capture indexes three-entry tables with the pin. A list with no item chosen (a
  // stored pin outside the three) keeps the loaded pin if it is one, else takes DSR.
  if (IsPin(values.input_signal)) {
    settings.InputSignal = static_cast<uint8_t>(values.input_signal);
  } else if (!IsPin(settings.InputSignal)) {
    settings.InputSignal = kDefaults.InputSignal;
  }
  settings.CommandOrder = values.command_order;
  settings.BitMask = values.bit_mask;
  settings.PriorityLevel = static_cast<uint8_t>(values.priority);
  // A box ticked while hidden (port "USB") still counts; one that could not be ticked
  // (ring 0 impossible) never does.
  settings.AllowRing0 = values.ring0_checked ? receiver.Ring0Possible() : false;
  settings.StableCodes = values.stable_checked;
  receiver.SaveSettings();
  settings.ServiceMode = values.service;
}

// Loads the stored settings, shows them and applies what the user confirms.
ConfigurationOutcome EditSettings(ConfigurableReceiver& receiver, ConfigBox& box) {
  receiver.LoadSettings();
  // Each translation is copied before the next is asked for: a host may answer every
  // request in one buffer.
  const ConfigBoxTexts texts = TranslateConfigBoxTexts([&receiver](const std::string& text) {
    return ShownTranslation(text, receiver.TranslateText(text));
  });
  ConfigBoxValues values = ControlsFrom(receiver.Settings(), receiver.Ring0Possible());
  switch (box.ShowModal(texts, values)) {
    case kModalResultOk:
      ConfirmControls(receiver, values);
      return ConfigurationOutcome::kConfirmed;
    case kModalResultCancel:
      return ConfigurationOutcome::kCancelled;
    default:
      return ConfigurationOutcome::kFailed;
  }
}

}  // namespace

std::string ShownTranslation(const std::string& source, std::string translated) {
  // A host whose table has an empty entry would leave a button without a caption.
  if (translated.empty()) return source;
  if (translated.size() > kMaxTranslatedChars) translated.resize(kMaxTranslatedChars);
  return translated;
}

ConfigurationOutcome RunConfiguration(ConfigurableReceiver& receiver, ConfigBox& box) {
  // A configure call while the receiver thread hands a code to the host (quite possibly
  // from the host's own handling of that code) must neither wait for that delivery nor
  // change settings that the running capture reads: it does nothing.
  if (receiver.Delivering()) return ConfigurationOutcome::kReceiverBusy;
  // A start the host asked for during a delivery counts as running: it is the host's
  // last word, and the capture it begins would read the settings while the cycle writes.
  // Pending first: a start answered between the two reads is then seen as running (its
  // answer sets Running before it stops being pending); the other way round it could
  // slip between them unseen.
  const bool was_running = receiver.StartPending() || receiver.Running();
  // The settings are written only once nothing captures and no capture is starting.
  // Otherwise (a delivery began meanwhile, or no answer in the handshake's time, which
  // leaves a starting capture reading as stopped) the capture may still read them, so
  // they stay as they are. The stop request stands; the receiver takes it when it can.
  if (was_running && (!receiver.Stop() || receiver.StartPending())) {
    return ConfigurationOutcome::kReceiverBusy;
  }

  ConfigurationOutcome outcome = ConfigurationOutcome::kFailed;
  try {
    outcome = EditSettings(receiver, box);
  } catch (...) {
    // The dialog is gone with the box's call; what was confirmed is in memory. The
    // capture comes back below all the same.
  }

  if (was_running) {
    receiver.SleepMs(kRestartDelayMs);
    receiver.Start();
  }
  return outcome;
}

}  // namespace sfh56

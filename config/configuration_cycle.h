#pragma once
// The configuration cycle: what happens when the host asks the plugin to configure itself.
// On the host's calling thread it takes a running capture down, reloads the stored
// settings, shows the configuration dialog with the host's translations of its texts,
// stores what the user confirms and brings the capture back up if it had been running.
// It is the only place where the user changes the receiver's settings.

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/config_box.h"
#include "config/receiver_settings.h"

namespace sfh56 {

// The receiver object as the cycle drives it. The receiver thread object implements it;
// tests give their own.
class ConfigurableReceiver {
 public:
  virtual ~ConfigurableReceiver() = default;

  // A capture run is active and acknowledged.
  virtual bool Running() const = 0;
  // A start request the receiver thread has not answered yet: made while it delivered a
  // code (the host did not wait), or being served now. Capture is about to run.
  virtual bool StartPending() const = 0;
  // The receiver thread is handing a code to the host at this moment.
  virtual bool Delivering() const = 0;
  // Requests to the receiver thread, each waiting for its acknowledgement (not while the
  // thread delivers a code). Stop is true when capture no longer runs, also when the
  // wait ended unanswered.
  virtual bool Stop() = 0;
  virtual bool Start() = 0;
  // The settings from the registry under the host's root key, and back.
  virtual void LoadSettings() = 0;
  virtual void SaveSettings() = 0;
  // Changed only while no capture runs; a capture reads them when it starts.
  virtual ReceiverSettings& Settings() = 0;
  // Ring-0 capture can be used on this machine now.
  virtual bool Ring0Possible() const = 0;
  // The host's translation of a text the user will see.
  virtual std::string TranslateText(const std::string& text) = 0;
  // Waits on the calling thread.
  virtual void SleepMs(uint32_t ms) = 0;
};

// The pause between the dialog's end and the restart of the capture.
inline constexpr uint32_t kRestartDelayMs = 10;
// The longest text the cycle gives a control: what a host's translation buffer holds.
inline constexpr size_t kMaxTranslatedChars = 1000;

enum class ConfigurationOutcome {
  kConfirmed,     // OK: the dialog's values are in memory and stored
  kCancelled,     // closed otherwise: memory holds the stored values, nothing was written
  kFailed,        // the dialog could not be shown, or an error ended the cycle early
  kReceiverBusy,  // the receiver was delivering a code or did not stop: nothing was done
};

// Runs one cycle with this dialog. Returns when the dialog has closed and a capture that
// was running has been asked to start again; no exception leaves it.
ConfigurationOutcome RunConfiguration(ConfigurableReceiver& receiver, ConfigBox& box);

// The text a control shows for a host's translation: the untranslated text when the host
// gave an empty one, at most kMaxTranslatedChars characters otherwise.
std::string ShownTranslation(const std::string& source, std::string translated);

}  // namespace sfh56

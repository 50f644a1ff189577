#pragma once
// What the receiver thread needs from the host side of the plugin: whether the host
// still has the plugin open, delivery of a code, translation of a message text, and the
// registry root under which the settings live.

#include <string>

#include "platform/registry.h"
#include "receiver/capture_seams.h"

namespace sfh56 {

class HostServices : public Translator {
 public:
  virtual bool PluginOpen() const = 0;
  // Hands one code to the host over the path of the current host API level. Runs on the
  // receiver thread; the receiver marks itself Delivering around the call.
  virtual void DeliverCode(const std::string& code) = 0;
  virtual platform::RootKey SettingsRootKey() const = 0;
};

}  // namespace sfh56

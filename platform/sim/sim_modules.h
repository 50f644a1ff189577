#pragma once
// Libraries of the simulated platform.
//
// A simulated library is a table of entry points by name. Entry points are native
// function pointers, so the code under test calls them exactly as it calls a loaded
// Windows library.

#include <map>
#include <mutex>
#include <string>

#include "platform/modules.h"

namespace sfh56::sim {

class SimModules : public platform::Modules {
 public:
  using Exports = std::map<std::string, void*>;

  // Makes a library loadable under name (replacing one of the same name).
  void AddLibrary(const std::string& name, Exports exports);
  void RemoveLibrary(const std::string& name);

  // Load requests for name, successful or not.
  int LoadAttempts(const std::string& name) const;
  // Modules of name loaded and not yet released.
  int LoadedNow(const std::string& name) const;

  std::unique_ptr<platform::Module> Load(const std::string& name) override;

 private:
  class SimModule;
  void Released(const std::string& name);

  mutable std::mutex mutex_;
  std::map<std::string, Exports> libraries_;
  std::map<std::string, int> attempts_;
  std::map<std::string, int> loaded_;
};

}  // namespace sfh56::sim

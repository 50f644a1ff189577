#pragma once
// Libraries of the simulated platform.
//
// A simulated library is a table of entry points by name. Entry points are native
// function pointers, so the code under test calls them exactly as it calls a loaded
// Windows library.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/modules.h"

namespace sfh56::sim {

class SimModules : public platform::Modules {
 public:
  using Exports = std::map<std::string, void*>;

  // Makes a library loadable under name (replacing one of the same name). With present
  // given, a load succeeds only while it answers true, as a library loads only while its
  // file is where the search finds it.
  void AddLibrary(const std::string& name, Exports exports,
                  std::function<bool()> present = nullptr);
  void RemoveLibrary(const std::string& name);

  // Load requests for name, successful or not.
  int LoadAttempts(const std::string& name) const;
  // Modules of name loaded and not yet released.
  int LoadedNow(const std::string& name) const;

  // Resources of the plugin's own module, found by name in any letter case.
  void AddResource(const std::string& name, std::vector<uint8_t> bytes);

  std::unique_ptr<platform::Module> Load(const std::string& name) override;
  std::optional<std::vector<uint8_t>> OwnResource(const std::string& name) override;

 private:
  class SimModule;
  struct Library {
    Exports exports;
    std::function<bool()> present;
  };
  void Released(const std::string& name);

  mutable std::mutex mutex_;
  std::map<std::string, Library> libraries_;
  std::map<std::string, std::vector<uint8_t>> resources_;  // by upper-case name
  std::map<std::string, int> attempts_;
  std::map<std::string, int> loaded_;
};

}  // namespace sfh56::sim

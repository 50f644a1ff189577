#pragma once
// Helpers of the Windows tests that run USB capture against the stand-in receiver
// library: where the test's files are, the replay file as the library reads it, and
// the library's call log.

#include <cstdint>
#include <string>
#include <vector>

namespace sfh56::wintest {

// The folder of the running test program, with a trailing backslash.
std::string ProgramFolder();

// A fresh, empty file name in the temporary folder.
std::string TemporaryFileName(const std::string& prefix);

// The replay file's signals in the library's unit (1024/12000000 s, rounded to the
// nearest unit, kept within 1..255), each cut at the capacity of 255 durations.
std::vector<std::vector<uint8_t>> ReadReplayInDeviceUnits(const std::string& path);

// The lines of a text file (none when it does not exist).
std::vector<std::string> ReadLines(const std::string& path);

// Points the stand-in library at a replay file and a log file for the calls to come.
void ConfigureStandInLibrary(const std::string& replay_path, const std::string& log_path);

// Sets the setting ComName under both settings roots (HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE) for the object's life, and puts back what was there before.
class ComNameOverride {
 public:
  explicit ComNameOverride(const std::string& com_name);
  ~ComNameOverride();
  ComNameOverride(const ComNameOverride&) = delete;
  ComNameOverride& operator=(const ComNameOverride&) = delete;

 private:
  bool had_[2] = {false, false};
  std::string old_[2];
};

}  // namespace sfh56::wintest

#pragma once
// Runs a program (such as plugin-host) as a child process with its standard output and
// error captured, for the Windows test programs.

#include <windows.h>

#include <functional>
#include <string>

namespace sfh56::tools {

struct ProgramRun {
  bool started = false;
  DWORD exit_code = 0xFFFFFFFF;
  std::string out;
  std::string err;
};

// Paths of the build tree arrive as Unix paths; Wine shows the root file system as Z:.
// Other paths are returned unchanged.
std::string WindowsPathFromUnix(std::string path);

// Runs `command_line` and waits for it to end. Its standard input ends at once, or, with
// `close_input_after`, once that text has appeared on its standard output.
ProgramRun RunProgram(const std::string& command_line, const std::string& close_input_after = "");

// The same, its standard input ending once `close_input_when` holds for the standard
// output read so far (asked after every read).
ProgramRun RunProgram(const std::string& command_line,
                      const std::function<bool(const std::string& out)>& close_input_when);

}  // namespace sfh56::tools

#include "tools/plugin-host/program_run.h"

#include <thread>

#include "platform/win32/handle_owner.h"

namespace sfh56::tools {
namespace {

std::string ReadAll(HANDLE pipe) {
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  return text;
}

}  // namespace

std::string WindowsPathFromUnix(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

ProgramRun RunProgram(const std::string& command_line, const std::string& close_input_after) {
  if (close_input_after.empty()) {
    return RunProgram(command_line, std::function<bool(const std::string&)>());
  }
  return RunProgram(command_line, [&close_input_after](const std::string& out) {
    return out.find(close_input_after) != std::string::npos;
  });
}

ProgramRun RunProgram(const std::string& command_line,
                      const std::function<bool(const std::string& out)>& close_input_when) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE ends[6] = {};
  if (!CreatePipe(&ends[0], &ends[1], &inherit, 0)) return run;
  win32::HandleOwner out_read(ends[0]), out_write(ends[1]);
  if (!CreatePipe(&ends[2], &ends[3], &inherit, 0)) return run;
  win32::HandleOwner err_read(ends[2]), err_write(ends[3]);
  if (!CreatePipe(&ends[4], &ends[5], &inherit, 0)) return run;
  win32::HandleOwner in_read(ends[4]), in_write(ends[5]);
  // Only the child's ends are inherited, or the parent's copies would keep them open.
  SetHandleInformation(out_read.Get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read.Get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(in_write.Get(), HANDLE_FLAG_INHERIT, 0);
  if (!close_input_when) in_write.Reset();

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read.Get();
  startup.hStdOutput = out_write.Get();
  startup.hStdError = err_write.Get();
  std::string command = command_line;
  PROCESS_INFORMATION process = {};
  run.started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process) != FALSE;
  out_write.Reset();
  err_write.Reset();
  in_read.Reset();
  if (run.started) {
    win32::HandleOwner process_handle(process.hProcess), thread_handle(process.hThread);
    // Standard error is drained beside standard output, so that neither pipe fills up.
    std::thread error_reader([&] { run.err = ReadAll(err_read.Get()); });
    char buffer[4096];
    DWORD read = 0;
    while (in_write && ReadFile(out_read.Get(), buffer, sizeof(buffer), &read, nullptr) &&
           read > 0) {
      run.out.append(buffer, read);
      if (close_input_when(run.out)) in_write.Reset();
    }
    run.out += ReadAll(out_read.Get());
    error_reader.join();
    WaitForSingleObject(process_handle.Get(), INFINITE);
    GetExitCodeProcess(process_handle.Get(), &run.exit_code);
  }
  return run;
}

}  // namespace sfh56::tools

#include "tools/plugin-host/program_run.h"

#include <thread>

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
  HANDLE out_read, out_write, err_read, err_write, in_read, in_write;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return run;
  if (!CreatePipe(&err_read, &err_write, &inherit, 0)) {
    CloseHandle(out_read);
    CloseHandle(out_write);
    return run;
  }
  if (!CreatePipe(&in_read, &in_write, &inherit, 0)) {
    for (HANDLE h : {out_read, out_write, err_read, err_write}) CloseHandle(h);
    return run;
  }
  // Only the child's ends are inherited, or the parent's copies would keep them open.
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  if (!close_input_when) {
    CloseHandle(in_write);
    in_write = nullptr;
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  std::string command = command_line;
  PROCESS_INFORMATION process = {};
  run.started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process) != FALSE;
  CloseHandle(out_write);
  CloseHandle(err_write);
  CloseHandle(in_read);
  if (run.started) {
    // Standard error is drained beside standard output, so that neither pipe fills up.
    std::thread error_reader([&] { run.err = ReadAll(err_read); });
    char buffer[4096];
    DWORD read = 0;
    while (in_write != nullptr && ReadFile(out_read, buffer, sizeof(buffer), &read, nullptr) &&
           read > 0) {
      run.out.append(buffer, read);
      if (close_input_when(run.out)) {
        CloseHandle(in_write);
        in_write = nullptr;
      }
    }
    run.out += ReadAll(out_read);
    error_reader.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (in_write != nullptr) CloseHandle(in_write);
  CloseHandle(out_read);
  CloseHandle(err_read);
  return run;
}

}  // namespace sfh56::tools

#include "tools/report/report_command.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "tools/irdecode_input.h"
#include "tools/report/advisor.h"
#include "tools/report/html_report.h"
#include "tools/report/report_input.h"

namespace sfh56::report {
namespace {

std::string BaseName(const std::string& path) {
  if (path == "-") return "standard input";
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<Remote> ReadRemotes(const ReportRequest& request, int& bad_lines) {
  const std::string name = BaseName(request.input_path);
  if (request.format == InputFormat::kEdges) {
    std::vector<PulseTrain> trains;
    std::istringstream lines(request.text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
      ++number;
      const size_t start = line.find_first_not_of(" \t\r");
      if (start == std::string::npos || line[start] == '#') continue;
      std::string error;
      PulseTrain& train = trains.emplace_back();
      if (!tools::ParseEdgeLine(line, train, error)) {
        trains.pop_back();
        std::cerr << "irdecode: line " << number << ": " << error << "\n";
        ++bad_lines;
      }
    }
    return {RemoteFromTrains(std::move(trains), name)};
  }
  std::vector<tools::InputError> errors;
  const std::vector<tools::Recording> recordings =
      request.format == InputFormat::kMode2 ? tools::ParseMode2(request.text, errors)
      : request.format == InputFormat::kIr  ? tools::ParseIrFile(request.text, errors)
                                            : tools::ParseCorpusTsv(request.text, errors);
  for (const tools::InputError& e : errors) {
    std::cerr << "irdecode: line " << e.line << ": " << e.message << "\n";
  }
  bad_lines += static_cast<int>(errors.size());
  return RemotesFromRecordings(recordings, request.format != InputFormat::kMode2, name);
}

}  // namespace

int RunReport(const ReportRequest& request) {
  int bad_lines = 0;
  const std::vector<Remote> remotes = ReadRemotes(request, bad_lines);
  const Settings current{request.bit_mask, 0};
  std::vector<Advice> advice;
  for (const Remote& remote : remotes) advice.push_back(Advise(remote, current));
  if (request.advise) {
    for (size_t i = 0; i < remotes.size(); ++i)
      std::cout << FormatAdviceText(remotes[i], advice[i]);
  }
  if (!request.report_path.empty()) {
    const std::string page = ReportPage(remotes, advice, {BaseName(request.input_path), current});
    std::ofstream out(request.report_path, std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    if (!out) {
      std::cerr << "irdecode: cannot write " << request.report_path << "\n";
      return 2;
    }
  }
  return bad_lines == 0 ? 0 : 1;
}

}  // namespace sfh56::report

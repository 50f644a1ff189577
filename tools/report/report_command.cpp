#include "tools/report/report_command.h"

#include <fstream>
#include <ostream>
#include <vector>

#include "tools/report/advisor.h"
#include "tools/report/html_report.h"
#include "tools/report/report_input.h"

namespace sfh56::report {

int RunReport(const tools::ParsedInput& input, const ReportRequest& request, std::ostream& out,
              std::ostream& err) {
  const std::vector<Remote> remotes = RemotesFromInput(input, request.input_name);
  const Settings current{request.bit_mask, 0, request.decoding};
  std::vector<Advice> advice;
  for (const Remote& remote : remotes) advice.push_back(Advise(remote, current));
  if (request.advise) {
    for (size_t i = 0; i < remotes.size(); ++i) out << FormatAdviceText(remotes[i], advice[i]);
  }
  if (!request.report_path.empty()) {
    const std::string page = ReportPage(remotes, advice, {request.input_name, current});
    std::ofstream file(request.report_path, std::ios::binary | std::ios::trunc);
    file << page;
    file.close();
    if (!file) {
      err << "irdecode: cannot write " << request.report_path << "\n";
      return 2;
    }
  }
  return 0;
}

}  // namespace sfh56::report

#pragma once
// irdecode's --report and --advise: the input read into remotes, the advice printed, the
// page written.

#include <cstdint>
#include <string>

namespace sfh56::report {

enum class InputFormat { kEdges, kMode2, kIr, kTsv };

struct ReportRequest {
  InputFormat format = InputFormat::kEdges;
  std::string input_path;  // "-" for standard input
  std::string text;
  int32_t bit_mask = 16;
  std::string report_path;  // empty: no page
  bool advise = false;      // print the advice as plain text
};

// Returns the process's exit code: 0, 1 when input lines were bad (they are reported on
// standard error and skipped), 2 when the page cannot be written.
int RunReport(const ReportRequest& request);

}  // namespace sfh56::report

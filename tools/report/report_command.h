#pragma once
// irdecode's --report and --advise: what irdecode read, as remotes; the advice printed,
// the page written.

#include <cstdint>
#include <iosfwd>
#include <string>

#include "decode/stable_decoder.h"
#include "tools/ir_input.h"

namespace sfh56::report {

struct ReportRequest {
  std::string input_name;                  // the file's name as the page titles it
  int32_t bit_mask = 16;                   // the BitMask the codes are shown with
  std::string report_path;                 // empty: no page
  bool advise = false;                     // print the advice as plain text
  Decoding decoding = Decoding::kClassic;  // the decoding the codes come from
};

// Returns 0, or 2 when the page cannot be written (said on err).
int RunReport(const tools::ParsedInput& input, const ReportRequest& request, std::ostream& out,
              std::ostream& err);

}  // namespace sfh56::report

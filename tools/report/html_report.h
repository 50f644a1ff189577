#pragma once
// The report page: one self-contained HTML file (no scripts, nothing loaded from
// elsewhere) that draws every train as a square wave to scale and shows why the decoder
// gave the code it gave, with the sums per button and the settings advice of each remote.

#include <string>
#include <vector>

#include "tools/report/advisor.h"
#include "tools/report/report_input.h"

namespace sfh56::report {

// Horizontal scale of every drawing: microseconds per pixel. The same for every train on
// the page, so that trains compare by eye; the browser's zoom enlarges them.
inline constexpr double kMicrosecondsPerPixel = 20.0;

struct PageOptions {
  std::string source;  // the input file's name, for the title
  Settings settings;   // the settings the codes are shown with
};

// advice holds one entry per remote (the same order).
std::string ReportPage(const std::vector<Remote>& remotes, const std::vector<Advice>& advice,
                       const PageOptions& options);

}  // namespace sfh56::report

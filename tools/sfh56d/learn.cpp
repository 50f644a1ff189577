#include "tools/sfh56d/learn.h"

#include <ostream>

namespace sfh56::daemon {

int RunLearn(Source&, const PipelineSettings&, const std::string&, ServiceLogSink*, std::istream&,
             std::ostream& out) {
  out << "sfh56d: learn is not built yet\n";
  return 2;
}

}  // namespace sfh56::daemon

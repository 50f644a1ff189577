#pragma once
// sfh56d learn FILE: builds a code map by asking for button names and listening for
// presses.

#include <iosfwd>
#include <string>

#include "daemon/pipeline_input.h"
#include "daemon/source.h"
#include "decode/decoder.h"

namespace sfh56::daemon {

int RunLearn(Source& source, const PipelineSettings& settings, const std::string& file,
             ServiceLogSink* log, std::istream& in, std::ostream& out);

}  // namespace sfh56::daemon

#pragma once
// What the report and the settings advisor read: the presses of a remote's buttons, each
// as the trains the serial capture recorded from it, from any input irdecode reads.

#include <string>
#include <vector>

#include "common/pulse_train.h"
#include "tools/ir_input.h"

namespace sfh56::report {

// One button press (a recording), or one record of a service log or of the edge format:
// the trains the serial capture recorded, in order, with increasing timestamps.
struct Press {
  std::string button;  // empty when the input names no buttons
  std::string label;   // how the page names it: the button, or "line N", "record N"
  std::vector<PulseTrain> trains;
  bool has_recorded_code = false;  // a service log holds the code the plugin gave
  std::string recorded_code;
};

// The presses of one remote, in the order they were recorded.
struct Remote {
  std::string name;
  bool named = false;     // the presses carry button names: sums per button
  bool captured = false;  // the presses are records of captured trains (log, edge lines)
  std::vector<Press> presses;
};

// What irdecode read, as remotes. Recordings are split into the trains the serial capture
// would record. Names "remote<TAB>button" (corpus TSV) and "remote/button" (lircd.conf)
// give one remote per remote; other named recordings form one remote called file_name.
// mode2 text and recordings named only after their line are unnamed presses; so are
// captured trains (edge lines, service-log records), one press each.
std::vector<Remote> RemotesFromInput(const tools::ParsedInput& input, const std::string& file_name);

// Recordings as remotes, named or not, as above.
std::vector<Remote> RemotesFromRecordings(const std::vector<tools::Recording>& recordings,
                                          bool named, const std::string& default_name,
                                          char remote_separator = '\t');

// Presses, trains and intervals of a set of remotes, for sizing.
struct InputSize {
  int presses = 0;
  int trains = 0;
};
InputSize SizeOf(const std::vector<Remote>& remotes);

}  // namespace sfh56::report

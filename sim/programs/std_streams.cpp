#include "sim/programs/std_streams.h"

namespace sim {

StdStreams& Streams(Machine& machine) { return machine.state<StdStreams>(); }

void WriteStdout(Machine& machine, const std::string& bytes) {
  StdStreams& s = Streams(machine);
  if (s.captures.empty()) {
    s.uncaptured_stdout += bytes;
  } else {
    *s.captures.back() += bytes;
  }
}

void WriteStderr(Machine& machine, const std::string& bytes) {
  Streams(machine).stderr_text += bytes;
}

StdoutCapture::StdoutCapture(Machine& machine, std::string* sink) : machine_(machine) {
  Streams(machine_).captures.push_back(sink);
}

StdoutCapture::~StdoutCapture() { Streams(machine_).captures.pop_back(); }

}  // namespace sim

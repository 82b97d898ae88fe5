// Standard output and standard error of simulated programs.
//
// A simulated program (a sim::Program) prints with WriteStdout / WriteStderr. The bytes go as
// given (a program writes "\r\n" itself, as a Windows console program's text-mode stream does).
// While cmd.exe runs a child with its output redirected, a StdoutCapture collects the child's
// standard output; without one, standard output lands in StdStreams::uncaptured_stdout (a
// hidden child has no console). Standard error is never redirected and always lands in
// StdStreams::stderr_text, so a test or the account can show it.
#pragma once

#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

struct StdStreams : Machine::State {
  std::vector<std::string*> captures;  // innermost capture last
  std::string uncaptured_stdout;
  std::string stderr_text;
};

StdStreams& Streams(Machine& machine);
void WriteStdout(Machine& machine, const std::string& bytes);
void WriteStderr(Machine& machine, const std::string& bytes);

// Sends standard output into *sink for as long as it lives.
class StdoutCapture {
 public:
  StdoutCapture(Machine& machine, std::string* sink);
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

 private:
  Machine& machine_;
};

}  // namespace sim

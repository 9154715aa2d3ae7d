// The `zugen4` command line, callable in-process: tests and fuzzers run it
// without spawning the program and without the process ever exiting.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace Zu::Tool {

// Parses args (without the program name) and runs the command; everything is
// printed to out and err, and the exit code is returned (see TExitCode).
// `in` is what `shell` reads; nullptr means standard input (with line editing
// when it is a terminal).
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, std::istream* in = nullptr);

}  // namespace Zu::Tool

// The commands of the tool, shared by the command line and the shell.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "ToolContext.h"

namespace Zu::Tool {

// Adds every command to app (nested: false leaves out `shell`).
void AddCommands(CLI::App& app, TToolContext& ctx, std::istream* in, bool nested);

// A whole number of 0 or more, refused in those words (CLI11's own check
// names a range up to the largest double).
CLI::Validator NonNegative();

// Reports the exception in flight on ctx.Err() and returns its exit code.
int ReportFailure(TToolContext& ctx);

// The shell: one command per line until the input ends or `quit`; returns 0
// when every line succeeded, else the exit code of the last one that failed.
int RunShell(TToolContext& ctx, std::istream* in);
// One shell line.
int RunLine(TToolContext& ctx, const std::string& line);
// What the shell's help says about the shell itself (keys, history file).
std::string ShellFooter(TToolContext& ctx);

// What the shell completes: the commands, then every property path.
std::vector<std::string> CompletionWords(TToolContext& ctx);

// Reads one line for the shell, with line editing, history and completion of
// property paths when `in` is the terminal. False at the end of the input.
bool ReadShellLine(TToolContext& ctx, std::istream* in, std::string& line);

}  // namespace Zu::Tool

// The shell's input: plain lines from a stream, or readline with history and
// completion of commands and property paths on a terminal.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <ostream>

#include "Commands.h"

#if ZUGEN_TOOL_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace Zu::Tool {

int RunShell(TToolContext& ctx, std::istream* in) {
  int code = ExitOk;
  std::string line;
  while (ReadShellLine(ctx, in, line)) {
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    const std::string cmd = line.substr(start);
    if (cmd == "quit" || cmd == "exit") break;
    const int rc = RunLine(ctx, cmd);
    if (rc != ExitOk) code = rc;
  }
  return code;
}

#if ZUGEN_TOOL_READLINE
namespace {

std::vector<std::string> gWords;  // what completion offers: commands, then paths

char* NextMatch(const char* text, int state) {
  static size_t index;
  static size_t length;
  if (state == 0) {
    index = 0;
    length = std::strlen(text);
  }
  while (index < gWords.size()) {
    const std::string& w = gWords[index++];
    if (w.compare(0, length, text) == 0) return strdup(w.c_str());
  }
  return nullptr;
}

char** Complete(const char* text, int, int) {
  rl_attempted_completion_over = 1;  // no file names
  return rl_completion_matches(text, NextMatch);
}

std::string HistoryFile(TToolContext& ctx) {
  ctx.Generator();  // settles the state path
  return (std::filesystem::path(ctx.StatePath()).parent_path() / "history").string();
}

}  // namespace
#endif

bool ReadShellLine(TToolContext& ctx, std::istream* in, std::string& line) {
#if ZUGEN_TOOL_READLINE
  if (in == nullptr && isatty(STDIN_FILENO)) {
    static bool started = false;
    static std::string history;
    if (!started) {
      started = true;
      gWords = CompletionWords(ctx);
      rl_attempted_completion_function = Complete;
      // "ChA.Mode=gen": '=' ends a word so the path before it completes.
      rl_basic_word_break_characters = const_cast<char*>(" \t=");
      history = HistoryFile(ctx);
      using_history();
      read_history(history.c_str());
    }
    char* raw = readline("zugen4> ");
    if (!raw) {
      ctx.Out() << '\n';
      write_history(history.c_str());
      return false;
    }
    line = raw;
    std::free(raw);
    if (line.find_first_not_of(" \t") != std::string::npos) {
      add_history(line.c_str());
      write_history(history.c_str());
    }
    return true;
  }
#endif
  std::istream& s = in ? *in : std::cin;
  return static_cast<bool>(std::getline(s, line));
}

}  // namespace Zu::Tool

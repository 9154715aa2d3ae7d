// The shell's input: plain lines from a stream, or readline on a terminal
// with history (kept in the state directory), completion of commands,
// property paths and, after `=`, the property's names, and Ctrl-C cancelling
// the line being typed rather than the shell.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <ostream>

#include "Commands.h"
#include "zugen4/ZuRegistry.h"

#if ZUGEN_TOOL_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#include <sys/select.h>
#endif

namespace Zu::Tool {

namespace {

// The state directory's history file, whichever state file is in use.
std::string HistoryFile(TToolContext& ctx) {
  return (std::filesystem::path(DefaultStatePath(ctx.Options())).parent_path() / "shell_history").string();
}

}  // namespace

std::string ShellFooter(TToolContext& ctx) {
  std::string text =
      "In the shell: help COMMAND shows one command with an example; quit, exit or the end of the\n"
      "input ends it.";
#if ZUGEN_TOOL_READLINE
  text +=
      " On a terminal Ctrl-C cancels the line being typed, Tab completes commands, property\n"
      "paths and, after `=`, the names a property takes; the history is kept in\n" +
      HistoryFile(ctx) + ".";
#else
  (void)ctx;
#endif
  return text;
}

int RunShell(TToolContext& ctx, std::istream* in) {
  int code = ExitOk;
  std::string line;
  while (ReadShellLine(ctx, in, line)) {
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    std::string cmd = line.substr(start);
    cmd.erase(cmd.find_last_not_of(" \t\r") + 1);
    if (cmd == "quit" || cmd == "exit") break;
    // help: the commands; help COMMAND: that command's --help.
    if (cmd == "help" || cmd == "?")
      cmd = "--help";
    else if (cmd.rfind("help ", 0) == 0)
      cmd = cmd.substr(5) + " --help";
    const int rc = RunLine(ctx, cmd);
    if (rc != ExitOk) code = rc;
  }
  return code;
}

#if ZUGEN_TOOL_READLINE
namespace {

struct TCompletion {
  std::vector<std::string> Commands;
  std::vector<TPropInfo> Props;
};
TCompletion gCompletion;
std::vector<std::string> gOffered;  // what the present completion offers

bool StartsIgnoringCase(const std::string& word, const char* text, size_t length) {
  return word.size() >= length && strncasecmp(word.c_str(), text, length) == 0;
}

char* NextMatch(const char* text, int state) {
  static size_t index;
  static size_t length;
  if (state == 0) {
    index = 0;
    length = std::strlen(text);
  }
  while (index < gOffered.size()) {
    const std::string& w = gOffered[index++];
    if (StartsIgnoringCase(w, text, length)) return strdup(w.c_str());
  }
  return nullptr;
}

// The names a property takes, for completion after `=`.
std::vector<std::string> ValueWords(const std::string& path) {
  for (const TPropInfo& p : gCompletion.Props) {
    if (strcasecmp(p.Path.c_str(), path.c_str()) != 0) continue;
    if (p.Kind == TPropKind::Bool) return {"true", "false"};
    std::vector<std::string> words;
    for (const TPropEnumerator& e : p.Enumerators) {
      words.push_back(e.ShortName);
      words.insert(words.end(), e.Aliases.begin(), e.Aliases.end());
    }
    return words;
  }
  return {};
}

char** Complete(const char* text, int start, int) {
  rl_attempted_completion_over = 1;  // no file names
  rl_completion_append_character = ' ';
  const std::string before(rl_line_buffer, static_cast<size_t>(start));
  const size_t first = before.find_first_not_of(" \t");
  gOffered.clear();
  if (first == std::string::npos) {
    gOffered = gCompletion.Commands;
  } else if (before.back() == '=') {
    // ChA.Mode=<Tab>: the word before `=` is the path.
    const size_t from = before.find_last_of(" \t", before.size() - 1);
    gOffered = ValueWords(before.substr(from == std::string::npos ? 0 : from + 1, before.size() - 1 - (from + 1)));
  } else {
    for (const TPropInfo& p : gCompletion.Props) gOffered.push_back(p.Path);
    // `set PATH=VALUE`: the `=` follows the path, with no space between.
    const std::string command = before.substr(first, before.find_first_of(" \t", first) - first);
    if (command == "set") rl_completion_append_character = '\0';
  }
  return rl_completion_matches(text, NextMatch);
}

// Ctrl-C while a line is typed cancels that line; while a command runs it
// is noted and passed over (poll has its own).
volatile std::sig_atomic_t gInterrupt = 0;
std::optional<std::string> gLine;
bool gEnded = false;

void TakeLine(char* raw) {
  if (!raw) {
    gEnded = true;
    return;
  }
  gLine = raw;
  std::free(raw);
  rl_callback_handler_remove();  // the next prompt is installed for the next line
}

bool ReadTerminalLine(TToolContext& ctx, std::string& line) {
  static std::string history;
  if (history.empty()) {
    std::vector<std::string> words = CompletionWords(ctx);
    const size_t commands = words.size() - ListProperties(ctx.Generator()).size();
    gCompletion.Commands.assign(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(commands));
    gCompletion.Commands.insert(gCompletion.Commands.end(), {"help", "exit"});
    gCompletion.Props = ListProperties(ctx.Generator());
    rl_attempted_completion_function = Complete;
    rl_variable_bind("completion-ignore-case", "on");
    // "ChA.Mode=gen": '=' ends a word so the path before it completes.
    rl_basic_word_break_characters = const_cast<char*>(" \t=");
    rl_catch_signals = 0;
    struct sigaction sa {};
    sa.sa_handler = [](int) { gInterrupt = 1; };
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);  // no SA_RESTART: the wait below wakes up
    history = HistoryFile(ctx);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(history).parent_path(), ec);
    using_history();
    stifle_history(1000);
    read_history(history.c_str());
  }
  gLine.reset();
  gEnded = false;
  gInterrupt = 0;
  rl_callback_handler_install("zugen4> ", TakeLine);
  while (!gLine && !gEnded) {
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(fileno(rl_instream), &fds);
    const int ready = select(fileno(rl_instream) + 1, &fds, nullptr, nullptr, nullptr);
    if (gInterrupt) {
      gInterrupt = 0;
      rl_free_line_state();
      rl_callback_sigcleanup();
      rl_replace_line("", 0);
      rl_crlf();
      rl_on_new_line();
      rl_redisplay();
      continue;
    }
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    rl_callback_read_char();
  }
  if (!gLine) {
    rl_callback_handler_remove();
    ctx.Out() << '\n';
    write_history(history.c_str());
    return false;
  }
  line = *gLine;
  if (line.find_first_not_of(" \t") != std::string::npos) {
    add_history(line.c_str());
    write_history(history.c_str());
  }
  return true;
}

}  // namespace
#endif

bool ReadShellLine(TToolContext& ctx, std::istream* in, std::string& line) {
#if ZUGEN_TOOL_READLINE
  if (in == nullptr && isatty(STDIN_FILENO)) return ReadTerminalLine(ctx, line);
#endif
  std::istream& s = in ? *in : std::cin;
  return static_cast<bool>(std::getline(s, line));
}

}  // namespace Zu::Tool

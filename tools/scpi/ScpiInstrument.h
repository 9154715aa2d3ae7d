// The SCPI face of a generator: the command table (each command a thin name
// for a registry path, docs/scpi.md lists them), the IEEE 488.2 common
// commands, and each client's error queue and event status.
//
// One program message is one change: its settings are collected and given to
// SetProps in one call, then committed as one update. A query in the middle
// of a message sees what came before it, so the settings before it are
// committed first. Any command error in a message (syntax, unknown header,
// bad suffix or value) rejects the whole message: nothing of it is carried
// out.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ScpiParser.h"
#include "zugen4/Properties.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace Zu::Scpi {

// What one client has: its error queue and standard event status.
class TScpiSession {
 public:
  static constexpr size_t kQueueSize = 16;

  // Adds an error; a full queue keeps its oldest entries and ends with -350.
  void Push(int code, const std::string& detail = {});
  // The oldest error as SCPI prints it (`-113,"Undefined header"`), removed;
  // `0,"No error"` when there is none.
  std::string Pop();
  size_t Count() const { return FErrors.size(); }
  void Clear();

  uint8_t Esr = 0;  // standard event status register
  uint8_t Ese = 0;  // its enable mask

 private:
  std::deque<std::pair<int, std::string>> FErrors;
};

struct TScpiOptions {
  // The fields of *IDN? after the maker: model, serial (SIM on the
  // simulator), version.
  std::string Model = "DDS two-channel";
  std::string Serial = "SIM";
  std::string Version;
  // Sends the update and keeps the setup (the tool: TToolContext::Commit,
  // which also records it with --record). Called once per program message
  // that changed something, with that message. Default: gen.UpdateMode().
  std::function<void(std::string_view message)> Commit;
};

struct TCommandRow;

class TScpiInstrument {
 public:
  TScpiInstrument(TZuGen4& gen, TScpiOptions options);
  ~TScpiInstrument();
  TScpiInstrument(const TScpiInstrument&) = delete;
  TScpiInstrument& operator=(const TScpiInstrument&) = delete;

  // Carries out one program message (one line) for a client. Returns the
  // response message with its '\n', or "" when the message had no query.
  std::string Execute(TScpiSession& session, std::string_view line);

  // Updates committed so far (one per program message that changed anything).
  uint64_t Updates() const { return FUpdates; }

 private:
  struct TStep;
  TStep Resolve(const TUnit& unit, std::vector<THeaderNode>& prefix) const;
  void Prepare(TStep& step, std::vector<std::pair<std::string, std::string>>& pending);
  std::string Query(TScpiSession& session, const TStep& step);
  void Flush(std::vector<std::pair<std::string, std::string>>& batch, std::string_view line);
  std::string FormatProp(const TCommandRow& row, const std::string& path, const std::string& param) const;
  double LimitOf(const TPropInfo& info, const std::string& which, bool toSet) const;
  std::string SenseData(int channel);
  void Reset(std::string_view line);

  TZuGen4& FGen;
  TScpiOptions FOptions;
  // The defaults (DEF, *RST), on a simulated instrument of their own.
  Sim::TSimPlatform FDefaultsSim;
  TZuGen4 FDefaults;
  // The mode OUTPut ON brings back, per channel, once OUTPut OFF switched it off.
  std::string FOutputMode[2];
  // Readings polled since the last update, per channel.
  uint64_t FReadings[2] = {0, 0};
  uint64_t FUpdates = 0;
};

}  // namespace Zu::Scpi

// The SCPI text of one program message, read into its units: header nodes
// with their numeric suffixes, the query mark, and the parameters (numbers
// with their unit suffix, character data, strings). Nothing here knows a
// command: ScpiInstrument.h resolves the headers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Zu::Scpi {

// A fault with its standard SCPI error code (-113, -222, ...) and, when there
// is more to say, the words after the standard text.
class EScpiError : public std::runtime_error {
 public:
  explicit EScpiError(int code, const std::string& detail = {}) : std::runtime_error(detail), FCode(code) {}
  int Code() const { return FCode; }
  const char* Detail() const { return what(); }

 private:
  int FCode;
};

// The standard text of a code ("Undefined header"); "Error" for one that has none here.
const char* ErrorText(int code);

// One parameter as the client wrote it.
struct TParam {
  enum class TKind : uint8_t { Numeric, Chars, String };
  TKind Kind = TKind::Chars;
  std::string Text;    // Numeric: the number as written; Chars: as written; String: the contents
  double Value = 0.0;  // Numeric only
  std::string Suffix;  // Numeric only: the unit suffix in capitals ("MHZ"), "" when none
};

struct THeaderNode {
  std::string Mnemonic;  // in capitals, without its suffix
  int Suffix = 0;        // 0: none given
};

// One program message unit: "SOUR2:FREQ 2 MHZ", "*IDN?", ":SYST:ERR?".
struct TUnit {
  bool Common = false;  // "*IDN?": one node, the mnemonic with its '*'
  bool Rooted = false;  // a leading ':' (not relative to the previous unit's header)
  bool Query = false;
  std::vector<THeaderNode> Nodes;
  std::vector<TParam> Params;
  std::string Header;  // as written, for messages
};

// Reads one program message (a line without its terminator; a trailing '\r'
// is ignored). Units are separated by ';'; empty units are skipped. Throws
// EScpiError with a command error (-1xx) naming what is wrong.
std::vector<TUnit> ParseProgramMessage(std::string_view text);

// SCPI's matching of a keyword: the short form (its capitals, "FREQ") or the
// long form ("FREQUENCY"), any case. `keyword` is written as SCPI documents
// it ("FREQuency").
bool KeywordMatches(std::string_view keyword, std::string_view word);
// The short form of a keyword ("FREQuency" -> "FREQ").
std::string ShortForm(std::string_view keyword);

}  // namespace Zu::Scpi

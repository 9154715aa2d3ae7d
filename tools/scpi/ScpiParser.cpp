#include "ScpiParser.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace Zu::Scpi {

const char* ErrorText(int code) {
  switch (code) {
    case 0: return "No error";
    case -100: return "Command error";
    case -102: return "Syntax error";
    case -103: return "Invalid separator";
    case -104: return "Data type error";
    case -108: return "Parameter not allowed";
    case -109: return "Missing parameter";
    case -113: return "Undefined header";
    case -114: return "Header suffix out of range";
    case -120: return "Numeric data error";
    case -131: return "Invalid suffix";
    case -151: return "Invalid string data";
    case -221: return "Settings conflict";
    case -222: return "Data out of range";
    case -224: return "Illegal parameter value";
    case -230: return "Data corrupt or stale";
    case -240: return "Hardware error";
    case -300: return "Device-specific error";
    case -350: return "Queue overflow";
    case -363: return "Input buffer overrun";
    default: return "Error";
  }
}

namespace {

bool IsAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t'; }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::string Shown(std::string_view text) {
  std::string s(text.substr(0, 40));
  if (text.size() > 40) s += "...";
  return s;
}

class TReader {
 public:
  explicit TReader(std::string_view text) : FText(text) {}

  std::vector<TUnit> Message() {
    std::vector<TUnit> units;
    for (;;) {
      SkipSpace();
      if (AtEnd()) break;
      if (Peek() == ';') {
        ++FPos;
        continue;
      }
      units.push_back(Unit());
      SkipSpace();
      if (AtEnd()) break;
      if (Peek() != ';') throw EScpiError(-102, "unexpected `" + Shown(Rest()) + "`");
      ++FPos;
    }
    return units;
  }

 private:
  bool AtEnd() const { return FPos >= FText.size(); }
  char Peek() const { return FText[FPos]; }
  std::string_view Rest() const { return FText.substr(FPos); }
  void SkipSpace() {
    while (!AtEnd() && IsSpace(Peek())) ++FPos;
  }
  bool AtUnitEnd() const { return AtEnd() || Peek() == ';'; }

  TUnit Unit() {
    TUnit u;
    const size_t start = FPos;
    if (Peek() == '*') {
      ++FPos;
      u.Common = true;
      THeaderNode node{"*", 0};
      while (!AtEnd() && IsAlpha(Peek())) node.Mnemonic += Upper(FText[FPos++]);
      if (node.Mnemonic.size() == 1) throw EScpiError(-102, "`*` must be followed by a command name");
      u.Nodes.push_back(std::move(node));
    } else {
      if (Peek() == ':') {
        u.Rooted = true;
        ++FPos;
      }
      for (;;) {
        if (AtEnd() || !IsAlpha(Peek())) throw EScpiError(-102, "expected a command header at `" + Shown(Rest()) + "`");
        THeaderNode node;
        while (!AtEnd() && (IsAlpha(Peek()) || IsDigit(Peek()) || Peek() == '_')) node.Mnemonic += Upper(FText[FPos++]);
        // Trailing digits are the node's numeric suffix (SOUR2).
        size_t digits = node.Mnemonic.size();
        while (digits > 0 && IsDigit(node.Mnemonic[digits - 1])) --digits;
        if (digits < node.Mnemonic.size()) {
          const std::string number = node.Mnemonic.substr(digits);
          node.Mnemonic.resize(digits);
          if (number.size() > 6) throw EScpiError(-114, "suffix " + number + " is too long");
          node.Suffix = std::stoi(number);
          if (node.Suffix == 0) throw EScpiError(-114, "suffix 0 is not allowed (they count from 1)");
        }
        u.Nodes.push_back(std::move(node));
        if (!AtEnd() && Peek() == ':') {
          ++FPos;
          continue;
        }
        break;
      }
    }
    if (!AtEnd() && Peek() == '?') {
      u.Query = true;
      ++FPos;
    }
    u.Header = std::string(FText.substr(start, FPos - start));
    if (AtUnitEnd()) return u;
    if (!IsSpace(Peek())) throw EScpiError(-102, "unexpected `" + Shown(Rest()) + "` after " + u.Header);
    SkipSpace();
    if (AtUnitEnd()) return u;
    for (;;) {
      u.Params.push_back(Param());
      SkipSpace();
      if (AtUnitEnd()) return u;
      if (Peek() != ',') throw EScpiError(-103, "expected `,` or `;` at `" + Shown(Rest()) + "`");
      ++FPos;
      SkipSpace();
      if (AtUnitEnd()) throw EScpiError(-109, "a parameter is missing after `,` in " + u.Header);
    }
  }

  TParam Param() {
    const char c = Peek();
    if (c == '"' || c == '\'') return String(c);
    if (IsDigit(c) || c == '+' || c == '-' || c == '.') return Number();
    if (c == '#') return NonDecimal();
    if (IsAlpha(c)) {
      TParam p;
      p.Kind = TParam::TKind::Chars;
      while (!AtEnd() && (IsAlpha(Peek()) || IsDigit(Peek()) || Peek() == '_')) p.Text += FText[FPos++];
      return p;
    }
    throw EScpiError(-104, "a parameter cannot start with `" + Shown(Rest()) + "`");
  }

  TParam String(char quote) {
    TParam p;
    p.Kind = TParam::TKind::String;
    ++FPos;
    for (;;) {
      if (AtEnd()) throw EScpiError(-151, "the string has no closing " + std::string(1, quote));
      const char c = FText[FPos++];
      if (c == quote) {
        if (!AtEnd() && Peek() == quote) {
          p.Text += quote;
          ++FPos;
          continue;
        }
        return p;
      }
      p.Text += c;
    }
  }

  TParam Number() {
    TParam p;
    p.Kind = TParam::TKind::Numeric;
    const size_t start = FPos;
    if (Peek() == '+' || Peek() == '-') ++FPos;
    size_t mantissa = 0;
    while (!AtEnd() && IsDigit(Peek())) ++FPos, ++mantissa;
    if (!AtEnd() && Peek() == '.') {
      ++FPos;
      while (!AtEnd() && IsDigit(Peek())) ++FPos, ++mantissa;
    }
    if (mantissa == 0) throw EScpiError(-120, "`" + Shown(FText.substr(start)) + "` is no number");
    // An exponent: E, optional spaces and sign, digits. An E not followed by
    // them starts the suffix (2 EX would be no unit anyway).
    if (!AtEnd() && Upper(Peek()) == 'E') {
      size_t at = FPos + 1;
      while (at < FText.size() && IsSpace(FText[at])) ++at;
      if (at < FText.size() && (FText[at] == '+' || FText[at] == '-')) ++at;
      if (at < FText.size() && IsDigit(FText[at])) {
        while (at < FText.size() && IsDigit(FText[at])) ++at;
        FPos = at;
      }
    }
    p.Text = std::string(FText.substr(start, FPos - start));
    std::string compact;
    for (char c : p.Text)
      if (!IsSpace(c) && c != '+') compact += c;
    const char* first = compact.data();
    const char* last = first + compact.size();
    const auto r = std::from_chars(first, last, p.Value);
    if (r.ec == std::errc::result_out_of_range) {
      // Too large is out of range; too small is as good as zero.
      const size_t e = compact.find_first_of("eE");
      if (e != std::string::npos && compact[e + 1] != '-')
        throw EScpiError(-222, p.Text + " is beyond any value the instrument takes");
      p.Value = 0.0;
    } else if (r.ec != std::errc() || r.ptr != last) {
      throw EScpiError(-120, "`" + p.Text + "` is no number");
    }
    // A unit suffix may follow, after spaces: "2 MHZ", "10ms", "5 PCT".
    size_t at = FPos;
    while (at < FText.size() && IsSpace(FText[at])) ++at;
    if (at < FText.size() && (IsAlpha(FText[at]) || FText[at] == '%')) {
      FPos = at;
      while (!AtEnd() && (IsAlpha(Peek()) || Peek() == '%' || Peek() == '/')) p.Suffix += Upper(FText[FPos++]);
      if (!AtEnd() && IsDigit(Peek())) throw EScpiError(-131, "`" + p.Suffix + Shown(Rest()) + "` is no unit");
    } else if (!AtEnd() && !IsSpace(Peek()) && Peek() != ',' && Peek() != ';') {
      throw EScpiError(-120, "`" + Shown(FText.substr(start)) + "` is no number");
    }
    return p;
  }

  // #H1F, #Q17, #B101: whole numbers in another base.
  TParam NonDecimal() {
    const size_t start = FPos;
    ++FPos;
    if (AtEnd()) throw EScpiError(-104, "`#` must be followed by H, Q or B and digits");
    const char base = Upper(Peek());
    const int radix = base == 'H' ? 16 : base == 'Q' ? 8 : base == 'B' ? 2 : 0;
    if (radix == 0) throw EScpiError(-104, "block data is not taken; `#` numbers are #H, #Q or #B");
    ++FPos;
    const size_t digits = FPos;
    while (!AtEnd() && std::isalnum(static_cast<unsigned char>(Peek()))) ++FPos;
    TParam p;
    p.Kind = TParam::TKind::Numeric;
    p.Text = std::string(FText.substr(start, FPos - start));
    uint64_t v = 0;
    const char* first = FText.data() + digits;
    const char* last = FText.data() + FPos;
    const auto r = std::from_chars(first, last, v, radix);
    if (first == last || r.ptr != last) throw EScpiError(-120, "`" + p.Text + "` is no number in its base");
    if (r.ec == std::errc::result_out_of_range) throw EScpiError(-222, p.Text + " is beyond any value");
    p.Value = static_cast<double>(v);
    return p;
  }

  std::string_view FText;
  size_t FPos = 0;
};

}  // namespace

std::vector<TUnit> ParseProgramMessage(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return TReader(text).Message();
}

std::string ShortForm(std::string_view keyword) {
  std::string s;
  for (char c : keyword)
    if (!std::islower(static_cast<unsigned char>(c))) s += c;
  return s;
}

bool KeywordMatches(std::string_view keyword, std::string_view word) {
  auto same = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
  };
  return same(keyword, word) || same(ShortForm(keyword), word);
}

}  // namespace Zu::Scpi

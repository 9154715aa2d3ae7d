#include "zugen4/ZuPlan.h"

#include <cstdio>

namespace Zu {

void TZuGen4Plan::AddCommand(const uint8_t* bytes, size_t count) {
  Steps.push_back({TZuGen4StepKind::Command, std::vector<uint8_t>(bytes, bytes + count), {}});
}

void TZuGen4Plan::AddBlock(const uint8_t* bytes, size_t count) {
  Steps.push_back({TZuGen4StepKind::Block, std::vector<uint8_t>(bytes, bytes + count), {}});
}

size_t TZuGen4Plan::Commands() const {
  size_t n = 0;
  for (const TZuGen4PlanStep& step : Steps) n += step.Kind == TZuGen4StepKind::Command;
  return n;
}

const TZuGen4PlanTable* TZuGen4Plan::TableOf(const std::string& path) const {
  for (const TZuGen4PlanTable& table : Tables)
    if (table.Path == path) return &table;
  return nullptr;
}

std::string HexText(const std::vector<uint8_t>& bytes, size_t limit) {
  const size_t shown = limit && bytes.size() > limit ? limit : bytes.size();
  std::string hex;
  hex.reserve(shown * 3 + 4);
  for (size_t i = 0; i < shown; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
    hex += b;
  }
  if (shown < bytes.size()) hex += " ...";
  return hex;
}

std::string TZuGen4Plan::Text() const {
  std::string out;
  uint64_t t = 0;
  for (const TZuGen4PlanStep& step : Steps) {
    // A block goes out right after the wait of the frame that announced it.
    char head[32];
    std::snprintf(head, sizeof head, "%8llu ms  ", static_cast<unsigned long long>(t));
    std::string hex = HexText(step.Bytes, 12);
    if (hex.size() < 17) hex.resize(17, ' ');
    out += head + hex + "  " + step.Text + "\n";
    if (step.Kind == TZuGen4StepKind::Command) t += CMD_WAIT_MS;
  }
  const std::string total = std::to_string(Commands()) + " commands, " + std::to_string(Steps.size() - Commands()) +
                            " data blocks: " + std::to_string(static_cast<unsigned long long>(DurationMs())) + " ms\n";
  return out + total;
}

bool TZuGen4Plan::operator==(const TZuGen4Plan& other) const {
  if (Steps.size() != other.Steps.size()) return false;
  for (size_t i = 0; i < Steps.size(); ++i)
    if (Steps[i].Kind != other.Steps[i].Kind || Steps[i].Bytes != other.Steps[i].Bytes) return false;
  return true;
}

}  // namespace Zu

#include "Trace.h"

#include <ostream>

namespace Zu::Tool {

TFrameTracer::TFrameTracer(std::shared_ptr<TClock> clock, std::ostream& out)
    : FClock(std::move(clock)), FVirtual(dynamic_cast<Sim::TVirtualClock*>(FClock.get())), FOut(out) {}

// From the first frame printed: what came before (the simulator being brought
// to the remembered setup) is not part of the command.
uint64_t TFrameTracer::Now() {
  const uint64_t t = FVirtual ? FVirtual->Now() : FClock->GetTickCount();
  if (!FStarted) {
    FStart = t;
    FStarted = true;
  }
  return t - FStart;
}

void TFrameTracer::Print(const std::vector<uint8_t>& bytes, const std::string& meaning, FT_STATUS status) {
  // Long blocks show their first bytes; the meaning gives the length.
  constexpr size_t kShown = 12;
  std::string hex =
      Sim::HexBytes(bytes.size() > kShown ? std::vector<uint8_t>(bytes.begin(), bytes.begin() + kShown) : bytes);
  if (bytes.size() > kShown) hex += " ...";
  char head[32];
  std::snprintf(head, sizeof head, "%8llu ms  ", static_cast<unsigned long long>(Now()));
  FOut << head << hex;
  for (size_t i = hex.size(); i < 17; ++i) FOut << ' ';
  FOut << "  " << meaning;
  if (status != FT_OK) FOut << "  [driver status " << status << "]";
  // Each line as it happens, also into a pipe.
  FOut << '\n' << std::flush;
}

void TFrameTracer::Sent(const uint8_t* bytes, uint32_t count, FT_STATUS status, bool print) {
  const std::string meaning = FModel.Write(bytes, count);
  if (print) Print(std::vector<uint8_t>(bytes, bytes + count), meaning, status);
}

void TFrameTracer::Received(const uint8_t* bytes, uint32_t count, FT_STATUS status, bool print) {
  const std::string meaning = FModel.Read(bytes, count);
  if (print) Print(std::vector<uint8_t>(bytes, bytes + count), meaning, status);
}

}  // namespace Zu::Tool

// Fuzz target: any text as SCPI program messages, one a line, carried out by
// the SCPI face on an active generator on the simulated instrument. Every
// message must be answered by a response or a queued error: nothing may
// crash or throw past the face, each response ends its line, the error queue
// stays bounded, and the instrument never sees a protocol violation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ScpiInstrument.h"
#include "SimCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TSimSession session;
  session.Gen.SetAutoUpdate(false);
  {
    Zu::Scpi::TScpiInstrument instrument(session.Gen, {});
    Zu::Scpi::TScpiSession client;
    size_t start = 0;
    for (int lines = 0; start <= text.size() && lines < 64; ++lines) {
      const size_t end = std::min(text.find('\n', start), text.size());
      const std::string answer = instrument.Execute(client, text.substr(start, end - start));
      if (!answer.empty() && (answer.back() != '\n' || answer.find('\n') != answer.size() - 1)) {
        std::fprintf(stderr, "response not one line: %s\n", answer.c_str());
        std::abort();
      }
      if (client.Count() > Zu::Scpi::TScpiSession::kQueueSize) std::abort();
      start = end + 1;
    }
  }
  session.Gen.SetActive(false);
  AbortOnProtocolViolations(session.Sim);
  return 0;
}

// `zugen4 scpi`: SCPI over raw TCP (port 5025 by convention), as PyVISA's
// TCPIP::host::port::SOCKET resources, LabVIEW and the like speak it. One
// thread does everything: it accepts, reads each client's lines and carries
// them out on the generator in the order they arrive, writes the answers, and
// runs the generator's timers (tuner polling). Lines and unread answers are
// bounded per client; a client that stops reading is not read from until it
// does.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ScpiInstrument.h"

namespace Zu::Sim {
class TSimTimers;
}

namespace Zu::Scpi {

// An address range clients may come from: "192.168.1.0/24", "10.1.2.3",
// "fd00::/8".
struct TCidr {
  bool V6 = false;
  uint8_t Bytes[16] = {};
  int Bits = 0;
};
// False, with the reason in `why`, for a text that is no address or range.
bool ParseCidr(const std::string& text, TCidr& out, std::string& why);
// Whether the address (IPv4 or IPv6 text; IPv4-mapped IPv6 counts as IPv4)
// lies in the range.
bool CidrContains(const TCidr& range, const std::string& address);
bool IsLoopbackAddress(const std::string& address);

struct TScpiServerOptions {
  std::string Listen = "127.0.0.1";
  int Port = 5025;  // 0: any free port (see Port() after Bind)
  // Who may connect besides this machine; required to listen beyond loopback.
  std::vector<TCidr> Allow;
  size_t MaxLine = 16 * 1024;      // a longer line is refused (-363) and skipped
  size_t MaxPending = 256 * 1024;  // unread answers held before reading stops
  size_t MaxClients = 32;
  // Virtual timers (the simulated instrument's) moved on in step with real
  // time, so that the tuner polls as on the desk.
  std::shared_ptr<Sim::TSimTimers> SimTimers;
  // Called about every 50 ms on the server's thread.
  std::function<void()> Tick;
  // Where connections and refusals are told; nullptr: nowhere.
  std::ostream* Log = nullptr;
};

class TScpiServer {
 public:
  TScpiServer(TScpiInstrument& instrument, TScpiServerOptions options);
  ~TScpiServer();
  TScpiServer(const TScpiServer&) = delete;
  TScpiServer& operator=(const TScpiServer&) = delete;

  // Binds and listens; "" when done, otherwise why not.
  std::string Bind();
  int Port() const { return FPort; }
  // Serves until Stop; on the generator's thread.
  void Run();
  // From any thread or a signal handler.
  void Stop();
  // SIGINT and SIGTERM stop the server that is running.
  void StopOnSignals();
  size_t Clients() const { return FClientCount.load(); }

 private:
  struct TClient;
  void Accept();
  bool ReadFrom(TClient& c);
  void Carry(TClient& c);
  void Overrun(TClient& c);
  bool WriteTo(TClient& c);

  TScpiInstrument& FInstrument;
  TScpiServerOptions FOptions;
  int FListenFd = -1;
  int FWake[2] = {-1, -1};
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<size_t> FClientCount{0};
  std::vector<std::unique_ptr<TClient>> FClients;
};

}  // namespace Zu::Scpi

// `zugen4 serve`: the front panel in the browser. The server owns the
// generator while it runs: one event loop on the thread that calls Run (the
// generator's own thread) reads every connection, carries out each request
// and drives the timers, so that every generator call happens on that thread,
// one at a time. The loop sleeps until a connection, a timer or Stop has
// something for it. No client can hold it up: requests are read piece by
// piece as bytes arrive, a client that sends nothing for a few seconds is
// dropped, and watching browsers cost a socket each, not a thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Api.h"
#include "EventHub.h"
#include "FrameLog.h"

namespace Zu::Sim {
class TSimTimers;
class TSimDriver;
}  // namespace Zu::Sim

namespace Zu::Serve {

struct TServeOptions {
  std::string Listen = "127.0.0.1";
  int Port = 8044;  // 0: any free port (see Port() after Bind)
  size_t BodyLimit = 256 * 1024;
  // A client whose request head is not complete this long after it
  // connected (or after its last answer) is dropped, silent or trickling;
  // so is one whose body stops coming for this long, or does not end within
  // RequestTimeoutMs.
  int IdleTimeoutMs = 5000;
  int RequestTimeoutMs = 60000;
  // An answer or event that the client does not take within this long ends
  // its connection, as does an event stream more than StreamBacklog bytes
  // behind (the browser reconnects and gets what the hub kept).
  int WriteTimeoutMs = 10000;
  size_t StreamBacklog = 256 * 1024;
  // Connections beyond this are closed at once.
  size_t MaxConnections = 1000;
  // Virtual timers (the simulated instrument's) that the loop moves on in
  // step with real time, so that polling runs as it would on the desk.
  std::shared_ptr<Sim::TSimTimers> SimTimers;
  // The simulated instrument: its trace is kept short while the panel runs.
  std::shared_ptr<Sim::TSimDriver> SimDriver;
  // Called on the generator's thread each time before virtual time moves on.
  std::function<void()> Tick;
  // Called on the generator's thread after each request that changed the setup.
  std::function<void()> OnChanged;
};

// The entries of the simulated instrument's trace the panel keeps.
inline constexpr size_t kSimTraceKept = 1000;

// Wraps the generator's driver so that every frame sent is recorded. The
// generator must not be active yet.
std::shared_ptr<TFrameLog> InstallFrameLog(TZuGen4& gen);

// A listen address that only this machine reaches.
bool IsLoopback(const std::string& address);

class TPanelServer {
 public:
  TPanelServer(TZuGen4& gen, TServeOptions options, std::shared_ptr<TFrameLog> frames);
  ~TPanelServer();
  TPanelServer(const TPanelServer&) = delete;
  TPanelServer& operator=(const TPanelServer&) = delete;

  // Binds the listening socket; false when the address or port is not to be
  // had, with the reason in BindError() and PortInUse() telling a port that
  // another program holds.
  bool Bind();
  const std::string& BindError() const { return FBindError; }
  bool PortInUse() const { return FPortInUse; }
  int Port() const;
  // The secret that changing requests carry (X-ZuGen4-Token) unless they come
  // from the page's own origin.
  const std::string& Token() const;
  // The address to open: with a non-loopback listen address it carries the token.
  std::string Url() const;

  // Serves until Stop; call on the generator's thread after Bind.
  void Run();
  // From any thread, or from a signal handler: Run returns at once, dropping
  // every connection.
  void Stop();
  // SIGINT and SIGTERM stop the server that is running (until it is
  // destroyed, when the handlers before it come back).
  void StopOnSignals();
  // Runs fn on the generator's thread while Run serves (from any thread).
  void Post(std::function<void()> fn);
  // What Run does when ms of real time have passed: ticks, virtual timers,
  // the frames sent published. On the generator's thread; benchmarks and
  // tests drive the panel on virtual time with it.
  void AdvanceTime(uint64_t ms);
  // The events kept for browsers that reconnect.
  const TEventHub& Hub() const;

  class TImpl;  // the event loop and its connections (Server.cpp)

 private:
  struct TOldSignals;
  std::unique_ptr<TImpl> FImpl;
  std::unique_ptr<TOldSignals> FOldSignals;
  std::string FBindError;
  bool FPortInUse = false;
};

}  // namespace Zu::Serve

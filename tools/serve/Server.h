// `zugen4 serve`: the front panel in the browser. The server owns the
// generator while it runs: every request is carried out on the thread that
// calls Run (the generator's own thread, whose timer queue Run also drives),
// one at a time; the HTTP connections live on threads of their own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Api.h"
#include "EventHub.h"
#include "FrameLog.h"

namespace httplib {
class Server;
}

namespace Zu::Sim {
class TSimTimers;
}

namespace Zu::Serve {

struct TServeOptions {
  std::string Listen = "127.0.0.1";
  int Port = 8044;  // 0: any free port (see Port() after Bind)
  size_t BodyLimit = 256 * 1024;
  // Virtual timers (the simulated instrument's) that Run moves on in step
  // with real time, so that polling runs as it would on the desk.
  std::shared_ptr<Sim::TSimTimers> SimTimers;
  // Called on the generator's thread about every 50 ms.
  std::function<void()> Tick;
  // Called on the generator's thread after each request that changed the setup.
  std::function<void()> OnChanged;
};

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

  // Binds the listening socket; false when the address or port is not to be had.
  bool Bind();
  int Port() const { return FPort; }
  // The secret that changing requests carry (X-ZuGen4-Token) unless they come
  // from the page's own origin.
  const std::string& Token() const { return FToken; }
  // The address to open: with a non-loopback listen address it carries the token.
  std::string Url() const;

  // Serves until Stop; call on the generator's thread after Bind.
  void Run();
  // From any thread, or from a signal handler.
  void Stop();
  // SIGINT and SIGTERM stop the server that is running.
  void StopOnSignals();

 private:
  TResult Exec(std::function<TResult(TPanelApi&)> job);
  void RunJobs();
  void Route();
  void Wake();

  TZuGen4& FGen;
  TServeOptions FOptions;
  std::shared_ptr<TFrameLog> FFrames;
  TEventHub FHub;
  std::unique_ptr<TPanelApi> FApi;
  std::unique_ptr<httplib::Server> FHttp;
  std::thread FHttpThread;
  std::string FToken;
  int FPort = 0;
  int FWakeFd = -1;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FRunning{false};

  struct TJob {
    std::function<TResult(TPanelApi&)> Work;
    TResult Result;
    bool Done = false;
  };
  std::mutex FJobsMutex;
  std::condition_variable FJobDone;
  std::deque<std::shared_ptr<TJob>> FJobs;
};

}  // namespace Zu::Serve

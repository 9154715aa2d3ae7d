#include "Server.h"

#include <httplib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <nlohmann/json.hpp>
#include <random>

#include "WebAssets.h"
#include "zugen4/Timers.h"
#include "zugen4/sim/SimTimers.h"

namespace Zu::Serve {

using nlohmann::json;

namespace {

std::string RandomToken() {
  std::random_device rd;
  std::string token;
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 32; ++i) token += kHex[rd() & 15];
  return token;
}

bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned>(a[i] ^ b[i]);
  return diff == 0;
}

void Send(httplib::Response& res, const TResult& r) {
  res.status = r.Status;
  if (!r.FileName.empty()) res.set_header("Content-Disposition", "attachment; filename=\"" + r.FileName + "\"");
  res.set_content(r.Body, r.ContentType.c_str());
}

void SendError(httplib::Response& res, int status, const std::string& error, const std::string& message) {
  res.status = status;
  res.set_content(json{{"error", error}, {"message", message}}.dump(), "application/json");
}

std::atomic<TPanelServer*> gSignalled{nullptr};

extern "C" void OnStopSignal(int) {
  if (TPanelServer* s = gSignalled.load()) s->Stop();
}

}  // namespace

bool IsLoopback(const std::string& address) {
  return address == "localhost" || address == "::1" || address.starts_with("127.");
}

std::shared_ptr<TFrameLog> InstallFrameLog(TZuGen4& gen) {
  // The generator keeps its platform complete: the driver is always there.
  TPlatform p = gen.Platform();
  auto log = std::make_shared<TFrameLog>(p.Driver);
  p.Driver = log;
  gen.SetPlatform(p);
  return log;
}

TPanelServer::TPanelServer(TZuGen4& gen, TServeOptions options, std::shared_ptr<TFrameLog> frames)
    : FGen(gen),
      FOptions(std::move(options)),
      FFrames(std::move(frames)),
      FApi(std::make_unique<TPanelApi>(gen, FHub, FFrames.get(), FOptions.OnChanged)),
      FHttp(std::make_unique<httplib::Server>()),
      FToken(RandomToken()),
      FWakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  // Each watching browser holds one thread with its event stream.
  FHttp->new_task_queue = [] { return new httplib::ThreadPool(16); };
  FHttp->set_payload_max_length(FOptions.BodyLimit);
  Route();
}

TPanelServer::~TPanelServer() {
  Stop();
  if (FHttpThread.joinable()) FHttpThread.join();
  TPanelServer* self = this;
  gSignalled.compare_exchange_strong(self, nullptr);
  if (FWakeFd >= 0) close(FWakeFd);
}

bool TPanelServer::Bind() {
  if (FOptions.Port == 0) {
    FPort = FHttp->bind_to_any_port(FOptions.Listen);
    return FPort > 0;
  }
  FPort = FOptions.Port;
  return FHttp->bind_to_port(FOptions.Listen, FPort);
}

std::string TPanelServer::Url() const {
  const bool v6 = FOptions.Listen.find(':') != std::string::npos;
  std::string url =
      "http://" + (v6 ? "[" + FOptions.Listen + "]" : FOptions.Listen) + ":" + std::to_string(FPort) + "/";
  if (!IsLoopback(FOptions.Listen)) url += "?token=" + FToken;
  return url;
}

void TPanelServer::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(FWakeFd, &one, sizeof one);
}

void TPanelServer::Stop() {
  FStop = true;
  Wake();
}

void TPanelServer::StopOnSignals() {
  gSignalled = this;
  struct sigaction sa = {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

TResult TPanelServer::Exec(std::function<TResult(TPanelApi&)> work) {
  auto job = std::make_shared<TJob>();
  job->Work = std::move(work);
  std::unique_lock lock(FJobsMutex);
  if (FStop) return {503, "application/json", R"({"error":"stopping","message":"the panel is shutting down"})", {}};
  FJobs.push_back(job);
  Wake();
  FJobDone.wait(lock, [&] { return job->Done; });
  return job->Result;
}

void TPanelServer::RunJobs() {
  for (;;) {
    std::shared_ptr<TJob> job;
    {
      std::lock_guard lock(FJobsMutex);
      if (FJobs.empty()) return;
      job = FJobs.front();
      FJobs.pop_front();
    }
    TResult r;
    if (FStop) {
      r = {503, "application/json", R"({"error":"stopping","message":"the panel is shutting down"})", {}};
    } else {
      try {
        r = job->Work(*FApi);
      } catch (const std::exception& e) {
        r = {500, "application/json", json{{"error", "internal"}, {"message", e.what()}}.dump(), {}};
      }
    }
    {
      std::lock_guard lock(FJobsMutex);
      job->Result = std::move(r);
      job->Done = true;
    }
    FJobDone.notify_all();
  }
}

void TPanelServer::Run() {
  FHttpThread = std::thread([this] { FHttp->listen_after_bind(); });
  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  while (!FStop) {
    pollfd fds[2] = {{FWakeFd, POLLIN, 0}, {MessagesFd(), POLLIN, 0}};
    poll(fds, fds[1].fd >= 0 ? 2 : 1, 50);
    uint64_t drained = 0;
    [[maybe_unused]] const ssize_t n = read(FWakeFd, &drained, sizeof drained);
    RunJobs();
    try {
      ProcessMessages();
      const auto now = Clock::now();
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - last);
      if (elapsed.count() >= 50) {
        last = now;
        if (FOptions.SimTimers) FOptions.SimTimers->Advance(static_cast<uint64_t>(elapsed.count()));
        if (FOptions.Tick) FOptions.Tick();
      }
    } catch (const Exception&) {
      // A poll that failed on the link was announced through OnFTError.
    }
    FApi->FlushFrames();
  }
  FHub.Close();
  FHttp->stop();
  if (FHttpThread.joinable()) FHttpThread.join();
  RunJobs();  // answers whatever still waits
}

void TPanelServer::Route() {
  using httplib::Request;
  using httplib::Response;
  using Handled = httplib::Server::HandlerResponse;
  const bool loopback = IsLoopback(FOptions.Listen);

  FHttp->set_pre_routing_handler([this, loopback](const Request& req, Response& res) {
    const std::string host = req.get_header_value("Host");
    const std::string port = ":" + std::to_string(FPort);
    // A page of another site that had its name point at this machine must
    // not reach the panel: only our own names are answered on loopback.
    if (loopback && host != "127.0.0.1" + port && host != "localhost" + port && host != "[::1]" + port) {
      SendError(res, 403, "forbidden", "unexpected Host \"" + host + "\"; open the panel at " + Url());
      return Handled::Handled;
    }
    std::string token = req.get_header_value("X-ZuGen4-Token");
    if (token.empty()) token = req.get_param_value("token");
    const bool tokenOk = SameSecret(token, FToken);
    const bool api = req.path.starts_with("/api/");
    if (!loopback && api && !tokenOk) {
      SendError(res, 403, "forbidden", "this panel listens beyond loopback: give the token it printed");
      return Handled::Handled;
    }
    const bool changing = req.method != "GET" && req.method != "HEAD";
    if (changing && !tokenOk) {
      const std::string origin = req.get_header_value("Origin");
      if (!loopback || origin.empty() || origin != "http://" + host) {
        SendError(res, 403, "forbidden",
                  "a change needs the panel's token (header X-ZuGen4-Token) or must come from the panel's own page");
        return Handled::Handled;
      }
    }
    return Handled::Unhandled;
  });

  FHttp->set_error_handler([](const Request&, Response& res) {
    if (!res.body.empty()) return;
    switch (res.status) {
      case 404: SendError(res, 404, "not found", "no such page or interface path"); break;
      case 413: SendError(res, 413, "too large", "the request body is over the panel's limit"); break;
      default: SendError(res, res.status, "bad request", "the request could not be read"); break;
    }
  });

  FHttp->Get("/", [this, loopback](const Request&, Response& res) {
    const TWebAsset* page = FindWebAsset("/index.html");
    std::string html(reinterpret_cast<const char*>(page->Data), page->Size);
    // On loopback the page carries the token; beyond it the user brings it
    // in the printed address.
    const std::string mark = "%%TOKEN%%";
    if (const size_t at = html.find(mark); at != std::string::npos)
      html.replace(at, mark.size(), loopback ? FToken : "");
    res.set_header("Cache-Control", "no-store");
    res.set_header("Content-Security-Policy", "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
    res.set_content(html, page->ContentType);
  });
  FHttp->Get(R"(/([a-z]+\.(css|js|svg)))", [](const Request& req, Response& res) {
    const TWebAsset* asset = FindWebAsset(req.path);
    if (!asset) {
      SendError(res, 404, "not found", req.path + " is not part of the panel");
      return;
    }
    res.set_content(std::string(reinterpret_cast<const char*>(asset->Data), asset->Size), asset->ContentType);
  });

  FHttp->Get("/api/setup",
             [this](const Request&, Response& res) { Send(res, Exec([](TPanelApi& api) { return api.GetSetup(); })); });
  FHttp->Post("/api/setup", [this](const Request& req, Response& res) {
    Send(res, Exec([&req](TPanelApi& api) { return api.PostSetup(req.body); }));
  });
  FHttp->Get(R"(/api/table/(.+))", [this](const Request& req, Response& res) {
    const std::string path = req.matches[1];
    Send(res, Exec([&path](TPanelApi& api) { return api.GetTable(path); }));
  });
  FHttp->Get("/api/settings", [this](const Request& req, Response& res) {
    const bool form = req.has_param("form");
    Send(res, Exec([form](TPanelApi& api) { return api.GetSettings(form); }));
  });
  FHttp->Put("/api/settings", [this](const Request& req, Response& res) {
    const bool form = req.has_param("form");
    Send(res, Exec([&req, form](TPanelApi& api) { return api.PutSettings(req.body, form); }));
  });
  FHttp->Get("/api/frames", [this](const Request&, Response& res) {
    Send(res, Exec([](TPanelApi& api) { return api.GetFrames(); }));
  });
  FHttp->Get("/api/events", [this](const Request& req, Response& res) {
    uint64_t from = FHub.LastId();
    if (req.has_header("Last-Event-ID")) {
      try {
        from = std::stoull(req.get_header_value("Last-Event-ID"));
      } catch (const std::exception&) {
      }
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_chunked_content_provider(
        "text/event-stream", [this, from, first = true](size_t, httplib::DataSink& sink) mutable {
          std::string out;
          if (first) {
            // Tells the browser at once that the stream stands.
            out = "retry: 2000\nevent: hello\ndata: {\"lastEvent\":" + std::to_string(from) + "}\n\n";
            first = false;
          } else {
            const std::vector<TEvent> events = FHub.Wait(from, 15000);
            if (FHub.Closed()) return false;
            if (events.empty()) out = ": still here\n\n";
            for (const TEvent& e : events) {
              out += "id: " + std::to_string(e.Id) + "\nevent: " + e.Type + "\ndata: " + e.Data + "\n\n";
              from = e.Id;
            }
          }
          return sink.write(out.data(), out.size());
        });
  });
}

}  // namespace Zu::Serve

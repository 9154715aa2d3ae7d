#include "Server.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <utility>  // before Asio, which needs std::exchange
//
#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <csignal>
#include <optional>
#include <random>
#include <unordered_set>

#include "Routes.h"
#include "zugen4/Timers.h"
#include "zugen4/sim/SimInstrument.h"
#include "zugen4/sim/SimTimers.h"

namespace Zu::Serve {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

std::string RandomToken() {
  std::random_device rd;
  std::string token;
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 32; ++i) token += kHex[rd() & 15];
  return token;
}

std::atomic<TPanelServer*> gSignalled{nullptr};

extern "C" void OnStopSignal(int) {
  if (TPanelServer* s = gSignalled.load()) s->Stop();
}

// Browsers drop an event stream that stays silent too long; a comment every
// so often keeps it, and shows which clients stopped taking what is sent.
constexpr auto kKeepAlive = std::chrono::seconds(15);
// The fastest the loop moves virtual time on for the simulated timers.
constexpr uint32_t kMinTimerStepMs = 10;
// What a connection that is being closed may still send us before we stop
// reading (so that our answer is not lost to a reset).
constexpr size_t kLingerBytes = 1024 * 1024;
constexpr auto kLingerTime = std::chrono::seconds(1);
constexpr int kStreamSendBuffer = 64 * 1024;

std::string Chunk(std::string_view data) {
  char size[20];
  const int n = std::snprintf(size, sizeof size, "%zx\r\n", data.size());
  std::string out(size, static_cast<size_t>(n));
  out.append(data);
  out += "\r\n";
  return out;
}

std::string EventText(const TEvent& e) {
  return "id: " + std::to_string(e.Id) + "\nevent: " + e.Type + "\ndata: " + e.Data + "\n\n";
}

std::string_view View(beast::string_view s) { return {s.data(), s.size()}; }

bool IsHttpError(const beast::error_code& ec) {
  return ec.category() == http::make_error_code(http::error::bad_target).category();
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

class TSession;

struct TPanelServer::TOldSignals {
  struct sigaction Int = {};
  struct sigaction Term = {};
};

class TPanelServer::TImpl {
 public:
  TImpl(TZuGen4& gen, TServeOptions options, std::shared_ptr<TFrameLog> frames)
      : Gen(gen),
        Options(std::move(options)),
        Frames(std::move(frames)),
        Api(std::make_unique<TPanelApi>(gen, Hub, Frames.get(), Options.OnChanged)),
        Router(*Api, Hub, Id),
        Acceptor(Io),
        AcceptRetry(Io),
        SimTimer(Io),
        KeepAliveTimer(Io),
        Wake(Io) {
    Id.Token = RandomToken();
    Id.Loopback = IsLoopback(Options.Listen);
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "no event descriptor for the panel");
    Wake.assign(fd);
    if (Options.SimDriver) {
      Options.SimDriver->SetTraceLimit(kSimTraceKept);
      Api->SetInstrumentState([driver = Options.SimDriver] { return driver->Model().StateText(); });
    }
  }

  ~TImpl() {
    if (Messages) Messages->release();  // the library's, not ours to close
  }

  void Run();
  void Stop() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(Wake.native_handle(), &one, sizeof one);
  }
  // Virtual time catches up with real time, then the request is answered.
  void CatchUp() {
    const auto now = Clock::now();
    const auto ms = std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(now - LastAdvance));
    LastAdvance += ms;
    Advance(static_cast<uint64_t>(ms.count()));
  }
  void Advance(uint64_t ms) {
    try {
      if (Options.Tick) Options.Tick();
      if (Options.SimTimers) Options.SimTimers->Advance(ms);
      ProcessMessages();
    } catch (const Exception&) {
      // A poll that failed on the link was announced through OnFTError.
    }
    Api->FlushFrames();
  }
  // Sleeps until the next simulated timer could be due, or not at all when
  // none runs.
  void ScheduleSim();
  void ScheduleKeepAlive();
  void Forget(TSession* s) {
    Sessions.erase(s);
    Streams.erase(s);
  }

  // First, so that it goes last: pending handlers (and the sessions they
  // hold) die with it while everything they point at still stands.
  asio::io_context Io;
  TZuGen4& Gen;
  TServeOptions Options;
  std::shared_ptr<TFrameLog> Frames;
  TEventHub Hub;
  std::unique_ptr<TPanelApi> Api;
  TPanelIdentity Id;
  TRouter Router;
  tcp::acceptor Acceptor;
  asio::steady_timer AcceptRetry;
  asio::steady_timer SimTimer;
  asio::steady_timer KeepAliveTimer;
  bool KeepAliveArmed = false;
  asio::posix::stream_descriptor Wake;
  std::optional<asio::posix::stream_descriptor> Messages;
  std::unordered_set<TSession*> Sessions;
  std::unordered_set<TSession*> Streams;
  Clock::time_point LastAdvance = Clock::now();
  bool Stopping = false;

 private:
  void Accept();
  void WaitStop();
  void WaitMessages();
  void BeginStop();
};

// One connection: reads requests piece by piece as their bytes come, answers
// each, and becomes an event stream when asked for one.
class TSession : public std::enable_shared_from_this<TSession> {
 public:
  TSession(TPanelServer::TImpl& server, tcp::socket socket)
      : FServer(server), FStream(std::move(socket)), FBuffer(server.Options.BodyLimit + 64 * 1024) {}

  void Start() { ReadRequest(); }
  void Close();
  // Event streams only.
  void Push(const TEvent& e) { Send(Chunk(EventText(e))); }
  void KeepAlive();

 private:
  void ReadRequest();
  void ReadSome();
  void OnRead(beast::error_code ec);
  bool OnHead();
  void Answer();
  void Write(THttpReply reply, bool keepAlive, bool head);
  void Linger();
  void StartStream(uint64_t from);
  void Send(std::string bytes);
  void Flush();
  void WatchClose();

  TPanelServer::TImpl& FServer;
  beast::tcp_stream FStream;
  beast::flat_buffer FBuffer;
  std::optional<http::request_parser<http::string_body>> FParser;
  THttpRequest FRequest;
  bool FHeadSeen = false;
  Clock::time_point FRequestDeadline;
  bool FClosed = false;
  // The event stream's bytes: those being written, those waiting.
  std::string FSending;
  std::string FWaiting;
  Clock::time_point FWriteStart;
  size_t FLingered = 0;
  std::array<char, 4096> FSink{};
};

void TSession::Close() {
  if (FClosed) return;
  FClosed = true;
  FServer.Forget(this);
  beast::error_code ec;
  FStream.socket().shutdown(tcp::socket::shutdown_both, ec);
  FStream.close();
}

void TSession::ReadRequest() {
  FParser.emplace();
  FParser->body_limit(FServer.Options.BodyLimit);
  FParser->header_limit(16 * 1024);
  FHeadSeen = false;
  FRequestDeadline = Clock::now() + milliseconds(FServer.Options.RequestTimeoutMs);
  ReadSome();
}

void TSession::ReadSome() {
  // The parser takes a head only whole, so this read lasts until the head is
  // in: the head gets one idle time in all, the body one per piece, and the
  // whole request its own limit. A client too slow for either goes.
  FStream.expires_at(std::min(Clock::now() + milliseconds(FServer.Options.IdleTimeoutMs), FRequestDeadline));
  http::async_read_some(FStream, FBuffer, *FParser,
                        [self = shared_from_this()](beast::error_code ec, size_t) { self->OnRead(ec); });
}

void TSession::OnRead(beast::error_code ec) {
  if (FClosed) return;
  if (ec == http::error::need_more) ec = {};
  if (ec == http::error::body_limit) {
    Write(ErrorReply(413, "too large",
                     "the request body is over the panel's limit of " +
                         std::to_string(FServer.Options.BodyLimit / 1024) + " KiB"),
          false, false);
    return;
  }
  if (ec && IsHttpError(ec) && ec != http::error::end_of_stream && ec != http::error::partial_message) {
    Write(ErrorReply(400, "bad request", "the request could not be read: " + ec.message()), false, false);
    return;
  }
  if (ec) {  // gone, silent for too long, or too slow
    Close();
    return;
  }
  if (FParser->is_header_done() && !FHeadSeen) {
    FHeadSeen = true;
    if (!OnHead()) return;
  }
  if (FParser->is_done())
    Answer();
  else
    ReadSome();
}

// The head is in: the guards decide before any body is read.
bool TSession::OnHead() {
  const auto& msg = FParser->get();
  FRequest = {};
  FRequest.Method = std::string(View(msg.method_string()));
  for (const auto& field : msg) FRequest.Headers.emplace_back(View(field.name_string()), View(field.value()));
  if (!FRequest.SetTarget(View(msg.target()))) {
    Write(ErrorReply(400, "bad request", "the request's path has a broken %-escape"), false, false);
    return false;
  }
  if (std::optional<THttpReply> refused = FServer.Router.Guard(FRequest)) {
    Write(std::move(*refused), false, false);
    return false;
  }
  std::string expect = FRequest.Header("Expect");
  std::transform(expect.begin(), expect.end(), expect.begin(), [](unsigned char c) { return std::tolower(c); });
  if (expect == "100-continue" && !FParser->is_done()) {
    static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
    FStream.expires_after(milliseconds(FServer.Options.WriteTimeoutMs));
    asio::async_write(FStream, asio::buffer(kContinue.data(), kContinue.size()),
                      [self = shared_from_this()](beast::error_code ec, size_t) {
                        if (self->FClosed) return;
                        if (ec)
                          self->Close();
                        else
                          self->ReadSome();
                      });
    return false;
  }
  return true;
}

void TSession::Answer() {
  auto& msg = FParser->get();
  FRequest.Body = std::move(msg.body());
  const bool keepAlive = msg.keep_alive();
  const bool head = msg.method() == http::verb::head;
  FServer.CatchUp();
  THttpReply reply = FServer.Router.Route(FRequest);
  FServer.ScheduleSim();
  FRequest.Body.clear();
  if (reply.StreamFrom && !head)
    StartStream(*reply.StreamFrom);
  else
    Write(std::move(reply), keepAlive && !FServer.Stopping, head);
}

void TSession::Write(THttpReply reply, bool keepAlive, bool head) {
  auto res = std::make_shared<http::response<http::string_body>>();
  res->version(11);
  res->result(static_cast<unsigned>(reply.Status));
  res->set(http::field::content_type, reply.ContentType);
  if (!reply.FileName.empty())
    res->set(http::field::content_disposition, "attachment; filename=\"" + reply.FileName + "\"");
  for (const auto& [name, value] : reply.Headers) res->set(name, value);
  res->keep_alive(keepAlive);
  if (head) {
    res->content_length(reply.Body.size());
  } else {
    res->body() = std::move(reply.Body);
    res->prepare_payload();
  }
  FStream.expires_after(milliseconds(FServer.Options.WriteTimeoutMs));
  http::async_write(FStream, *res, [self = shared_from_this(), res, keepAlive](beast::error_code ec, size_t) {
    if (self->FClosed) return;
    if (ec)
      self->Close();
    else if (keepAlive)
      self->ReadRequest();
    else
      self->Linger();
  });
}

// Closing with unread bytes from the client would reset the connection and
// could lose the answer just sent: stop sending, read what is still coming
// for a moment, then close.
void TSession::Linger() {
  beast::error_code ignored;
  FStream.socket().shutdown(tcp::socket::shutdown_send, ignored);
  FStream.expires_after(kLingerTime);
  FStream.async_read_some(asio::buffer(FSink), [self = shared_from_this()](beast::error_code ec, size_t n) {
    if (self->FClosed) return;
    self->FLingered += n;
    if (ec || self->FLingered > kLingerBytes)
      self->Close();
    else
      self->Linger();
  });
}

void TSession::StartStream(uint64_t from) {
  FStream.expires_never();
  // What the system holds for a stream that is not read counts too.
  beast::error_code ignored;
  FStream.socket().set_option(asio::socket_base::send_buffer_size(kStreamSendBuffer), ignored);
  FServer.Streams.insert(this);
  FServer.ScheduleKeepAlive();
  std::string out =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
      "Transfer-Encoding: chunked\r\n\r\n";
  // Tells the browser at once that the stream stands, then what it missed.
  std::string first = "retry: 2000\nevent: hello\ndata: {\"lastEvent\":" + std::to_string(from) + "}\n\n";
  for (const TEvent& e : FServer.Hub.Since(from)) first += EventText(e);
  out += Chunk(first);
  Send(std::move(out));
  WatchClose();
}

void TSession::Send(std::string bytes) {
  if (FClosed) return;
  FWaiting += bytes;
  // A client that does not read is not worth the memory: it reconnects and
  // gets what the hub kept.
  if (FWaiting.size() + FSending.size() > FServer.Options.StreamBacklog) {
    Close();
    return;
  }
  Flush();
}

void TSession::Flush() {
  if (FClosed || !FSending.empty() || FWaiting.empty()) return;
  FSending.swap(FWaiting);
  FWriteStart = Clock::now();
  asio::async_write(FStream.socket(), asio::buffer(FSending),
                    [self = shared_from_this()](beast::error_code ec, size_t) {
                      if (self->FClosed) return;
                      self->FSending.clear();
                      if (ec)
                        self->Close();
                      else
                        self->Flush();
                    });
}

void TSession::KeepAlive() {
  if (!FSending.empty() && Clock::now() - FWriteStart > milliseconds(FServer.Options.WriteTimeoutMs)) {
    Close();
    return;
  }
  Send(Chunk(": still here\n\n"));
}

// An event stream reads nothing more, but must notice the browser leaving.
void TSession::WatchClose() {
  FStream.socket().async_read_some(asio::buffer(FSink), [self = shared_from_this()](beast::error_code ec, size_t) {
    if (self->FClosed) return;
    if (ec)
      self->Close();
    else
      self->WatchClose();
  });
}

// --- the loop ---

void TPanelServer::TImpl::Accept() {
  Acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (Stopping || ec == asio::error::operation_aborted) return;
    if (ec) {
      // Out of descriptors, most likely: try again shortly rather than spin.
      AcceptRetry.expires_after(milliseconds(100));
      AcceptRetry.async_wait([this](beast::error_code e) {
        if (!e && !Stopping) Accept();
      });
      return;
    }
    if (Sessions.size() < Options.MaxConnections) {
      auto session = std::make_shared<TSession>(*this, std::move(socket));
      Sessions.insert(session.get());
      session->Start();
    }
    Accept();
  });
}

void TPanelServer::TImpl::WaitStop() {
  Wake.async_wait(asio::posix::descriptor_base::wait_read, [this](beast::error_code ec) {
    if (!ec) BeginStop();
  });
}

void TPanelServer::TImpl::WaitMessages() {
  if (!Messages) return;
  Messages->async_wait(asio::posix::descriptor_base::wait_read, [this](beast::error_code ec) {
    if (ec || Stopping) return;
    CatchUp();
    ScheduleSim();
    WaitMessages();
  });
}

void TPanelServer::TImpl::ScheduleSim() {
  if (!Options.SimTimers || Stopping) return;
  const std::vector<uint32_t> periods = Options.SimTimers->Periods();
  if (periods.empty()) {
    SimTimer.cancel();
    return;
  }
  const uint32_t step = std::max(kMinTimerStepMs, *std::min_element(periods.begin(), periods.end()));
  const auto due = LastAdvance + milliseconds(step);
  if (SimTimer.expiry() == due) return;
  SimTimer.expires_at(due);
  SimTimer.async_wait([this](beast::error_code ec) {
    if (ec || Stopping) return;
    CatchUp();
    ScheduleSim();
  });
}

void TPanelServer::TImpl::ScheduleKeepAlive() {
  if (KeepAliveArmed || Stopping) return;
  KeepAliveArmed = true;
  KeepAliveTimer.expires_after(kKeepAlive);
  KeepAliveTimer.async_wait([this](beast::error_code ec) {
    KeepAliveArmed = false;
    if (ec || Stopping) return;
    const std::vector<TSession*> streams(Streams.begin(), Streams.end());
    for (TSession* s : streams)
      if (Streams.contains(s)) s->KeepAlive();
    if (!Streams.empty()) ScheduleKeepAlive();
  });
}

void TPanelServer::TImpl::BeginStop() {
  Stopping = true;
  beast::error_code ignored;
  Acceptor.close(ignored);
  const std::vector<TSession*> sessions(Sessions.begin(), Sessions.end());
  for (TSession* s : sessions) s->Close();
  Io.stop();
}

void TPanelServer::TImpl::Run() {
  Hub.OnPublish = [this](const TEvent& e) {
    const std::vector<TSession*> streams(Streams.begin(), Streams.end());
    for (TSession* s : streams)
      if (Streams.contains(s)) s->Push(e);
  };
  // The system's timers (a real instrument's polling) make this readable.
  if (const int fd = MessagesFd(); fd >= 0 && !Messages) Messages.emplace(Io, fd);
  LastAdvance = Clock::now();
  WaitStop();
  WaitMessages();
  Accept();
  ScheduleSim();
  Io.run();
  Hub.OnPublish = nullptr;
}

// --- the server ---

TPanelServer::TPanelServer(TZuGen4& gen, TServeOptions options, std::shared_ptr<TFrameLog> frames)
    : FImpl(std::make_unique<TImpl>(gen, std::move(options), std::move(frames))) {}

TPanelServer::~TPanelServer() {
  TPanelServer* self = this;
  if (gSignalled.compare_exchange_strong(self, nullptr) && FOldSignals) {
    sigaction(SIGINT, &FOldSignals->Int, nullptr);
    sigaction(SIGTERM, &FOldSignals->Term, nullptr);
  }
}

bool TPanelServer::Bind() {
  TImpl& s = *FImpl;
  beast::error_code ec;
  tcp::resolver resolver(s.Io);
  const std::string where = s.Options.Listen + " port " + std::to_string(s.Options.Port);
  const auto found = resolver.resolve(s.Options.Listen, std::to_string(s.Options.Port),
                                      tcp::resolver::passive | tcp::resolver::numeric_service, ec);
  if (ec || found.empty()) {
    FBindError = "cannot listen on " + where + ": " + (ec ? ec.message() : "no such address");
    return false;
  }
  const tcp::endpoint endpoint = found.begin()->endpoint();
  s.Acceptor.open(endpoint.protocol(), ec);
  // Reuses a port whose old connections linger, never one that listens:
  // a second panel on the same port fails here.
  if (!ec) s.Acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) s.Acceptor.bind(endpoint, ec);
  if (!ec) s.Acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    FPortInUse = ec == asio::error::address_in_use;
    FBindError = FPortInUse ? "port " + std::to_string(s.Options.Port) + " on " + s.Options.Listen +
                                  " is taken by another program (another panel?)"
                            : "cannot listen on " + where + ": " + ec.message();
    beast::error_code ignored;
    s.Acceptor.close(ignored);
    return false;
  }
  s.Id.Port = s.Acceptor.local_endpoint().port();
  s.Id.Url = Url();
  return true;
}

int TPanelServer::Port() const { return FImpl->Id.Port; }

const std::string& TPanelServer::Token() const { return FImpl->Id.Token; }

std::string TPanelServer::Url() const {
  const std::string& listen = FImpl->Options.Listen;
  const bool v6 = listen.find(':') != std::string::npos;
  std::string url = "http://" + (v6 ? "[" + listen + "]" : listen) + ":" + std::to_string(Port()) + "/";
  if (!FImpl->Id.Loopback) url += "?token=" + Token();
  return url;
}

void TPanelServer::Run() { FImpl->Run(); }

void TPanelServer::Stop() { FImpl->Stop(); }

void TPanelServer::StopOnSignals() {
  gSignalled = this;
  struct sigaction sa = {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  FOldSignals = std::make_unique<TOldSignals>();
  sigaction(SIGINT, &sa, &FOldSignals->Int);
  sigaction(SIGTERM, &sa, &FOldSignals->Term);
}

void TPanelServer::Post(std::function<void()> fn) { asio::post(FImpl->Io, std::move(fn)); }

void TPanelServer::AdvanceTime(uint64_t ms) { FImpl->Advance(ms); }

const TEventHub& TPanelServer::Hub() const { return FImpl->Hub; }

}  // namespace Zu::Serve

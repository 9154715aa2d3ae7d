// The panel under abuse, on raw loopback sockets: bodies nested beyond reason,
// hundreds of watching browsers beside clients that trickle or say nothing,
// a stop whatever the clients do, a port another program holds, and a long
// run on virtual time that keeps nothing without bound.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <future>
#include <sstream>
#include <thread>

#include "Api.h"
#include "Server.h"
#include "SimPanel.h"
#include "Tool.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/sim/SimInstrument.h"

namespace {

using namespace Zu::Serve;
using namespace std::chrono_literals;

// A raw client socket on 127.0.0.1 whose reads give up after `timeout`.
class TRawClient {
 public:
  // receiveBuffer: the socket's receive buffer in bytes (0: the system's).
  explicit TRawClient(int port, std::chrono::milliseconds timeout = 5000ms, int receiveBuffer = 0)
      : FFd(socket(AF_INET, SOCK_STREAM, 0)) {
    if (receiveBuffer) setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    timeval tv{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FConnected = connect(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~TRawClient() { close(FFd); }
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  bool Connected() const { return FConnected; }
  bool Send(std::string_view bytes) {
    return send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until `marker` arrives; false on end of stream or time out.
  bool ReadUntil(std::string_view marker) {
    while (FIn.find(marker) == std::string::npos)
      if (!ReadMore()) return false;
    return true;
  }
  // Reads until the server closes (true) or the read times out (false).
  bool ReadToEnd() {
    char buf[4096];
    for (;;) {
      const ssize_t n = recv(FFd, buf, sizeof buf, 0);
      if (n == 0) return true;
      if (n < 0) return errno == ECONNRESET;
      FIn.append(buf, static_cast<size_t>(n));
    }
  }
  // One whole answer with a Content-Length; its status, 0 when none came.
  int ReadAnswer(std::string* body = nullptr) {
    if (!ReadUntil("\r\n\r\n")) return 0;
    const size_t head = FIn.find("\r\n\r\n") + 4;
    const size_t at = FIn.find("Content-Length: ");
    const size_t length = at < head ? std::stoul(FIn.substr(at + 16)) : 0;
    while (FIn.size() < head + length)
      if (!ReadMore()) return 0;
    if (body) *body = FIn.substr(head, length);
    const int status = std::stoi(FIn.substr(9, 3));
    FIn.erase(0, head + length);
    return status;
  }
  const std::string& Received() const { return FIn; }

 private:
  bool ReadMore() {
    char buf[4096];
    const ssize_t n = recv(FFd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    FIn.append(buf, static_cast<size_t>(n));
    return true;
  }
  int FFd;
  bool FConnected = false;
  std::string FIn;
};

std::string Request(const std::string& method, const std::string& path, int port, const std::string& token = "",
                    const std::string& body = "") {
  std::string r = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
  if (!token.empty()) r += "X-ZuGen4-Token: " + token + "\r\n";
  if (!body.empty() || method != "GET") r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return r + "\r\n" + body;
}

// The panel over the simulated instrument on its own thread, with timeouts
// short enough for a test.
class PanelAbuse : public ::testing::Test {
 protected:
  void Start(TServeOptions options = {}) {
    std::promise<void> ready;
    FThread = std::thread([this, options, &ready]() mutable {
      TSimPanel panel;
      options.Port = 0;
      TPanelServer server(panel.Gen, panel.Options(options), panel.Log);
      const bool bound = server.Bind();
      FPort = server.Port();
      FToken = server.Token();
      FServer = &server;
      if (FStopOnSignals) server.StopOnSignals();
      ready.set_value();
      if (bound) server.Run();
      FStopped.set_value();
    });
    ready.get_future().wait();
    ASSERT_GT(FPort, 0);
  }
  void TearDown() override {
    if (FThread.joinable()) {
      FServer->Stop();
      FThread.join();
    }
  }
  // Whether Run returned within `limit` (a stuck server fails, not hangs, the test).
  bool StoppedWithin(std::chrono::milliseconds limit) {
    if (FDone.wait_for(limit) != std::future_status::ready) return false;
    FThread.join();
    return true;
  }

  std::thread FThread;
  TPanelServer* FServer = nullptr;
  int FPort = 0;
  std::string FToken;
  bool FStopOnSignals = false;
  std::promise<void> FStopped;
  std::future<void> FDone = FStopped.get_future();
};

TEST_F(PanelAbuse, DeepNestingIsRefusedBeforeAnythingIsBuilt) {
  Start();
  const std::string deep(90000, '['), shut(90000, ']');
  struct Case {
    std::string body;
    const char* error;
  };
  const Case cases[] = {
      {R"({"ChA.Phase": )" + deep + shut + "}", "too deeply nested"},
      {deep + shut, "too deeply nested"},
      {std::string(33, '[') + std::string(33, ']'), "too deeply nested"},
      // Brackets inside strings are text, and 32 levels are still read.
      {R"({"ChA.Phase": "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["})", "bad value"},
      {R"({"ChA.Phase": )" + std::string(31, '[') + std::string(31, ']') + "}", "bad value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 60));
    TRawClient client(FPort);
    ASSERT_TRUE(client.Send(Request("POST", "/api/setup", FPort, FToken, c.body)));
    std::string body;
    EXPECT_EQ(client.ReadAnswer(&body), 400);
    EXPECT_NE(body.find(c.error), std::string::npos) << body;
  }
}

TEST_F(PanelAbuse, PlainRequestAnswersBesideManyWatchersAndSlowClients) {
  Start();
  std::vector<std::unique_ptr<TRawClient>> watchers, slow;
  for (int i = 0; i < 200; ++i) {
    watchers.push_back(std::make_unique<TRawClient>(FPort));
    ASSERT_TRUE(watchers.back()->Send(Request("GET", "/api/events", FPort, FToken)));
  }
  for (auto& w : watchers) ASSERT_TRUE(w->ReadUntil("event: hello")) << w->Received();
  for (int i = 0; i < 20; ++i) {
    slow.push_back(std::make_unique<TRawClient>(FPort));
    ASSERT_TRUE(slow.back()->Send("POST /api/setup HTTP/1.1\r\nHo"));
  }
  TRawClient plain(FPort);
  ASSERT_TRUE(plain.Send(Request("GET", "/api/setup", FPort)));
  EXPECT_EQ(plain.ReadAnswer(), 200);
  // A change reaches every watcher.
  TRawClient change(FPort);
  ASSERT_TRUE(change.Send(Request("POST", "/api/setup", FPort, FToken, R"({"ChA.Phase": 45})")));
  EXPECT_EQ(change.ReadAnswer(), 200);
  for (auto& w : watchers) EXPECT_TRUE(w->ReadUntil("event: setup"));
}

TEST_F(PanelAbuse, SilentAndTricklingClientsAreDropped) {
  TServeOptions options;
  options.IdleTimeoutMs = 300;
  Start(options);
  TRawClient silent(FPort), trickling(FPort), afterAnswer(FPort);
  ASSERT_TRUE(afterAnswer.Send(Request("GET", "/api/setup", FPort)));
  EXPECT_EQ(afterAnswer.ReadAnswer(), 200);
  // A byte every 100 ms is never silent for long, but its head never ends in time.
  const std::string head = Request("GET", "/api/setup", FPort);
  bool dropped = false;
  for (size_t i = 0; i < 40 && !dropped; ++i) {
    dropped = !trickling.Send(head.substr(i % head.size(), 1));
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(silent.ReadToEnd());
  EXPECT_TRUE(afterAnswer.ReadToEnd());
  EXPECT_TRUE(trickling.ReadToEnd());
  EXPECT_EQ(trickling.Received().find("200 OK"), std::string::npos);
}

// A browser that stops taking its events is let go once it is far behind,
// instead of the panel keeping every event for it.
TEST_F(PanelAbuse, AWatcherThatDoesNotReadIsLetGo) {
  TServeOptions options;
  options.StreamBacklog = 16 * 1024;
  Start(options);
  TRawClient stuck(FPort, 5000ms, 4096);
  ASSERT_TRUE(stuck.Send(Request("GET", "/api/events", FPort, FToken)));
  for (int i = 0; i < 400; ++i) {
    TRawClient change(FPort);
    ASSERT_TRUE(
        change.Send(Request("POST", "/api/setup", FPort, FToken, R"({"ChA.Phase": )" + std::to_string(i % 360) + "}")));
    ASSERT_EQ(change.ReadAnswer(), 200);
  }
  EXPECT_TRUE(stuck.ReadToEnd()) << stuck.Received().size();
}

TEST_F(PanelAbuse, StopsAtOnceOnSigtermWhateverClientsDo) {
  FStopOnSignals = true;
  Start();
  TRawClient watcher(FPort), trickling(FPort), halfBody(FPort);
  ASSERT_TRUE(watcher.Send(Request("GET", "/api/events", FPort, FToken)));
  ASSERT_TRUE(watcher.ReadUntil("event: hello"));
  ASSERT_TRUE(trickling.Send("GET /api/se"));
  ASSERT_TRUE(halfBody.Send(Request("POST", "/api/setup", FPort, FToken).substr(0, 60)));
  std::this_thread::sleep_for(50ms);
  kill(getpid(), SIGTERM);
  EXPECT_TRUE(StoppedWithin(1000ms));
  EXPECT_TRUE(watcher.ReadToEnd());
}

TEST_F(PanelAbuse, APortThatIsTakenIsAnErrorNamingIt) {
  Start();
  Zu::Sim::TSimPlatform sim;
  Zu::TZuGen4 gen;
  gen.SetPlatform(sim.Platform());
  TServeOptions options;
  options.Port = FPort;
  TPanelServer second(gen, options, nullptr);
  EXPECT_FALSE(second.Bind());
  ASSERT_TRUE(second.PortInUse()) << second.BindError();
  EXPECT_NE(second.BindError().find("port " + std::to_string(FPort)), std::string::npos) << second.BindError();

  // The tool says so and ends with its code for a busy device or port.
  const std::string state = testing::TempDir() + "panel-busy-port.zg4";
  std::ostringstream out, err;
  EXPECT_EQ(Zu::Tool::RunTool({"--sim", "--state", state, "serve", "--port", std::to_string(FPort)}, out, err), 5);
  EXPECT_NE(err.str().find("port " + std::to_string(FPort)), std::string::npos) << err.str();
  std::remove(state.c_str());
}

// An hour of tuning on virtual time: the simulator's trace, the frame log
// and the events stay within their bounds.
TEST(PanelLongRun, AnHourOfTuningKeepsNothingWithoutBound) {
  TSimPanel panel;
  TPanelServer server(panel.Gen, panel.Options(), panel.Log);
  Zu::SetProps(panel.Gen,
               {{"ChB.Mode", "tuning"}, {"ChB.Tuner.ADCTimerInterval", "50"}, {"ChB.Tuner.ADCTimerEnabled", "true"}});
  panel.Gen.UpdateMode();
  for (int minute = 0; minute < 60; ++minute)
    for (int step = 0; step < 60 * 20; ++step) server.AdvanceTime(50);
  EXPECT_GT(server.Hub().LastId(), 60u * 60 * 20);  // every reading was an event
  EXPECT_LE(server.Hub().Kept(), 512u);
  EXPECT_LE(panel.Sim.Driver->Trace().size(), 2 * kSimTraceKept);
  EXPECT_LE(panel.Log->Since(0).size(), 400u);
}

}  // namespace

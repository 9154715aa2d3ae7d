// The panel's JSON interface over HTTP, against the simulated instrument: each
// kind of request and of error, one update per request, the event stream and
// the guards against other sites and other machines.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "Api.h"
#include "Server.h"
#include "SimPanel.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/sim/SimInstrument.h"

namespace {

using nlohmann::json;
using namespace Zu::Serve;

// A server on an ephemeral loopback port whose generator lives on the
// server's own thread, as in `zugen4 serve --sim`.
class Panel : public ::testing::Test {
 protected:
  void SetUp() override {
    std::promise<void> ready;
    FThread = std::thread([this, &ready] {
      TSimPanel panel;
      TServeOptions options = panel.Options();
      options.Port = 0;
      options.Listen = FListen;
      FSim = &panel.Sim;
      TPanelServer server(panel.Gen, options, panel.Log);
      const bool bound = server.Bind();
      FPort = server.Port();
      FToken = server.Token();
      FServer = &server;
      ready.set_value();
      if (bound) server.Run();
      FViolations = panel.Sim.Driver->Violations();
    });
    ready.get_future().wait();
    ASSERT_GT(FPort, 0);
    FHost = "127.0.0.1:" + std::to_string(FPort);
  }

  void TearDown() override {
    FServer->Stop();
    FThread.join();
    EXPECT_TRUE(FViolations.empty()) << FViolations.front();
  }

  httplib::Client Client() {
    httplib::Client c("127.0.0.1", FPort);
    c.set_read_timeout(5, 0);
    return c;
  }
  httplib::Headers Auth() const { return {{"X-ZuGen4-Token", FToken}}; }

  httplib::Result Post(const std::string& body, httplib::Headers headers = {}) {
    if (headers.empty()) headers = Auth();
    return Client().Post("/api/setup", headers, body, "application/json");
  }
  json GetJson(const std::string& path) {
    auto r = Client().Get(path.c_str());
    EXPECT_TRUE(r && r->status == 200) << path;
    return r ? json::parse(r->body) : json();
  }
  json ValueOf(const std::string& path) {
    const json props = GetJson("/api/setup")["properties"];
    for (const json& p : props)
      if (p["path"] == path) return p["value"];
    return nullptr;
  }
  // The frames sent since the log held `after` entries.
  std::vector<json> FramesAfter(uint64_t after) {
    std::vector<json> out;
    const json frames = GetJson("/api/frames")["frames"];
    for (const json& f : frames)
      if (f["seq"].get<uint64_t>() > after && f["kind"] == "frame") out.push_back(f);
    return out;
  }
  uint64_t LastSeq() {
    const json frames = GetJson("/api/frames")["frames"];
    return frames.empty() ? 0 : frames.back()["seq"].get<uint64_t>();
  }

  std::string FListen = "127.0.0.1";
  std::thread FThread;
  TPanelServer* FServer = nullptr;
  int FPort = 0;
  std::string FToken;
  std::string FHost;
  Zu::Sim::TSimPlatform* FSim = nullptr;
  std::vector<std::string> FViolations;
};

// Reads the event stream on its own thread and keeps every event.
class EventReader {
 public:
  EventReader(int port, std::string token) : FClient("127.0.0.1", port) {
    FThread = std::thread([this, token] {
      httplib::Client& c = FClient;
      std::string buffer;
      c.Get("/api/events", {{"X-ZuGen4-Token", token}}, [&](const char* data, size_t n) {
        buffer.append(data, n);
        for (size_t end; (end = buffer.find("\n\n")) != std::string::npos; buffer.erase(0, end + 2)) {
          std::string type, payload;
          std::istringstream lines(buffer.substr(0, end));
          for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("event: ")) type = line.substr(7);
            if (line.starts_with("data: ")) payload = line.substr(6);
          }
          if (type.empty()) continue;
          std::lock_guard lock(FMutex);
          FEvents.push_back({type, json::parse(payload)});
          FChanged.notify_all();
        }
        return true;
      });
    });
    Await([](const std::string& type, const json&) { return type == "hello"; });
  }
  ~EventReader() {
    FClient.stop();
    FThread.join();
  }

  // Waits (up to 10 s) for an event that matches; returns it.
  template <typename Pred>
  json Await(Pred pred) {
    std::unique_lock lock(FMutex);
    json found;
    FChanged.wait_for(lock, std::chrono::seconds(10), [&] {
      for (const auto& [type, data] : FEvents)
        if (pred(type, data)) {
          found = data;
          return true;
        }
      return false;
    });
    return found;
  }

 private:
  httplib::Client FClient;
  std::thread FThread;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<std::pair<std::string, json>> FEvents;
};

TEST_F(Panel, SetupListsEveryPropertyWithItsMetadata) {
  const json setup = GetJson("/api/setup");
  const auto props = setup["properties"];
  ASSERT_EQ(props.size(), Zu::ListProperties(Zu::TZuGen4()).size());
  for (const json& p : props) {
    if (p["path"] == "ChA.Frequency") {
      EXPECT_EQ(p["unit"], "kHz");
      EXPECT_EQ(p["min"], 400);
      EXPECT_EQ(p["max"], 200000);
      EXPECT_EQ(p["value"], 1000);
    }
    if (p["path"] == "ChA.Mode") {
      EXPECT_EQ(p["enumerators"].size(), size_t{Zu::ZGMdC_Count});
      // The names people use, for the page to show.
      EXPECT_EQ(p["enumerators"][int{Zu::ZGMdC_LFM}]["aliases"], json::array({"sweep"}));
      EXPECT_EQ(p["rangeNote"], "ZGMdC_ExtModulationA12 on channel A only");
    }
    // An open end has no number; an end left out says so.
    if (p["path"] == "ChA.Tuner.ADCTimerInterval") {
      EXPECT_EQ(p["min"], 0);
      EXPECT_FALSE(p.contains("max"));
    }
    if (p["path"] == "ChA.Amplitude") {
      EXPECT_TRUE(p["minExcluded"]);
      EXPECT_FALSE(p["maxExcluded"]);
    }
    // The panel decides when it sends: the generator's AutoUpdate is no user's.
    EXPECT_EQ(p["hostOption"], p["path"] == "AutoUpdate") << p["path"];
  }
  EXPECT_TRUE(setup["link"]["active"]);
  EXPECT_EQ(setup["engines"]["ZGMdC_IntModulation"], "IntModulation");
  // Channel B cannot take the A12 external mode, and the panel says why.
  const json b12 = setup["modes"]["ChB"][int{Zu::ZGMdC_ExtModulationA12}];
  EXPECT_EQ(b12["action"], "refuse");
  EXPECT_FALSE(b12["available"]);
  EXPECT_FALSE(b12["rule"].get<std::string>().empty());
}

TEST_F(Panel, SeveralValuesGoOutInOneUpdate) {
  const uint64_t before = LastSeq();
  auto r = Post(R"({"ChA.Mode":"gen","ChA.Frequency":2000,"ChA.Amplitude":50.5,"ChA.Phase":90})");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200) << r->body;
  const json body = json::parse(r->body);
  EXPECT_EQ(body["updates"], 1);
  EXPECT_EQ(body["values"]["ChA.Frequency"], 2000.0);
  EXPECT_EQ(body["values"]["ChA.Mode"], "ZGMdC_gen");
  int resets = 0;
  for (const json& f : FramesAfter(before)) resets += f["hex"].get<std::string>().starts_with("F0 ");
  EXPECT_EQ(resets, 1);
}

// Every kind of refusal leaves the setup and the instrument as they were.
TEST_F(Panel, BadRequestsChangeNothing) {
  struct Case {
    const char* body;
    int status;
    const char* error;
    const char* property;
  };
  const Case cases[] = {
      {R"({"ChA.Frequency": 2000,)", 400, "malformed JSON", ""},
      {R"([1, 2])", 400, "not an object", ""},
      {R"({"ChA.Frequency": 2000, "ChA.Nope": 1})", 400, "unknown property", "ChA.Nope"},
      {R"({"ChA.Frequency": 2000, "ChA.Amplitude": "loud"})", 400, "bad value", "ChA.Amplitude"},
      {R"({"ChA.Frequency": 2000, "ChA.Phase": null})", 400, "bad value", "ChA.Phase"},
      {R"({"ChA.Frequency": 2000, "ChB.Frequency": 250000})", 422, "refused", "ChB.Frequency"},
      // Numbers given as text are numbers and nothing else.
      {R"({"ChA.Frequency": "10005x"})", 400, "bad value", "ChA.Frequency"},
      {R"({"ChA.Frequency": "1 000"})", 400, "bad value", "ChA.Frequency"},
      {R"({"ChA.Frequency": "1000,5"})", 400, "bad value", "ChA.Frequency"},
      // What nobody sets.
      {R"({"ChA.Frequency": 2000, "ChA.ChannelType": "ZGCN_B"})", 400, "bad value", "ChA.ChannelType"},
      {R"({"ChB.Tuner.ADCValue": 7})", 400, "bad value", "ChB.Tuner.ADCValue"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const uint64_t before = LastSeq();
    auto r = Post(c.body);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status);
    const json body = json::parse(r->body);
    EXPECT_EQ(body["error"], c.error);
    if (*c.property) {
      EXPECT_EQ(body["property"], c.property);
    }
    EXPECT_FALSE(body["message"].get<std::string>().empty());
    EXPECT_EQ(ValueOf("ChA.Frequency"), 1000);
    EXPECT_TRUE(FramesAfter(before).empty());
  }
  const json refused = json::parse(Post(R"({"ChB.Frequency": 250000})")->body);
  EXPECT_EQ(refused["value"], "250000");
  EXPECT_EQ(refused["range"], "400 to 200000 kHz");
}

// Other sites and other callers: who may change what.
TEST_F(Panel, ChangesNeedTheTokenOrThePagesOwnOrigin) {
  const std::string own = "http://" + FHost;
  struct Case {
    httplib::Headers headers;
    int status;
  };
  const Case cases[] = {
      {{}, 403},                                                      // no token, no origin (a script elsewhere)
      {{{"X-ZuGen4-Token", "0123"}}, 403},                            // a wrong token
      {{{"Origin", "http://evil.example"}}, 403},                     // another site's page
      {{{"Origin", own}}, 200},                                       // the panel's own page
      {{{"X-ZuGen4-Token", FToken}}, 200},                            // the token
      {{{"X-ZuGen4-Token", FToken}, {"Host", "evil.example"}}, 403},  // a rebound name
  };
  for (const Case& c : cases) {
    httplib::Headers h = c.headers;
    if (h.empty()) h.emplace("X-Nothing", "1");
    auto r = Client().Post("/api/setup", h, R"({"ChA.Phase": 45})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status) << r->body;
  }
  auto big = Post(R"({"ChA.Phase": 45, "pad": ")" + std::string(300 * 1024, 'x') + "\"}");
  ASSERT_TRUE(big);
  EXPECT_EQ(big->status, 413);
  auto unknown = Client().Get("/api/nothing");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
  EXPECT_EQ(json::parse(unknown->body)["error"], "not found");
}

TEST_F(Panel, TableOfAnEngine) {
  ASSERT_EQ(Post(R"({"ChA.IntModulation.Type":"ampl","ChA.IntModulation.Fm":1000})")->status, 200);
  const json t = GetJson("/api/table/ChA.IntModulation");
  EXPECT_GT(t["length"].get<int>(), 16);
  EXPECT_EQ(t["codes"].size(), t["length"].get<size_t>());
  EXPECT_EQ(t["values"].size(), t["codes"].size());
  EXPECT_EQ(t["unit"], "%");
  EXPECT_GT(t["stepTimeUs"].get<double>(), 0.0);
  // Drawing the table sends nothing to the instrument.
  const uint64_t before = LastSeq();
  GetJson("/api/table/ChB.IntModulation");
  EXPECT_TRUE(FramesAfter(before).empty());
  for (auto [path, status] :
       {std::pair{"/api/table/ChA.Tuner", 422}, {"/api/table/ChA.DDSMod", 422}, {"/api/table/Options", 404}}) {
    auto r = Client().Get(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, status) << path;
  }
}

TEST_F(Panel, APendingChangeShowsItsPlanAndWhatCannotBeSentIsRefused) {
  ASSERT_EQ(Post(R"({"ChA.Mode":"IntModulation","ChA.IntModulation.Fm":1})")->status, 200);
  const uint64_t before = LastSeq();
  auto preview =
      Client().Post("/api/preview", Auth(), R"({"ChB.Mode":"gen","ChB.Frequency":3000})", "application/json");
  ASSERT_TRUE(preview && preview->status == 200);
  const json plan = json::parse(preview->body);
  EXPECT_EQ(plan["durationMs"].get<double>(), 20.0 * static_cast<double>(plan["steps"].size() - 1));  // one block
  EXPECT_TRUE(FramesAfter(before).empty());
  // Double internal modulation at 1 Hz cannot be sent: 422 naming the value, nothing sent.
  auto refused = Post(R"({"ChB.Mode":"IntModulation"})");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 422);
  EXPECT_EQ(json::parse(refused->body)["property"], "ChA.IntModulation.Fm");
  EXPECT_FALSE(json::parse(refused->body).value("forceable", false));  // no force makes it sendable
  auto sweep = Post(R"({"ChB.Mode":"LFM"})");                          // a sweep without its times
  ASSERT_TRUE(sweep);
  EXPECT_EQ(sweep->status, 422);
  EXPECT_TRUE(json::parse(sweep->body)["forceable"]);
  EXPECT_TRUE(FramesAfter(before).empty());
  EXPECT_EQ(Post(R"({"ChB.Mode":"LFM","Force":true})")->status, 200);
}

// Reset as the tool's: the reset command when linked, the defaults either way.
TEST_F(Panel, ResetPutsTheDefaultsBack) {
  for (const bool linked : {true, false}) {
    SCOPED_TRACE(linked ? "linked" : "not linked");
    ASSERT_EQ(Post(R"({"ChA.Mode":"gen","ChA.Frequency":2000,"ChB.IntModulation.Fm":500})")->status, 200);
    ASSERT_EQ(Post(linked ? R"({"Active":true})" : R"({"Active":false})")->status, 200);
    const uint64_t before = LastSeq();
    auto r = Client().Post("/api/reset", Auth(), "", "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    const json body = json::parse(r->body);
    EXPECT_EQ(body["values"]["ChA.Frequency"], 1000);
    EXPECT_EQ(body["values"]["ChA.Mode"], "ZGMdC_off");
    EXPECT_EQ(ValueOf("ChB.IntModulation.Fm"), 1000);
    const std::vector<json> sent = FramesAfter(before);
    EXPECT_EQ(sent.size(), linked ? 1u : 0u);
    if (linked) {
      EXPECT_EQ(sent.front()["meaning"], "reset");
    }
    EXPECT_EQ(body["instrument"]["sent"], linked ? json::array({"reset"}) : json::array());
  }
  // Only a change from the panel's page or with the token resets.
  auto other = Client().Post("/api/reset", {{"Origin", "http://evil.example"}}, "", "application/json");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 403);
  EXPECT_EQ(Client().Get("/api/reset")->status, 405);
}

// The answer to switching the link says what the instrument now does.
TEST_F(Panel, SwitchingTheLinkSaysWhatTheInstrumentDoes) {
  EventReader events(FPort, FToken);
  ASSERT_EQ(Post(R"({"ChA.Mode":"gen"})")->status, 200);
  const json off = json::parse(Post(R"({"Active":false})")->body);
  EXPECT_FALSE(off["instrument"]["active"]);
  EXPECT_EQ(off["instrument"]["sent"], json::array({"reset"}));
  EXPECT_EQ(off["instrument"]["summary"],
            "The link is closed; sent on closing: reset. Nothing more is sent until the link opens again.");
  EXPECT_NE(off["instrument"]["state"].get<std::string>().find("channel A: output off"), std::string::npos);
  EXPECT_EQ(events.Await([](auto& t, auto&) { return t == "instrument"; }), off["instrument"]);  // to every page
  // Nothing switched, nothing to tell; a page opened now still learns it.
  EXPECT_FALSE(json::parse(Post(R"({"Active":false})")->body).contains("instrument"));
  EXPECT_EQ(json::parse(Client().Get("/api/setup", Auth())->body)["instrument"], off["instrument"]);
  const json on = json::parse(Post(R"({"Active":true})")->body);
  EXPECT_FALSE(json::parse(Client().Get("/api/setup", Auth())->body).contains("instrument"));
  EXPECT_TRUE(on["instrument"]["active"]);
  EXPECT_NE(on["instrument"]["state"].get<std::string>().find("channel A: output on"), std::string::npos);
}

TEST_F(Panel, SettingsFileRoundTripAndDamagedUploads) {
  auto saved = Client().Get("/api/settings");
  ASSERT_TRUE(saved && saved->status == 200);
  EXPECT_EQ(saved->body.substr(0, 4), "ZuG4");
  ASSERT_EQ(Post(R"({"ChA.Frequency": 3000})")->status, 200);

  const std::string bytes = saved->body;
  const std::string damaged[] = {"", "not a settings file", bytes.substr(0, bytes.size() / 2),
                                 "ZuG5" + bytes.substr(4)};
  for (const std::string& d : damaged) {
    auto r = Client().Put("/api/settings", Auth(), d, "application/octet-stream");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 422) << d.size();
    if (d.size() == bytes.size() / 2) {
      EXPECT_NE(r->body.find("ends at byte " + std::to_string(d.size())), std::string::npos) << r->body;
    }
    EXPECT_EQ(ValueOf("ChA.Frequency"), 3000);
  }
  auto loaded = Client().Put("/api/settings", Auth(), bytes, "application/octet-stream");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->status, 200) << loaded->body;
  EXPECT_EQ(ValueOf("ChA.Frequency"), 1000);
  EXPECT_EQ(Client().Get("/api/settings")->body, bytes);
}

TEST_F(Panel, TextFormRoundTripAndErrors) {
  auto form = Client().Get("/api/settings?form");
  ASSERT_TRUE(form);
  ASSERT_EQ(form->status, 200);
  ASSERT_TRUE(form->body.starts_with("object ")) << form->body;
  std::string edited = form->body;
  const std::string line = "ChA.Phase = 0\n";
  ASSERT_NE(edited.find(line), std::string::npos) << edited;
  edited.replace(edited.find(line), line.size(), "ChA.Phase = 45\n");
  auto applied = Client().Put("/api/settings?form", Auth(), edited, "text/plain");
  ASSERT_TRUE(applied);
  EXPECT_EQ(applied->status, 200) << applied->body;
  EXPECT_EQ(json::parse(applied->body)["updates"], 1);
  EXPECT_EQ(ValueOf("ChA.Phase"), 45);

  // A refused value on line 3: reported with its line, nothing applied.
  auto refused = Client().Put("/api/settings?form", Auth(),
                              "object ZuGen4: TZuGen4\nChA.Phase = 90\nChA.Frequency = 250000\nend\n", "text/plain");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 422);
  EXPECT_EQ(json::parse(refused->body)["line"], 3);
  EXPECT_EQ(ValueOf("ChA.Phase"), 45);
}

TEST_F(Panel, EventStreamShowsModesRefusalsFramesReadingsAndLinkFailures) {
  EventReader events(FPort, FToken);
  ASSERT_EQ(Post(R"({"ChB.Mode":"tuning","ChB.Tuner.ADCTimerInterval":50,"ChB.Tuner.ADCTimerEnabled":true})")->status,
            200);
  EXPECT_FALSE(events.Await([](auto& t, auto& d) { return t == "adc" && d["channel"] == "B"; }).is_null());

  // Channel A's modulation forces the tuning channel off, and says why.
  ASSERT_EQ(Post(R"({"ChA.Mode":"IntModulation"})")->status, 200);
  const json forced = events.Await([](auto& t, auto& d) { return t == "mode" && d["forced"] == true; });
  ASSERT_FALSE(forced.is_null());
  EXPECT_EQ(forced["channel"], "B");
  EXPECT_EQ(forced["mode"], "ZGMdC_off");
  EXPECT_FALSE(forced["rule"].get<std::string>().empty());
  EXPECT_FALSE(
      events.Await([](auto& t, auto& d) { return t == "setup" && d["values"]["ChB.Mode"] == "ZGMdC_off"; }).is_null());
  EXPECT_FALSE(events.Await([](auto& t, auto&) { return t == "frames"; }).is_null());

  ASSERT_EQ(Post(R"({"ChA.Phase": 400})")->status, 422);
  EXPECT_EQ(events.Await([](auto& t, auto&) { return t == "refused"; })["property"], "ChA.Phase");

  std::promise<void> unplugged;
  FServer->Post([&] {
    FSim->Driver->Unplug();
    unplugged.set_value();
  });
  unplugged.get_future().wait();
  auto failed = Post(R"({"ChA.Phase": 10})");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 502);
  const json link = events.Await([](auto& t, auto& d) { return t == "link" && d["failure"] == true; });
  ASSERT_FALSE(link.is_null());
  EXPECT_FALSE(link["link"]["lastFailure"].get<std::string>().empty());

  // A reset the instrument does not take still puts the defaults in place,
  // and every page hears of them.
  auto reset = Client().Post("/api/reset", Auth(), "", "application/json");
  ASSERT_TRUE(reset);
  EXPECT_EQ(reset->status, 502);
  EXPECT_NE(json::parse(reset->body)["message"].get<std::string>().find("back to its defaults"), std::string::npos);
  EXPECT_FALSE(events
                   .Await([](auto& t, auto& d) {
                     return t == "setup" && d["values"]["ChA.Mode"] == "ZGMdC_off" &&
                            d["values"]["ChB.Tuner.ADCTimerInterval"] == 500;  // 50 until the reset
                   })
                   .is_null());
}

// Listening on every address: the page carries no token, and every call of
// the interface needs it, reads included and the page's own origin too.
class PanelBeyondLoopback : public Panel {
 protected:
  void SetUp() override {
    FListen = "0.0.0.0";
    Panel::SetUp();
  }
};

TEST_F(PanelBeyondLoopback, EveryCallNeedsTheToken) {
  auto page = Client().Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body.find(FToken), std::string::npos);
  EXPECT_EQ(Client().Get("/api/setup")->status, 403);
  EXPECT_EQ(Post(R"({"ChA.Phase": 45})", {{"Origin", "http://" + FHost}})->status, 403);
  EXPECT_EQ(Client().Get("/api/setup?token=" + FToken)->status, 200);
  EXPECT_EQ(Post(R"({"ChA.Phase": 45})", Auth())->status, 200);
}

// The entry point for fuzzing: any body gives an answer, never an exception.
TEST(PanelApi, ApplySetupJsonAnswersEveryBody) {
  Zu::Sim::TSimPlatform sim;
  Zu::TZuGen4 gen;
  gen.SetPlatform(sim.Platform());
  const char* bodies[] = {"",
                          "{",
                          "null",
                          "{}",
                          "{\"\":1}",
                          R"({"ChA.Frequency": 1e400})",
                          R"({"ChA.Frequency": -0.0})",
                          R"({"ChA.Mode": 99})",
                          R"({"ChA.Frequency": [1]})"};
  for (const char* b : bodies) {
    const TResult r = ApplySetupJson(gen, b);
    EXPECT_TRUE(r.Status == 200 || r.Status == 400 || r.Status == 422) << b << " " << r.Status;
    EXPECT_NO_THROW(json::parse(r.Body)) << b;
  }
}

}  // namespace

// The SCPI face: the parser, the command table against the simulated
// instrument (one update per program message, every error code, MIN/MAX), and
// the server over loopback sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "ScpiServer.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/ZuTextForm.h"

namespace {

using namespace Zu::Scpi;

std::string Describe(const std::vector<TUnit>& units) {
  std::string s;
  for (const TUnit& u : units) {
    if (!s.empty()) s += " | ";
    if (u.Rooted) s += ':';
    for (size_t i = 0; i < u.Nodes.size(); ++i)
      s += (i ? ":" : "") + u.Nodes[i].Mnemonic + (u.Nodes[i].Suffix ? std::to_string(u.Nodes[i].Suffix) : "");
    if (u.Query) s += '?';
    for (const TParam& p : u.Params) {
      const char kind = p.Kind == TParam::TKind::Numeric ? 'n' : p.Kind == TParam::TKind::String ? 's' : 'c';
      s += std::string(" ") + kind + "<" + (kind == 'n' ? std::to_string(p.Value) : p.Text) + p.Suffix + ">";
    }
  }
  return s;
}

TEST(ScpiParser, ReadsUnitsHeadersAndParameters) {
  const std::pair<const char*, const char*> cases[] = {
      {"*IDN?", "*IDN?"},
      {"sour2:freq:cw 2 MHz", "SOUR2:FREQ:CW n<2.000000MHZ>"},
      {":SOURce1:FREQuency 2E6;PHAS 90\r", ":SOURCE1:FREQUENCY n<2000000.000000> | PHAS n<90.000000>"},
      {"FREQ? MIN", "FREQ? c<MIN>"},
      {"FREQ -1.5e-3kHz", "FREQ n<-0.001500KHZ>"},
      {"SYST:PROP \"ChA.Mode\",'it''s \"x\"; y'", "SYST:PROP s<ChA.Mode> s<it's \"x\"; y>"},
      {"SYST:PROP \"a\" , 5 ;; *OPC?;", "SYST:PROP s<a> n<5.000000> | *OPC?"},
      {"KEY:FREQ3 #HFF", "KEY:FREQ3 n<255.000000>"},
      {"  ", ""},
      {"FREQ 1E-400", "FREQ n<0.000000>"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(Describe(ParseProgramMessage(text)), expected) << text;
}

TEST(ScpiParser, RefusesMalformedTextWithItsCode) {
  const std::pair<const char*, int> cases[] = {
      {"FREQ,2", -102},       {"FREQ 2 3", -103},   {"FREQ 1,", -109},  {"FREQ \"abc", -151},    {"FREQ 1.2.3", -120},
      {"FREQ -", -120},       {"FREQ 1E999", -222}, {"FREQ #Z1", -104}, {"FREQ 2MHZ5", -131},    {"*", -102},
      {"SOUR0:FREQ 1", -114}, {"1FREQ", -102},      {"FREQ (1)", -104}, {"SOUR:FREQ 5;?", -102},
  };
  for (const auto& [text, code] : cases) {
    try {
      ParseProgramMessage(text);
      ADD_FAILURE() << text << " was taken";
    } catch (const EScpiError& e) {
      EXPECT_EQ(e.Code(), code) << text << ": " << e.Detail();
    }
  }
}

// A generator on the simulated instrument with the SCPI face, as the tool
// has it: automatic update off, one update per message.
class Scpi : public ::testing::Test {
 protected:
  Scpi() : Instrument(Gen, Options()) {
    Gen.SetPlatform(Sim.Platform());
    Gen.SetAutoUpdate(false);
    Gen.SetActive(true);
    Gen.UpdateMode();
    Sim.Driver->ClearTrace();
  }
  static TScpiOptions Options() {
    TScpiOptions o;
    o.Version = "0.1.0";
    return o;
  }
  std::string Send(const std::string& line) { return Instrument.Execute(Session, line); }
  std::string Error() { return Send("SYST:ERR?"); }
  int Resets() const {
    int n = 0;
    for (const auto& f : Sim.Driver->Frames()) n += f[0] == 0xF0;
    return n;
  }

  Zu::Sim::TSimPlatform Sim;
  Zu::TZuGen4 Gen;
  TScpiInstrument Instrument;
  TScpiSession Session;
};

TEST_F(Scpi, SettingsAndQueriesMeanWhatTheRegistryHolds) {
  struct TCase {
    const char* Set;
    const char* Query;
    const char* Answer;
  };
  const TCase cases[] = {
      {"SOUR1:FREQ 2 MHZ", "FREQ?", "2000000\n"},
      {"source2:frequency:cw 2.5e6", "SOUR2:FREQ?;:SOUR1:FREQ?", "2500000;1000000\n"},
      {"FREQ 1 MHZ;FREQ 1500 KHZ", "SOUR:FREQ:CW?", "1500000\n"},  // the last value counts
      {"FREQ MAX", "FREQ?", "200000000\n"},
      {"FREQ 3E6", "FREQ? MIN;FREQ? MAX;FREQ? DEF", "400000;200000000;1000000\n"},
      {"SOUR2:PHAS 90;AMPL 50 PCT", "SOUR2:PHAS?;AMPL?", "90;50\n"},
      {"PHAS 359.5", "PHAS?;PHAS? MAX", "359.5;360\n"},
      {"SOUR2:MODE IMOD", "SOUR2:MODE?;:SOUR1:MODE?", "IMOD;OFF\n"},
      {"FREQ:STOP 5 MHZ;:SWE:TIME 1000;TIME:FALL 2000;DWEL 10;DWEL:FALL 20;:MODE swe", "MODE?;OUTP?;SWE:DWEL:FALL?",
       "SWE;1;20\n"},
      {"FM:DEV 5 KHZ;FM:INT:FREQ 500;:MOD:TYPE freq;SHAP TRIANGLE", "FM:DEV?;AM:INT:FREQ?;MOD:TYPE?;MOD:SHAP?",
       "5000;500;FREQ;TRIANGLE\n"},
      {"KEY:FREQ3 1.25 MHZ;PHAS4 45;MODE QXSK", "KEY:FREQ3?;KEY:PHAS4?;KEY:MODE?", "1250000;45;QXSK\n"},
      {"SENS2:INT 250 MS;STAT ON", "SENS2:INT?;STAT?", "0.25;1\n"},
      {"FREQ 3 MHZ;FREQ:STOP 5 MHZ", "FREQ:STOP?;FREQ:STOP? MIN", "5000000;3000000\n"},
      {"SYST:ROSC:SOUR EXT;FREQ 20 MHZ;MULT 10", "SYST:ROSC:SOUR?;FREQ?;MULT?", "EXT;20000000;10\n"},
      {"SYST:PROP \"ChB.IntModulation.Fm\",700", "SYST:PROP? \"ChB.IntModulation.Fm\";:SOUR2:MOD:FREQ?", "700;700\n"},
      {"*ESE 36", "*ESE?;SYST:VERS?;*OPC?", "36;1999.0;1\n"},
  };
  for (const TCase& c : cases) {
    Send("*RST");
    EXPECT_EQ(Send(c.Set), "") << c.Set;
    EXPECT_EQ(Send(c.Query), c.Answer) << c.Set << " then " << c.Query;
    EXPECT_EQ(Error(), "0,\"No error\"\n") << c.Set;
  }
  EXPECT_EQ(Send("*IDN?"), "ZuGen4,DDS two-channel,SIM,0.1.0\n");
}

TEST_F(Scpi, AProgramMessageIsOneUpdate) {
  EXPECT_EQ(Send("SOUR1:MODE IMOD;FM:DEV 20000;FM:INT:FREQ 500;:SOUR1:MOD:TYPE FREQ;:OUTP1 ON"), "");
  EXPECT_EQ(Resets(), 1);
  EXPECT_EQ(Zu::GetPropText(Gen, "ChA.Mode"), "ZGMdC_IntModulation");
  EXPECT_EQ(Zu::GetPropText(Gen, "ChA.IntModulation.dF"), "20000");
  EXPECT_EQ(Sim.Driver->Model().Violations().size(), 0u);
  // A query in the middle sees what came before it.
  Sim.Driver->ClearTrace();
  EXPECT_EQ(Send("FREQ 2000000;FREQ?;PHAS 10"), "2000000\n");
  EXPECT_EQ(Resets(), 2);
  // OUTPut OFF and ON bring the mode back, each one update.
  Sim.Driver->ClearTrace();
  Send("OUTP OFF");
  EXPECT_EQ(Send("MODE?;:OUTP?"), "OFF;0\n");
  Send("OUTP ON");
  EXPECT_EQ(Send("MODE?;:OUTP?"), "IMOD;1\n");
  EXPECT_EQ(Resets(), 2);
  Sim.Driver->ClearTrace();
  Send("*RST");
  EXPECT_EQ(Resets(), 1);
  EXPECT_EQ(Zu::WriteTextForm(Gen), Zu::WriteTextForm(Zu::TZuGen4()));
}

TEST_F(Scpi, AnErrorChangesNothingAndIsQueuedWithItsWords) {
  const std::pair<const char*, const char*> cases[] = {
      {"FREQ 2 MHZ;PHAS 10;FREQ 250 MHZ",
       "-222,\"Data out of range;ChA.Frequency: 250000 refused (range 400 to 200000 kHz)\""},
      {"FREQ 2 MHZ;FROB 1", "-113,\"Undefined header;FROB\""},
      {"FREQ 2 MHZ;FREQ 2 VOLT", "-131,\"Invalid suffix;`VOLT`: FREQ takes HZ, KHZ, MHZ, MAHZ or GHZ\""},
      {"FREQ 2 MHZ;MODE FOO",
       "-224,\"Illegal parameter value;`FOO`: MODE takes OFF, GEN, TUN, IMOD, EMOD, "
       "EMODA12, EMODAB1, SWE or KEY\""},
      {"SOUR3:FREQ 1", "-114,\"Header suffix out of range;SOUR3:FREQ: channel 3 (there are 1 and 2)\""},
      {"FREQ", "-109,\"Missing parameter;FREQ needs 1 parameter(s)\""},
      {"*RST 1", "-108,\"Parameter not allowed;*RST takes 0 parameter(s)\""},
      {"FETC 1", "-113,\"Undefined header;FETC is a query only (add `?`)\""},
      {"FETC?", "-221,\"Settings conflict;no channel is in tuning mode (SOURce<n>:MODE TUN)\""},
      {"SYST:PROP \"ChA.Nothing\",1", "-224,\"Illegal parameter value;"},
      {"SYST:PROP \"Active\",true", "-224,\"Illegal parameter value;"},
      {"FREQ \"1\"", "-104,\"Data type error;FREQ takes a number, not a string\""},
      {"SOUR2:MODE EMODA12", "-222,\"Data out of range;ChB.Mode: "},
      // An end the range leaves out is told by ? MAX, but cannot be set.
      {"PHAS MAX", "-222,\"Data out of range;ChA.Phase: MAX refused (range 0 to 360 deg, 360 excluded)\""},
  };
  const std::string before = Zu::WriteTextForm(Gen);
  for (const auto& [text, error] : cases) {
    Sim.Driver->ClearTrace();
    EXPECT_EQ(Send(text), "") << text;
    const std::string got = Error();
    EXPECT_EQ(got.rfind(error, 0), 0u) << text << " gave " << got << " wanted " << error;
    EXPECT_EQ(Sim.Driver->Frames().size(), 0u) << text;
    EXPECT_EQ(Zu::WriteTextForm(Gen), before) << text;
  }
  EXPECT_EQ(Error(), "0,\"No error\"\n");
}

TEST_F(Scpi, StatusAndAFullQueue) {
  for (int i = 0; i < 20; ++i) Send("NOPE");
  EXPECT_EQ(Send("SYST:ERR:COUN?;*STB?;*ESR?;*ESR?"), "16;4;40;0\n");
  for (int i = 0; i < 15; ++i) EXPECT_EQ(Error(), "-113,\"Undefined header;NOPE\"\n");
  EXPECT_EQ(Error(), "-350,\"Queue overflow\"\n");
  Send("FREQ 1 GHZ;*OPC");  // refused at execution: *OPC after it is not reached
  EXPECT_EQ(Send("*ESR?"), "16\n");
  // The changes after a refused one are not made; queries are still answered.
  EXPECT_EQ(Send("FREQ 1 GHZ;FREQ?;PHAS 10;PHAS?"), "1000000;0\n");
  EXPECT_EQ(Error().rfind("-222,", 0), 0u);
  Send("*OPC;*ESE 16;FREQ 1 GHZ");
  EXPECT_EQ(Send("*STB?"), "36\n");
  Send("*CLS");
  EXPECT_EQ(Send("SYST:ERR:ALL?;*STB?"), "0,\"No error\";0\n");
}

TEST_F(Scpi, TuningReadsTheLatestReading) {
  Sim.Driver->SetADCValue(0x00123456);
  Send("SOUR2:MODE TUN");
  EXPECT_EQ(Send("SENS2:DATA?;:FETC?"), std::to_string(0x00123456) + ";" + std::to_string(0x00123456) + "\n");
  EXPECT_EQ(Send("SENS1:DATA?"), "");
  EXPECT_EQ(Error().rfind("-221,", 0), 0u);
  // With polling on, the reading polled last is answered.
  Send("SENS2:INT 0.1;STAT ON");
  Sim.Driver->SetADCValue(777);
  Sim.Timers->Advance(250);
  Sim.Driver->SetADCValue(999);
  EXPECT_EQ(Send("FETC?"), "777\n");
}

TEST_F(Scpi, ALinkThatFailsIsAHardwareError) {
  Sim.Driver->Unplug();
  EXPECT_EQ(Send("FREQ 2 MHZ;FREQ?"), "2000000\n");
  const std::string error = Error();
  EXPECT_EQ(error.rfind("-240,\"Hardware error;the link to the instrument failed: ", 0), 0u) << error;
  Sim.Driver->Replug();
  EXPECT_EQ(Send("*IDN?").rfind("ZuGen4,", 0), 0u);
}

TEST(ScpiAllow, RangesAndLoopback) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"192.168.1.0/24", "192.168.1.77", true}, {"192.168.1.0/24", "192.168.2.1", false},
      {"10.0.0.7", "10.0.0.7", true},           {"10.0.0.7", "10.0.0.8", false},
      {"0.0.0.0/0", "8.8.8.8", true},           {"fd00::/8", "fd12::1", true},
      {"fd00::/8", "fe80::1", false},           {"10.0.0.0/8", "::ffff:10.1.2.3", true},
      {"10.0.0.0/8", "fd00::1", false},
  };
  for (const auto& [range, address, inside] : cases) {
    TCidr r;
    std::string why;
    ASSERT_TRUE(ParseCidr(range, r, why)) << range;
    EXPECT_EQ(CidrContains(r, address), inside) << range << " " << address;
  }
  for (const char* bad : {"10.0.0.0/33", "nonsense", "10.0.0.0/", "::/129", "1.2.3.4/-1"}) {
    TCidr r;
    std::string why;
    EXPECT_FALSE(ParseCidr(bad, r, why)) << bad;
    EXPECT_NE(why.find(bad), std::string::npos) << why;
  }
  EXPECT_TRUE(IsLoopbackAddress("127.0.0.1"));
  EXPECT_TRUE(IsLoopbackAddress("::1"));
  EXPECT_TRUE(IsLoopbackAddress("::ffff:127.0.0.2"));
  EXPECT_FALSE(IsLoopbackAddress("0.0.0.0"));
}

// The server on its own thread with its generator, as `zugen4 --sim scpi`.
class ScpiServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::promise<int> port;
    FThread = std::thread([this, &port] {
      Zu::Sim::TSimPlatform sim;
      Zu::TZuGen4 gen;
      gen.SetPlatform(sim.Platform());
      gen.SetAutoUpdate(false);
      gen.SetActive(true);
      TScpiInstrument instrument(gen, {});
      TScpiServerOptions o;
      o.Port = 0;
      o.MaxLine = 1024;
      TScpiServer server(instrument, o);
      FServer = &server;
      const bool bound = server.Bind().empty();
      port.set_value(server.Port());
      if (bound) server.Run();
      FFrequency = Zu::GetPropText(gen, "ChA.Frequency");
    });
    FPort = port.get_future().get();
    ASSERT_GT(FPort, 0);
  }
  void TearDown() override {
    if (FThread.joinable()) StopServer();
  }
  void StopServer() {
    FServer->Stop();
    FThread.join();
  }
  int Connect() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(FPort));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    return fd;
  }
  static void Write(int fd, const std::string& s) {
    ASSERT_EQ(send(fd, s.data(), s.size(), MSG_NOSIGNAL), ssize_t(s.size()));
  }
  static std::string ReadLine(int fd) {
    std::string line;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 5000) == 1 && recv(fd, &c, 1, 0) == 1 && c != '\n') line += c;
    return line;
  }

  std::thread FThread;
  TScpiServer* FServer = nullptr;
  int FPort = 0;
  std::string FFrequency;
};

TEST_F(ScpiServerTest, ClientsInTurnOverlongLinesAndHalfCommands) {
  const int a = Connect();
  const int b = Connect();
  Write(a, "FREQ 2 MHZ\n");
  Write(b, "FREQ?\n");
  EXPECT_EQ(ReadLine(b), "2000000");
  // A line beyond the limit is refused and skipped to its end; the client stays.
  Write(a, std::string(3000, 'X') + "\n*IDN?\n");
  EXPECT_EQ(ReadLine(a).rfind("ZuGen4,", 0), 0u);
  Write(a, "SYST:ERR?\n");
  EXPECT_EQ(ReadLine(a).rfind("-363,\"Input buffer overrun", 0), 0u);
  // Errors are each client's own.
  Write(b, "SYST:ERR?\n");
  EXPECT_EQ(ReadLine(b), "0,\"No error\"");
  // A client that goes away mid-command leaves nothing done.
  Write(a, "FREQ 3 MH");
  close(a);
  Write(b, "*OPC?\n");
  EXPECT_EQ(ReadLine(b), "1");
  Write(b, "FREQ?\n");
  EXPECT_EQ(ReadLine(b), "2000000");
  close(b);
  StopServer();
  EXPECT_EQ(FFrequency, "2000");
}

}  // namespace

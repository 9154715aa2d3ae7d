#include "ScpiServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include "zugen4/Timers.h"
#include "zugen4/sim/SimTimers.h"

namespace Zu::Scpi {

struct TScpiServer::TClient {
  int Fd = -1;
  std::string Peer;
  std::string In;
  std::string Out;
  bool Skipping = false;  // the rest of an overlong line is being skipped
  short Events = 0;       // what the last poll saw
  TScpiSession Session;
};

namespace {

std::atomic<TScpiServer*> gSignalled{nullptr};

extern "C" void OnScpiStopSignal(int) {
  if (TScpiServer* s = gSignalled.load()) s->Stop();
}

// The address in a socket address, IPv4-mapped IPv6 as IPv4.
std::string AddressText(const sockaddr_storage& sa) {
  char buf[INET6_ADDRSTRLEN] = {};
  if (sa.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(sa).sin_addr, buf, sizeof buf);
  } else if (sa.ss_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6&>(sa).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a))
      inet_ntop(AF_INET, &a.s6_addr[12], buf, sizeof buf);
    else
      inet_ntop(AF_INET6, &a, buf, sizeof buf);
  }
  return buf;
}

// The bytes of an address: 4 for IPv4 (also IPv4-mapped IPv6), 16 for IPv6.
bool AddressBytes(const std::string& text, bool& v6, uint8_t* out) {
  in6_addr a6;
  in_addr a4;
  if (inet_pton(AF_INET, text.c_str(), &a4) == 1) {
    v6 = false;
    std::memcpy(out, &a4, 4);
    return true;
  }
  if (inet_pton(AF_INET6, text.c_str(), &a6) == 1) {
    if (IN6_IS_ADDR_V4MAPPED(&a6)) {
      v6 = false;
      std::memcpy(out, &a6.s6_addr[12], 4);
    } else {
      v6 = true;
      std::memcpy(out, &a6, 16);
    }
    return true;
  }
  return false;
}

}  // namespace

bool ParseCidr(const std::string& text, TCidr& out, std::string& why) {
  const size_t slash = text.find('/');
  const std::string address = text.substr(0, slash);
  if (!AddressBytes(address, out.V6, out.Bytes)) {
    why = "`" + text + "` is no IPv4 or IPv6 address (e.g. 192.168.1.0/24, 10.0.0.7, fd00::/8)";
    return false;
  }
  const int max = out.V6 ? 128 : 32;
  out.Bits = max;
  if (slash != std::string::npos) {
    const std::string bits = text.substr(slash + 1);
    int v = -1;
    if (!bits.empty() && bits.size() <= 3 && bits.find_first_not_of("0123456789") == std::string::npos)
      v = std::stoi(bits);
    if (v < 0 || v > max) {
      why = "`" + text + "`: the prefix length must be 0 to " + std::to_string(max);
      return false;
    }
    out.Bits = v;
  }
  return true;
}

bool CidrContains(const TCidr& range, const std::string& address) {
  bool v6 = false;
  uint8_t bytes[16] = {};
  if (!AddressBytes(address, v6, bytes) || v6 != range.V6) return false;
  for (int bit = 0; bit < range.Bits; ++bit) {
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
    if ((bytes[bit / 8] & mask) != (range.Bytes[bit / 8] & mask)) return false;
  }
  return true;
}

bool IsLoopbackAddress(const std::string& address) {
  if (address == "localhost") return true;
  bool v6 = false;
  uint8_t b[16] = {};
  if (!AddressBytes(address, v6, b)) return false;
  if (!v6) return b[0] == 127;
  static const uint8_t one[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return std::memcmp(b, one, 16) == 0;
}

TScpiServer::TScpiServer(TScpiInstrument& instrument, TScpiServerOptions options)
    : FInstrument(instrument), FOptions(std::move(options)) {
  if (pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) FWake[0] = FWake[1] = -1;
}

TScpiServer::~TScpiServer() {
  TScpiServer* self = this;
  gSignalled.compare_exchange_strong(self, nullptr);
  for (auto& c : FClients) close(c->Fd);
  if (FListenFd >= 0) close(FListenFd);
  if (FWake[0] >= 0) close(FWake[0]);
  if (FWake[1] >= 0) close(FWake[1]);
}

std::string TScpiServer::Bind() {
  if (FWake[0] < 0) return "cannot make the server's wake-up pipe: " + std::string(std::strerror(errno));
  const std::string address = FOptions.Listen == "localhost" ? "127.0.0.1" : FOptions.Listen;
  sockaddr_storage sa = {};
  socklen_t len = 0;
  if (in_addr a4; inet_pton(AF_INET, address.c_str(), &a4) == 1) {
    auto& s4 = reinterpret_cast<sockaddr_in&>(sa);
    s4.sin_family = AF_INET;
    s4.sin_addr = a4;
    s4.sin_port = htons(static_cast<uint16_t>(FOptions.Port));
    len = sizeof s4;
  } else if (in6_addr a6; inet_pton(AF_INET6, address.c_str(), &a6) == 1) {
    auto& s6 = reinterpret_cast<sockaddr_in6&>(sa);
    s6.sin6_family = AF_INET6;
    s6.sin6_addr = a6;
    s6.sin6_port = htons(static_cast<uint16_t>(FOptions.Port));
    len = sizeof s6;
  } else {
    return "`" + FOptions.Listen + "` is no IP address to listen on (e.g. 127.0.0.1, 0.0.0.0, ::)";
  }
  FListenFd = socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (FListenFd < 0) return "cannot make a socket: " + std::string(std::strerror(errno));
  const int one = 1;
  setsockopt(FListenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(FListenFd, reinterpret_cast<sockaddr*>(&sa), len) != 0 || listen(FListenFd, 16) != 0) {
    const std::string why = std::strerror(errno);
    close(FListenFd);
    FListenFd = -1;
    return "cannot listen on " + FOptions.Listen + " port " + std::to_string(FOptions.Port) + ": " + why;
  }
  sockaddr_storage bound = {};
  socklen_t boundLen = sizeof bound;
  getsockname(FListenFd, reinterpret_cast<sockaddr*>(&bound), &boundLen);
  FPort = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(bound).sin_port
                                           : reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
  return {};
}

void TScpiServer::Stop() {
  FStop = true;
  if (FWake[1] >= 0) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(FWake[1], &c, 1);
  }
}

void TScpiServer::StopOnSignals() {
  gSignalled = this;
  struct sigaction sa = {};
  sa.sa_handler = OnScpiStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

void TScpiServer::Accept() {
  for (;;) {
    sockaddr_storage sa = {};
    socklen_t len = sizeof sa;
    const int fd = accept4(FListenFd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;  // none left (or a failed handshake: the next one is tried next time)
    const std::string peer = AddressText(sa);
    bool allowed = IsLoopbackAddress(peer);
    for (const TCidr& r : FOptions.Allow) allowed = allowed || CidrContains(r, peer);
    if (!allowed || FClients.size() >= FOptions.MaxClients) {
      if (FOptions.Log)
        *FOptions.Log << "scpi: refused " << peer << (allowed ? ": too many clients" : ": not in the --allow list")
                      << std::endl;
      close(fd);
      continue;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<TClient>();
    c->Fd = fd;
    c->Peer = peer;
    if (FOptions.Log) *FOptions.Log << "scpi: " << peer << " connected" << std::endl;
    FClients.push_back(std::move(c));
    FClientCount = FClients.size();
  }
}

// False when the client has gone.
bool TScpiServer::ReadFrom(TClient& c) {
  char buf[4096];
  const ssize_t n = recv(c.Fd, buf, sizeof buf, 0);
  if (n == 0) return false;  // whatever it left unfinished is dropped
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  c.In.append(buf, static_cast<size_t>(n));
  // Acknowledged at once: a client that writes a command and then a query
  // (Nagle's algorithm holds the query until the command is acknowledged)
  // would otherwise wait for the delayed acknowledgement each time.
  const int one = 1;
  setsockopt(c.Fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
  return true;
}

void TScpiServer::Overrun(TClient& c) {
  c.Session.Push(-363, "a line is limited to " + std::to_string(FOptions.MaxLine) + " bytes; it was skipped");
}

// Carries out the client's complete lines while its answers are being read.
void TScpiServer::Carry(TClient& c) {
  size_t start = 0;
  while (c.Out.size() < FOptions.MaxPending) {
    const size_t nl = c.In.find('\n', start);
    if (nl == std::string::npos) break;
    const std::string_view line(c.In.data() + start, nl - start);
    start = nl + 1;
    if (c.Skipping) {
      c.Skipping = false;
      continue;
    }
    if (line.size() > FOptions.MaxLine) {
      Overrun(c);
      continue;
    }
    c.Out += FInstrument.Execute(c.Session, line);
  }
  c.In.erase(0, start);
  if (c.In.size() > FOptions.MaxLine && c.In.find('\n') == std::string::npos) {
    Overrun(c);
    c.In.clear();
    c.Skipping = true;
  }
}

// False when the client has gone.
bool TScpiServer::WriteTo(TClient& c) {
  while (!c.Out.empty()) {
    const ssize_t n = send(c.Fd, c.Out.data(), c.Out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c.Out.erase(0, static_cast<size_t>(n));
  }
  return true;
}

void TScpiServer::Run() {
  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  std::vector<pollfd> fds;
  while (!FStop) {
    fds.clear();
    fds.push_back({FWake[0], POLLIN, 0});
    fds.push_back({FListenFd, POLLIN, 0});
    const int timers = MessagesFd();
    fds.push_back({timers, POLLIN, 0});
    for (auto& c : FClients) {
      short events = 0;
      // A client that does not read its answers is not read from.
      if (c->Out.size() < FOptions.MaxPending) events |= POLLIN;
      if (!c->Out.empty()) events |= POLLOUT;
      fds.push_back({c->Fd, events, 0});
    }
    poll(fds.data(), fds.size(), 50);
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(FWake[0], drain, sizeof drain) > 0) {
      }
    }
    if (FStop) break;
    for (size_t i = 0; i < FClients.size(); ++i) FClients[i]->Events = fds[3 + i].revents;
    if (fds[1].revents & POLLIN) Accept();
    // Clients in the order they connected; each one's lines in the order sent.
    for (size_t i = 0; i < FClients.size(); ++i) {
      TClient& c = *FClients[i];
      bool alive = true;
      if (c.Events & (POLLIN | POLLHUP | POLLERR)) alive = ReadFrom(c);
      if (alive) {
        Carry(c);
        alive = WriteTo(c);
      }
      if (!alive) {
        if (FOptions.Log) *FOptions.Log << "scpi: " << c.Peer << " disconnected" << std::endl;
        close(c.Fd);
        FClients.erase(FClients.begin() + static_cast<std::ptrdiff_t>(i));
        --i;
      }
    }
    FClientCount = FClients.size();
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
  }
  for (auto& c : FClients) {
    WriteTo(*c);
    close(c->Fd);
  }
  FClients.clear();
  FClientCount = 0;
}

}  // namespace Zu::Scpi

#include "Routes.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>

#include "EventHub.h"
#include "WebAssets.h"

namespace Zu::Serve {

using nlohmann::json;

namespace {

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned>(a[i] ^ b[i]);
  return diff == 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX escapes (and '+' as a space in the query); false on a broken escape.
bool Decode(std::string_view in, bool plusIsSpace, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%') {
      const int hi = i + 1 < in.size() ? HexDigit(in[i + 1]) : -1;
      const int lo = i + 2 < in.size() ? HexDigit(in[i + 2]) : -1;
      if (hi < 0 || lo < 0) return false;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += plusIsSpace && in[i] == '+' ? ' ' : in[i];
    }
  }
  return true;
}

THttpReply Reply(TResult r) {
  THttpReply reply;
  static_cast<TResult&>(reply) = std::move(r);
  return reply;
}

// One route: a method and a path (or a path prefix, whose rest the handler
// gets), and what answers it. Everything the panel serves is in Routes().
struct TRoute {
  const char* Method;
  const char* Path;
  bool Prefix;
  std::function<THttpReply(TPanelApi&, TEventHub&, const TPanelIdentity&, const THttpRequest&, std::string_view rest)>
      Answer;
};

THttpReply Page(const TPanelIdentity& id) {
  const TWebAsset* page = FindWebAsset("/index.html");
  std::string html(reinterpret_cast<const char*>(page->Data), page->Size);
  // On loopback the page carries the token; beyond it the user brings it in
  // the printed address.
  const std::string mark = "%%TOKEN%%";
  if (const size_t at = html.find(mark); at != std::string::npos)
    html.replace(at, mark.size(), id.Loopback ? id.Token : "");
  THttpReply r = Reply({200, page->ContentType, std::move(html), {}});
  r.Headers = {{"Cache-Control", "no-store"},
               {"Content-Security-Policy", "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'"}};
  return r;
}

THttpReply EventStream(const TEventHub& hub, const THttpRequest& req) {
  uint64_t from = hub.LastId();
  const std::string last = req.Header("Last-Event-ID");
  if (!last.empty() && std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
      last.size() < 20)
    from = std::min<uint64_t>(std::stoull(last), hub.LastId());
  THttpReply r;
  r.StreamFrom = from;
  return r;
}

const std::vector<TRoute>& Routes() {
  using A = TPanelApi;
  using H = TEventHub;
  using I = TPanelIdentity;
  using R = THttpRequest;
  using V = std::string_view;
  static const std::vector<TRoute> routes = {
      {"GET", "/", false, [](A&, H&, const I& id, const R&, V) { return Page(id); }},
      {"GET", "/api/setup", false, [](A& api, H&, const I&, const R&, V) { return Reply(api.GetSetup()); }},
      {"POST", "/api/setup", false,
       [](A& api, H&, const I&, const R& req, V) { return Reply(api.PostSetup(req.Body)); }},
      {"POST", "/api/preview", false,
       [](A& api, H&, const I&, const R& req, V) { return Reply(api.PostPreview(req.Body)); }},
      {"POST", "/api/reset", false, [](A& api, H&, const I&, const R&, V) { return Reply(api.PostReset()); }},
      {"GET", "/api/table/", true, [](A& api, H&, const I&, const R&, V rest) { return Reply(api.GetTable(rest)); }},
      {"GET", "/api/settings", false,
       [](A& api, H&, const I&, const R& req, V) { return Reply(api.GetSettings(req.HasParam("form"))); }},
      {"PUT", "/api/settings", false,
       [](A& api, H&, const I&, const R& req, V) { return Reply(api.PutSettings(req.Body, req.HasParam("form"))); }},
      {"GET", "/api/frames", false, [](A& api, H&, const I&, const R&, V) { return Reply(api.GetFrames()); }},
      {"GET", "/api/events", false, [](A&, H& hub, const I&, const R& req, V) { return EventStream(hub, req); }},
  };
  return routes;
}

}  // namespace

std::string THttpRequest::Header(std::string_view name) const {
  for (const auto& [k, v] : Headers)
    if (SameText(k, name)) return v;
  return {};
}

bool THttpRequest::HasHeader(std::string_view name) const {
  return std::any_of(Headers.begin(), Headers.end(), [&](const auto& h) { return SameText(h.first, name); });
}

bool THttpRequest::HasParam(std::string_view name) const {
  return std::any_of(Query.begin(), Query.end(), [&](const auto& q) { return q.first == name; });
}

std::string THttpRequest::Param(std::string_view name) const {
  for (const auto& [k, v] : Query)
    if (k == name) return v;
  return {};
}

bool THttpRequest::SetTarget(std::string_view target) {
  const size_t q = target.find('?');
  if (!Decode(target.substr(0, q), false, Path)) return false;
  Query.clear();
  if (q == std::string_view::npos) return true;
  std::string_view rest = target.substr(q + 1);
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view item = rest.substr(0, amp);
    const size_t eq = item.find('=');
    std::string key, value;
    if (!Decode(item.substr(0, eq), true, key)) return false;
    if (eq != std::string_view::npos && !Decode(item.substr(eq + 1), true, value)) return false;
    if (!key.empty()) Query.emplace_back(std::move(key), std::move(value));
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
  }
  return true;
}

THttpReply ErrorReply(int status, const std::string& error, const std::string& message) {
  return Reply({status,
                "application/json",
                json{{"error", error}, {"message", message}}.dump(-1, ' ', false, json::error_handler_t::replace),
                {}});
}

std::optional<THttpReply> TRouter::Guard(const THttpRequest& req) const {
  const std::string host = req.Header("Host");
  const std::string port = ":" + std::to_string(FId.Port);
  // A page of another site that had its name point at this machine must not
  // reach the panel: only our own names are answered on loopback.
  if (FId.Loopback && host != "127.0.0.1" + port && host != "localhost" + port && host != "[::1]" + port)
    return ErrorReply(403, "forbidden", "unexpected Host \"" + host + "\"; open the panel at " + FId.Url);
  std::string token = req.Header("X-ZuGen4-Token");
  if (token.empty()) token = req.Param("token");
  const bool tokenOk = SameSecret(token, FId.Token);
  const bool api = req.Path.starts_with("/api/");
  if (!FId.Loopback && api && !tokenOk)
    return ErrorReply(403, "forbidden", "this panel listens beyond loopback: give the token it printed");
  const bool changing = req.Method != "GET" && req.Method != "HEAD";
  if (changing && !tokenOk) {
    const std::string origin = req.Header("Origin");
    if (!FId.Loopback || origin.empty() || origin != "http://" + host)
      return ErrorReply(
          403, "forbidden",
          "a change needs the panel's token (header X-ZuGen4-Token) or must come from the panel's own page");
  }
  return std::nullopt;
}

THttpReply TRouter::Route(const THttpRequest& req) const {
  // HEAD is answered as GET; the server sends the head only.
  const std::string method = req.Method == "HEAD" ? "GET" : req.Method;
  std::string allowed;
  try {
    for (const TRoute& r : Routes()) {
      const bool match =
          r.Prefix ? req.Path.starts_with(r.Path) && req.Path.size() > std::strlen(r.Path) : req.Path == r.Path;
      if (!match) continue;
      if (method == r.Method)
        return r.Answer(FApi, FHub, FId, req, std::string_view(req.Path).substr(std::strlen(r.Path)));
      allowed += (allowed.empty() ? "" : ", ") + std::string(r.Method);
    }
    if (!allowed.empty()) {
      THttpReply r = ErrorReply(405, "method not allowed", req.Method + " " + req.Path + ": use " + allowed);
      r.Headers.emplace_back("Allow", allowed);
      return r;
    }
    // The page's own files.
    if (method == "GET" && !req.Path.starts_with("/api/")) {
      if (const TWebAsset* asset = FindWebAsset(req.Path); asset && req.Path != "/index.html")
        return Reply(
            {200, asset->ContentType, std::string(reinterpret_cast<const char*>(asset->Data), asset->Size), {}});
    }
  } catch (const std::exception& e) {
    return ErrorReply(500, "internal", e.what());
  }
  return ErrorReply(404, "not found", "no such page or interface path");
}

}  // namespace Zu::Serve

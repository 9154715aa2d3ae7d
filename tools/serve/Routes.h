// What each path of the panel does, apart from any transport: the guards
// against other sites and other machines, then one table of routes over the
// JSON interface (TPanelApi) and the page. The server parses requests into
// THttpRequest and sends the THttpReply back; tests may call it directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Api.h"

namespace Zu::Serve {

class TEventHub;

struct THttpRequest {
  std::string Method;                                        // "GET", "POST", ...
  std::string Path;                                          // decoded, without the query
  std::vector<std::pair<std::string, std::string>> Query;    // decoded, in order
  std::vector<std::pair<std::string, std::string>> Headers;  // as received
  std::string Body;

  // The header's value (names compare without case); empty when missing.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
  bool HasParam(std::string_view name) const;
  std::string Param(std::string_view name) const;
  // Splits "/a/b?x=1&y" into Path and Query; false when an escape is broken.
  bool SetTarget(std::string_view target);
};

struct THttpReply : TResult {
  std::vector<std::pair<std::string, std::string>> Headers;
  // The request opened the event stream: events after this number follow.
  std::optional<uint64_t> StreamFrom;
};

// An error answer in the panel's JSON form {"error", "message"}.
THttpReply ErrorReply(int status, const std::string& error, const std::string& message);

// Who the panel is, for the guards: its token, and whether it listens on
// loopback only (then only its own host names are answered).
struct TPanelIdentity {
  std::string Token;
  bool Loopback = true;
  int Port = 0;
  std::string Url;
};

class TRouter {
 public:
  TRouter(TPanelApi& api, TEventHub& hub, const TPanelIdentity& identity) : FApi(api), FHub(hub), FId(identity) {}

  // The refusal for a request that may not pass (wrong Host, no token where
  // one is needed, a change from another site's page); nothing when it may.
  // Needs the header only, so that a refused upload is not read.
  std::optional<THttpReply> Guard(const THttpRequest& req) const;
  // The answer to a request that passed the guard. Runs on the generator's
  // thread; never throws.
  THttpReply Route(const THttpRequest& req) const;

 private:
  TPanelApi& FApi;
  TEventHub& FHub;
  const TPanelIdentity& FId;
};

}  // namespace Zu::Serve

#pragma once
// Which requests the dialog's access rules let in, as one table for the rules alone
// (request_rules_test.cpp) and for the running server (ui_server_test.cpp).

#include <string>
#include <vector>

#include "ui/access.h"

namespace qimtest {

// What the rules make of a request.
enum Verdict {
  kRefused,
  kServed,   // served, though it does not carry the whole session
  kSession,  // served, and it carries the whole session
  kEnters,   // it spends the code and gets the session
};

struct AccessCase {
  const char* reason;
  wassetup::UiRequestFacts request;  // method, path, hosts, origins, cookies, page secrets, code
  Verdict verdict;
};

// The cases, in order, for the dialog on 127.0.0.1:`port` with these secrets: the first case
// that carries the whole code spends it.
inline std::vector<AccessCase> AccessCases(const std::string& session, const std::string& page,
                                           const std::string& code, int port) {
  using wassetup::UiRequestFacts;
  using Headers = std::vector<std::string>;
  const std::string number = std::to_string(port);
  const std::string host = "127.0.0.1:" + number, origin = "http://" + host;
  const std::string cookie = "wassetup-" + number + "=" + session;
  // A GET through the dialog's own Host with these cookies and page secrets.
  const auto get = [&host](const char* path, Headers cookies, Headers pageSecrets) {
    return UiRequestFacts{"GET", path, {host}, {}, std::move(cookies), std::move(pageSecrets), ""};
  };
  // A GET of the page that carries `withCode` and nothing else, through the Host `through`.
  const auto entry = [](std::string withCode, std::string through) {
    return UiRequestFacts{"GET", "/", {std::move(through)}, {}, {}, {}, std::move(withCode)};
  };
  return {
      {"the page's own call", get("/api/form", {cookie}, {page}), kSession},
      {"an action of the page", {"POST", "/", {host}, {origin}, {cookie}, {page}, ""}, kSession},
      {"among other cookies", get("/api/form", {"a=1;  " + cookie + "; b=2"}, {page}), kSession},
      {"right after a semicolon", get("/api/form", {"a=1;" + cookie}, {page}), kSession},
      {"the page itself on the cookie alone", get("/", {cookie}, {}), kServed},
      {"a call on the cookie alone, as another server of 127.0.0.1 gets it and replays it",
       get("/api/form", {cookie}, {}), kRefused},
      {"an action on the cookie alone",
       {"POST", "/", {host}, {origin}, {cookie}, {}, ""},
       kRefused},
      {"no cookie", get("/", {}, {}), kRefused},
      {"the page secret alone", get("/api/form", {}, {page}), kRefused},
      {"the cookie's secret in the page's header", get("/api/form", {cookie}, {session}), kRefused},
      {"a wrong session secret", get("/", {"wassetup-" + number + "=" + code}, {page}), kRefused},
      {"an empty session secret", get("/", {"wassetup-" + number + "="}, {page}), kRefused},
      {"a prefix of the session secret",
       get("/", {"wassetup-" + number + "=" + session.substr(0, 32)}, {page}), kRefused},
      {"the session secret and more", get("/", {cookie + "0"}, {page}), kRefused},
      {"the session secret under another server's name",
       get("/", {"wassetup-1" + number + "=" + session}, {page}), kRefused},
      {"an empty page secret", get("/api/form", {cookie}, {""}), kRefused},
      {"a prefix of the page secret", get("/api/form", {cookie}, {page.substr(0, 32)}), kRefused},
      {"two page secrets", get("/api/form", {cookie}, {page, page}), kRefused},
      {"another name of the loopback",
       {"GET", "/", {"localhost:" + number}, {}, {cookie}, {page}, ""},
       kRefused},
      {"no Host", {"GET", "/", {}, {}, {cookie}, {page}, ""}, kRefused},
      {"two Hosts", {"GET", "/", {host, host}, {}, {cookie}, {page}, ""}, kRefused},
      {"a page of another site among the origins",
       {"GET", "/", {host}, {origin, "http://evil.example"}, {cookie}, {page}, ""},
       kRefused},
      {"an empty code", entry("", host), kRefused},
      {"a prefix of the code", entry(code.substr(0, 32), host), kRefused},
      {"the code and more", entry(code + "0", host), kRefused},
      {"the code through another Host", entry(code, "localhost:" + number), kRefused},
      {"the code", entry(code, host), kEnters},
      {"the code a second time", entry(code, host), kRefused},
  };
}

}  // namespace qimtest

#pragma once
// Who the dialog's server answers. Three secrets, 32 random bytes each, new at each start:
//  - the one-time code, in the address http://127.0.0.1:PORT/?code=CODE. The first request
//    that carries it spends it and gets the two others; any later one is refused, so a second
//    browser that reuses the address gets nothing. The code never travels in a command line:
//    the browser is given an owner-only file that leads to the address (ui/entry_page.h).
//  - the session secret, in the cookie wassetup-PORT (HttpOnly, SameSite=Strict, Path=/).
//  - the page secret, which the answer to the code hands to the tab's sessionStorage (kept per
//    origin, so per port, and across reloads) and which the page's script sends in the header
//    X-Wassetup-Page-Secret. A browser sends the cookie to every server of 127.0.0.1, whatever
//    its port; the page secret ties the session to this dialog's page.
// A request passes when it has one Host header, exactly 127.0.0.1:PORT (a page of another site
// whose name was pointed at 127.0.0.1 sends its own name); its Origin, if any, is
// http://127.0.0.1:PORT; it carries the session cookie; and, unless it only fetches the page
// itself (GET /, which holds neither secret nor data), the page secret. Anything else is
// answered 403. Every secret is compared whole, in a time that does not depend on how much of
// a guess is right. Nothing here knows HTTP: the rules look at the facts of a request.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace wassetup {

// What the access rules look at in a request.
struct UiRequestFacts {
  std::string method;
  std::string path;
  std::vector<std::string> hosts;        // every Host header
  std::vector<std::string> origins;      // every Origin header
  std::vector<std::string> cookies;      // every Cookie header
  std::vector<std::string> pageSecrets;  // every X-Wassetup-Page-Secret header
  std::string code;                      // the query parameter `code`
};

// The headers of a request that the rules look at, from the values that `valuesOf(name)` gives
// for each header name (in lower case); the method, path and code are left empty.
UiRequestFacts HeaderFacts(
    const std::function<std::vector<std::string>(const char* name)>& valuesOf);

class UiAccess {
 public:
  UiAccess(std::string sessionSecret, std::string pageSecret, std::string code, int port);

  struct Decision {
    bool pass = false;    // serve the request
    bool enter = false;   // the code was right and is spent now: give the session cookie
    std::string refusal;  // why it is refused (a fixed text: nothing of the request)
  };
  // Thread-safe: of several requests with the code, only the first enters.
  Decision Decide(const UiRequestFacts& request);
  // Whether the request carries the whole session, both secrets through the right Host and
  // Origin. Thread-safe; spends nothing.
  bool HoldsSession(const UiRequestFacts& request) const;
  // http://127.0.0.1:PORT/?code=CODE
  std::string EntryAddress() const;
  // The Set-Cookie value that carries the session secret.
  std::string SessionCookie() const;
  // The page that answers the code: it hands the page secret to the tab's sessionStorage and
  // goes on to the dialog. Its script is marked with `nonce`.
  std::string EntryPage(const std::string& nonce) const;

 private:
  // Why the Host or Origin headers are refused; empty when they are right.
  std::string WrongPlace(const UiRequestFacts& request) const;
  bool HasSessionCookie(const std::vector<std::string>& cookies) const;
  bool HasPageSecret(const std::vector<std::string>& pageSecrets) const;

  std::string sessionSecret_;
  std::string pageSecret_;
  std::string code_;
  std::string cookieName_;
  std::string host_;
  std::string origin_;
  std::atomic<bool> codeSpent_{false};
};

// `bytes` bytes from the kernel's random source, as hex digits. Throws ToolError when there
// is no random source.
std::string RandomHex(std::size_t bytes);

}  // namespace wassetup

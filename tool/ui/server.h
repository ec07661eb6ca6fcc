#pragma once
// `wassetup ui`: the setup dialog served to a browser on this machine. The server listens on
// 127.0.0.1 only and answers nothing without the access token it prints; its page draws the
// plug-in's widget tree and turns the operator's actions into toolkit events (ui_backend.h).
//
// Access. The address printed is http://127.0.0.1:PORT/?token=TOKEN. A request passes when
//  - it has one Host header and that is exactly 127.0.0.1:PORT: a page of another site whose
//    name was pointed at 127.0.0.1 (DNS rebinding) sends its own name;
//  - its Origin header, if it has one, is http://127.0.0.1:PORT;
//  - it carries the token, in the query parameter `token` (the address printed) or in the
//    header X-Wassetup-Token (set by the page on each of its calls: it reads the token from
//    its own address, which keeps the token, so a reload works).
// Any other request is answered 403.

#include <memory>
#include <string>
#include <vector>

#include "core/session.h"
#include "ui/backend.h"

namespace wassetup {

struct UiOptions {
  int port = 0;         // 0: a free port chosen by the system
  bool noOpen = false;  // only print the address; do not try to open a browser
};

// Serves the dialog on the session until SIGINT or SIGTERM, then returns 0. Throws UsageError
// when the port cannot be listened on.
int RunUi(Session& session, const UiOptions& options);

// Called before any session is made. The program that serves the dialog returns false and goes
// on; wassetup replaces itself with that program (wassetup-ui) and never returns, or throws
// UsageError when it cannot.
bool HandOverUi();

// What the access rules look at in a request.
struct UiRequestFacts {
  std::vector<std::string> hosts;    // every Host header
  std::vector<std::string> origins;  // every Origin header
  std::string queryToken;            // the query parameter `token`
  std::string headerToken;           // the header X-Wassetup-Token
};

class UiAccess {
 public:
  UiAccess(std::string token, int port);

  // Empty when the request may pass, else why it is refused.
  std::string Refusal(const UiRequestFacts& request) const;
  // http://127.0.0.1:PORT/?token=TOKEN
  std::string Address() const;
  const std::string& token() const { return token_; }

 private:
  std::string token_;
  std::string host_;
  std::string origin_;
};

// `bytes` bytes from the kernel's random source, as hex digits. Throws UsageError when there
// is no random source.
std::string RandomHex(std::size_t bytes);

// The HTTP server in threads of its own: the one session, its backend and the access rules.
class UiServer {
 public:
  // Listens on 127.0.0.1:port (0: a free port). Throws UsageError when it cannot.
  UiServer(Session& session, int port, CommandRunner runner = {});
  // Stops serving, as Stop does.
  ~UiServer();
  UiServer(const UiServer&) = delete;
  UiServer& operator=(const UiServer&) = delete;

  int port() const;
  // The address to open, with the token: http://127.0.0.1:PORT/?token=TOKEN
  std::string address() const;
  const std::string& token() const;

  // Answers requests from now on, in threads of its own.
  void Start();
  // Stops answering, lets a running deployment end its command and waits for it.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wassetup

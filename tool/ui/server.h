#pragma once
// `wassetup ui`: the setup dialog served to a browser on this machine. The server listens on
// 127.0.0.1 only and answers nothing to a browser that has not entered with the one-time code;
// its page draws the plug-in's widget tree and turns the operator's actions into toolkit
// events (ui/backend.h). Its parts: the gate reads each request whole and within bounds
// (ui/request_gate.h), the HTTP library answers it (ui/http_adapter.h), the access rules decide
// whom it answers (ui/access.h) and the routes what (ui/routes.h); the operator's browser
// enters through a page only they can read (ui/entry_page.h).

#include <cstddef>
#include <memory>
#include <string>

#include "core/session.h"
#include "ui/backend.h"

namespace wassetup {

struct UiOptions {
  int port = 0;         // 0: a free port chosen by the system
  bool noOpen = false;  // only print the address; do not try to open a browser
};

// Serves the dialog on the session until SIGINT, SIGTERM, SIGHUP or SIGQUIT, then succeeds.
// Throws ToolError when the port cannot be listened on.
Outcome RunUi(Session& session, const UiOptions& options);

// The HTTP server in threads of its own: the one session, its backend and the access rules.
class UiServer {
 public:
  // Listens on 127.0.0.1:port (0: a free port). Throws ToolError when it cannot. The
  // deployment starts its commands through `launcher` (null: the system's).
  UiServer(Session& session, int port, ProcessLauncher* launcher = nullptr);
  // Stops serving, as Stop does.
  ~UiServer();
  UiServer(const UiServer&) = delete;
  UiServer& operator=(const UiServer&) = delete;

  int port() const;
  // The address with the one-time code: http://127.0.0.1:PORT/?code=CODE
  std::string EntryAddress() const;
  // Requests refused by the access rules so far, and connections cut by the gate.
  std::size_t RefusedRequests() const;
  std::size_t CutConnections() const;

  // Answers requests from now on, in threads of its own.
  void Start();
  // Stops answering, lets a running deployment end its command and waits for it.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wassetup

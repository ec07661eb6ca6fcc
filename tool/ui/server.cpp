#include "ui/server.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <optional>

#include "host/platform/signals.h"
#include "host/platform/sockets.h"
#include "ui/access.h"
#include "ui/entry_page.h"
#include "ui/http_adapter.h"
#include "ui/request_gate.h"
#include "ui/routes.h"

namespace wassetup {

namespace {

// ---- Stopping on the operator's stop requests ----

// The handler only wakes the main thread, which waits on this.
const zaf::platform::Wakeup* g_stopWakeup = nullptr;

void OnStopSignal(int signal, int count) {
  if (count > 1) {
    // A second Ctrl+C ends the tool at once, without waiting for a running command.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  g_stopWakeup->Wake();
}

// Waits for a request that stops the server (Ctrl+C, a polite kill, a closed terminal and
// Ctrl+\; on Windows Ctrl+C, Ctrl+Break and a closed console), caught while it lives. Caught
// signals go back to their default in the commands a deployment starts.
class StopWait {
 public:
  StopWait() {
    if (!wakeup_.IsOpen()) {
      throw ToolError("cannot catch signals: " + wakeup_.Problem());
    }
    g_stopWakeup = &wakeup_;
    caught_.emplace(OnStopSignal, zaf::platform::ServingStopSignals());
  }
  ~StopWait() {
    caught_.reset();
    g_stopWakeup = nullptr;
  }
  StopWait(const StopWait&) = delete;
  StopWait& operator=(const StopWait&) = delete;

  void Wait() { wakeup_.Wait(); }

 private:
  zaf::platform::Wakeup wakeup_;
  std::optional<zaf::platform::StopSignals> caught_;
};

}  // namespace

// ---- The server ----

// The access rules need the port the gate listens on, so the gate is made first. ~UiServer
// stops the gate before any part goes.
struct UiServer::Impl {
  Impl(Session& session, int port, ProcessLauncher* launcher)
      : backend(session, launcher),
        gate(port, GateLimits{}),
        access(RandomHex(32), RandomHex(32), RandomHex(32), gate.port()) {
    InstallDialogRoutes(http, backend, access, refused);
  }

  UiBackend backend;
  DialogHttp http;
  std::atomic<std::size_t> refused{0};
  RequestGate gate;
  UiAccess access;
};

UiServer::UiServer(Session& session, int port, ProcessLauncher* launcher)
    : impl_(std::make_unique<Impl>(session, port, launcher)) {}

UiServer::~UiServer() {
  Stop();
}

int UiServer::port() const {
  return impl_->gate.port();
}

std::string UiServer::EntryAddress() const {
  return impl_->access.EntryAddress();
}

std::size_t UiServer::RefusedRequests() const {
  return impl_->refused;
}

std::size_t UiServer::CutConnections() const {
  return impl_->gate.CutConnections();
}

void UiServer::Start() {
  Impl* impl = impl_.get();
  // Whether a head the gate has read whole carries the session.
  const auto holdsSession = [impl](const HeadFields& fields) {
    return impl->access.HoldsSession(HeaderFacts([&fields](const char* name) {
      std::vector<std::string> values;
      for (const auto& [field, value] : fields) {
        if (field == name) {
          values.push_back(value);
        }
      }
      return values;
    }));
  };
  impl_->gate.Start([impl](const WholeRequest& request) { impl->http.Answer(request); },
                    holdsSession);
}

void UiServer::Stop() {
  impl_->gate.Stop();
  impl_->backend.StopDeploy();
}

Outcome RunUi(Session& session, const UiOptions& options) {
  UiServer server(session, options.port);
  StopWait signals;
  std::unique_ptr<EntryFile> entry;
  if (!options.noOpen) {
    entry = std::make_unique<EntryFile>(server.EntryAddress());
  }
  server.Start();
  if (entry) {
    std::cout << "wassetup: the setup dialog is served on this machine at "
              << server.EntryAddress().substr(0, server.EntryAddress().find('?'))
              << "\nOpening it in your browser through " << entry->path()
              << "\n(if no browser opens, open that file in a browser on this machine; it "
                 "works once). Ctrl+C stops the server."
              << std::endl;
    OpenInBrowser(entry->path());
  } else {
    std::cout << "wassetup: the setup dialog is served on this machine. Open this address in a "
                 "browser on this machine;\nit is secret and works once (any other browser "
                 "that opens it is refused):\n\n  "
              << server.EntryAddress() << "\n\nCtrl+C stops the server." << std::endl;
  }
  signals.Wait();
  std::cerr << "wassetup: stopping (a running command is allowed to end; Ctrl+C again "
               "ends it at once)\n";
  server.Stop();
  if (server.RefusedRequests() + server.CutConnections() > 0) {
    std::cerr << "wassetup: refused " << server.RefusedRequests()
              << " request(s) without access; cut " << server.CutConnections()
              << " connection(s) that were too slow, too large or too many\n";
  }
  std::cerr << "wassetup: stopped\n";
  return Outcome::Success();
}

}  // namespace wassetup

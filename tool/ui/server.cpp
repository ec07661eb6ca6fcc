#include "ui/server.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>

#include "host/file_descriptor.h"
#include "host/platform/signals.h"
#include "ui/access.h"
#include "ui/entry_page.h"
#include "ui/http_adapter.h"
#include "ui/request_gate.h"
#include "ui/routes.h"

namespace wassetup {

namespace {

// ---- Stopping on SIGINT, SIGTERM, SIGHUP and SIGQUIT ----

// The handler only writes a byte into this pipe; the main thread waits on its other end.
int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int signal, int count) {
  if (count > 1) {
    // A second Ctrl+C ends the tool at once, without waiting for a running command.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  const char byte = 1;
  if (::write(g_stopPipe[1], &byte, 1) < 0) {
    // Nothing to do in a signal handler; the main thread then waits for the next signal.
  }
}

// Waits for a signal that stops the server (Ctrl+C, a polite kill, a closed terminal and
// Ctrl+\), caught while it lives. Caught signals go back to their default in the
// commands a deployment starts.
class StopWait {
 public:
  StopWait() {
    if (::pipe2(g_stopPipe, O_CLOEXEC) != 0) {
      throw ToolError(std::string("cannot catch signals: ") + std::strerror(errno));
    }
    readEnd_.Reset(g_stopPipe[0]);
    writeEnd_.Reset(g_stopPipe[1]);
    caught_.emplace(OnStopSignal, std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP, SIGQUIT});
  }
  ~StopWait() {
    caught_.reset();
    g_stopPipe[0] = g_stopPipe[1] = -1;
  }
  StopWait(const StopWait&) = delete;
  StopWait& operator=(const StopWait&) = delete;

  void Wait() {
    char byte = 0;
    while (::read(readEnd_.get(), &byte, 1) < 0 && errno == EINTR) {
    }
  }

 private:
  zaf::FileDescriptor readEnd_;
  zaf::FileDescriptor writeEnd_;
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

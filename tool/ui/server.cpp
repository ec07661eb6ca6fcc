#include "ui/server.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <thread>

#include <httplib.h>

#include "ui/embedded_page.h"

extern char** environ;

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kTokenHeader = "X-Wassetup-Token";

// Equal texts, compared in a time that does not tell how much of a guess was right.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) {
    return false;
  }
  unsigned char difference = 0;
  for (std::size_t index = 0; index < a.size(); ++index) {
    difference |= static_cast<unsigned char>(a[index] ^ b[index]);
  }
  return difference == 0;
}

void FillRandom(unsigned char* buffer, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t count = getrandom(buffer + filled, size - filled, 0);
    if (count > 0) {
      filled += static_cast<std::size_t>(count);
    } else if (count < 0 && errno != EINTR) {
      break;
    }
  }
  if (filled == size) {
    return;
  }
  // Kernels without getrandom still have the device.
  const int device = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  filled = 0;
  while (device >= 0 && filled < size) {
    const ssize_t count = ::read(device, buffer + filled, size - filled);
    if (count > 0) {
      filled += static_cast<std::size_t>(count);
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  if (device >= 0) {
    ::close(device);
  }
  if (filled != size) {
    throw UsageError("no random source for the access token (getrandom and /dev/urandom failed)");
  }
}

// ---- Stopping on SIGINT and SIGTERM ----

// The handler only writes a byte into this pipe; the main thread waits on its other end.
int g_stopPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_stopSignals = 0;

void OnStopSignal(int signal) {
  g_stopSignals = g_stopSignals + 1;
  if (g_stopSignals > 1) {
    // A second Ctrl+C ends the tool at once, without waiting for a running command.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  const int savedErrno = errno;
  const char byte = 1;
  if (::write(g_stopPipe[1], &byte, 1) < 0) {
    // Nothing to do in a signal handler; the main thread then waits for the next signal.
  }
  errno = savedErrno;
}

// Catches SIGINT and SIGTERM while it lives. Caught signals go back to their default in the
// commands a deployment starts.
class StopSignals {
 public:
  StopSignals() {
    if (::pipe2(g_stopPipe, O_CLOEXEC) != 0) {
      throw UsageError(std::string("cannot catch signals: ") + std::strerror(errno));
    }
    g_stopSignals = 0;
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &savedInterrupt_);
    sigaction(SIGTERM, &action, &savedTerminate_);
  }

  ~StopSignals() {
    sigaction(SIGINT, &savedInterrupt_, nullptr);
    sigaction(SIGTERM, &savedTerminate_, nullptr);
    for (int& end : g_stopPipe) {
      ::close(end);
      end = -1;
    }
  }

  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  void Wait() {
    char byte = 0;
    while (::read(g_stopPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
  }

 private:
  struct sigaction savedInterrupt_ {};
  struct sigaction savedTerminate_ {};
};

// ---- Opening the operator's browser ----

void BrowserHint(const std::string& why) {
  std::cerr << "wassetup: could not open a browser (" << why
            << "); open the address above in a browser on this machine\n";
}

// xdg-open with the address as its one argument, in a process group of its own (a browser it
// starts must not get the Ctrl+C that stops the tool), its output discarded.
void OpenInBrowser(const std::string& address) {
  std::string program = "xdg-open";
  std::string argument = address;
  char* argv[] = {program.data(), argument.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    BrowserHint(std::string("xdg-open: ") + std::strerror(error));
    return;
  }
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      BrowserHint("xdg-open failed");
    }
  }).detach();
}

// ---- HTTP ----

void Reply(httplib::Response& response, const UiReply& reply) {
  response.status = reply.status;
  response.set_content(reply.body.dump(-1, ' ', false, Json::error_handler_t::replace),
                       "application/json; charset=utf-8");
}

// The JSON body of a request; an empty body is an empty object.
bool ParseBody(const httplib::Request& request, httplib::Response& response, nlohmann::json& body) {
  if (request.body.empty()) {
    body = nlohmann::json::object();
    return true;
  }
  body = nlohmann::json::parse(request.body, nullptr, /*allow_exceptions=*/false);
  if (body.is_discarded()) {
    Reply(response, UiReply{400, Json{{"error", "the body is not a JSON document"}}});
    return false;
  }
  return true;
}

std::vector<std::string> HeaderValues(const httplib::Request& request, const char* name) {
  std::vector<std::string> values;
  const std::size_t count = request.get_header_value_count(name);
  for (std::size_t index = 0; index < count; ++index) {
    values.push_back(request.get_header_value(name, index));
  }
  return values;
}

const char* StatusText(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    default:
      return status < 500 ? "Client Error" : "Server Error";
  }
}

// Like the default of the library, without SO_REUSEPORT (which would let another program of
// the same user listen on the port too), and closed in the commands a deployment starts.
void LoopbackSocketOptions(socket_t socket) {
  int yes = 1;
  ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  ::fcntl(socket, F_SETFD, ::fcntl(socket, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

std::string RandomHex(std::size_t bytes) {
  std::vector<unsigned char> buffer(bytes);
  FillRandom(buffer.data(), buffer.size());
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : buffer) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

UiAccess::UiAccess(std::string token, int port)
    : token_(std::move(token)),
      host_(std::string(kLoopback) + ":" + std::to_string(port)),
      origin_("http://" + host_) {}

std::string UiAccess::Address() const {
  return origin_ + "/?token=" + token_;
}

std::string UiAccess::Refusal(const UiRequestFacts& request) const {
  if (request.hosts.size() != 1 || request.hosts[0] != host_) {
    return "the Host header must be " + host_ + "; open " + origin_ + "/ with the token";
  }
  for (const std::string& origin : request.origins) {
    if (origin != origin_) {
      return "requests from pages of " + origin + " are not served";
    }
  }
  if (!SameSecret(request.queryToken, token_) && !SameSecret(request.headerToken, token_)) {
    return "the access token is missing or wrong: open the address that wassetup ui printed";
  }
  return "";
}

struct UiServer::Impl {
  Impl(Session& session, CommandRunner runner) : backend(session, std::move(runner)) {}

  UiBackend backend;
  httplib::Server http;
  std::unique_ptr<UiAccess> access;
  int port = 0;
  std::thread thread;
  std::atomic<bool> finished{false};
  bool started = false;
  bool stopped = false;

  void Configure();
  void Routes();
  httplib::Server::HandlerResponse Guard(const httplib::Request& request,
                                         httplib::Response& response);
};

httplib::Server::HandlerResponse UiServer::Impl::Guard(const httplib::Request& request,
                                                       httplib::Response& response) {
  UiRequestFacts facts;
  facts.hosts = HeaderValues(request, "Host");
  facts.origins = HeaderValues(request, "Origin");
  facts.queryToken = request.get_param_value("token");
  facts.headerToken = request.get_header_value(kTokenHeader);
  const std::string refusal = access->Refusal(facts);
  if (refusal.empty()) {
    return httplib::Server::HandlerResponse::Unhandled;
  }
  std::cerr << "wassetup: refused " << request.method << ' ' << request.path << ": " << refusal
            << '\n';
  response.status = 403;
  response.set_content("Forbidden: " + refusal + "\n", "text/plain; charset=utf-8");
  return httplib::Server::HandlerResponse::Handled;
}

void UiServer::Impl::Configure() {
  http.set_socket_options(&LoopbackSocketOptions);
  // Short keep-alive: stopping waits for idle connections to time out.
  http.set_keep_alive_timeout(2);
  http.set_payload_max_length(1 << 20);
  http.set_default_headers({{"Cache-Control", "no-store"},
                            {"X-Content-Type-Options", "nosniff"},
                            {"Referrer-Policy", "no-referrer"},
                            {"X-Frame-Options", "DENY"}});
  http.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        return Guard(request, response);
      });
  // Every answer of 400 and above without a body of its own gets a line of text.
  http.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&,
                                                                 httplib::Response& response) {
    if (!response.body.empty()) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    response.set_content(std::to_string(response.status) + " " + StatusText(response.status) + "\n",
                         "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  }));
  http.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr thrown) {
        std::string why = "unknown error";
        try {
          std::rethrow_exception(thrown);
        } catch (const std::exception& error) {
          why = error.what();
        } catch (...) {
        }
        Reply(response, UiReply{500, Json{{"error", why}}});
      });
  Routes();
}

void UiServer::Impl::Routes() {
  http.Get("/", [](const httplib::Request&, httplib::Response& response) {
    const std::string nonce = RandomHex(16);
    response.set_header("Content-Security-Policy", UiPageSecurityPolicy(nonce));
    response.set_content(UiPageDocument(nonce), "text/html; charset=utf-8");
  });
  http.Get("/api/form", [this](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.Form());
  });
  http.Get("/api/folders", [this](const httplib::Request& request, httplib::Response& response) {
    Reply(response, backend.Folders(request.get_param_value("path"),
                                    request.get_param_value("hidden") == "1"));
  });
  http.Get("/api/plan", [this](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.Plan());
  });
  http.Get("/api/deploy", [this](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.DeployProgress());
  });

  using Action = UiReply (UiBackend::*)(const nlohmann::json&);
  const std::pair<const char*, Action> actions[] = {
      {"/api/type", &UiBackend::Type},
      {"/api/toggle", &UiBackend::Toggle},
      {"/api/press", &UiBackend::Press},
      {"/api/deploy", &UiBackend::StartDeploy},
  };
  for (const auto& [path, action] : actions) {
    http.Post(path, [this, action = action](const httplib::Request& request,
                                            httplib::Response& response) {
      nlohmann::json body;
      if (ParseBody(request, response, body)) {
        Reply(response, (backend.*action)(body));
      }
    });
  }
  for (const bool ok : {true, false}) {
    http.Post(ok ? "/api/chooser/ok" : "/api/chooser/cancel",
              [this, ok](const httplib::Request& request, httplib::Response& response) {
                nlohmann::json body;
                if (ParseBody(request, response, body)) {
                  Reply(response, backend.CloseChooser(body, ok));
                }
              });
  }
  http.Post("/api/validate", [this](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.Validate());
  });
  http.Post("/api/save", [this](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.Save());
  });
}

UiServer::UiServer(Session& session, int port, CommandRunner runner)
    : impl_(std::make_unique<Impl>(session, std::move(runner))) {
  if (port < 0 || port > 65535) {
    throw UsageError("--port takes 0 to 65535, not " + std::to_string(port));
  }
  impl_->Configure();
  if (port == 0) {
    impl_->port = impl_->http.bind_to_any_port(kLoopback);
  } else if (impl_->http.bind_to_port(kLoopback, port)) {
    impl_->port = port;
  } else {
    impl_->port = -1;
  }
  if (impl_->port <= 0) {
    throw UsageError("cannot listen on " + std::string(kLoopback) + ":" +
                     (port == 0 ? std::string("a free port") : std::to_string(port)) +
                     (port == 0 ? "" : " (is the port in use?)"));
  }
  impl_->access = std::make_unique<UiAccess>(RandomHex(32), impl_->port);
}

UiServer::~UiServer() {
  Stop();
}

int UiServer::port() const {
  return impl_->port;
}

std::string UiServer::address() const {
  return impl_->access->Address();
}

const std::string& UiServer::token() const {
  return impl_->access->token();
}

void UiServer::Start() {
  if (impl_->started) {
    return;
  }
  impl_->started = true;
  Impl* impl = impl_.get();
  impl_->thread = std::thread([impl] {
    // The connection threads start from this one and inherit the mask: a browser that closes
    // a connection while it is written to must not end the tool with SIGPIPE.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    impl->http.listen_after_bind();
    impl->finished = true;
  });
}

void UiServer::Stop() {
  if (impl_->started && !impl_->stopped) {
    impl_->stopped = true;
    // The serving thread may not have started listening yet; stop it once it has, or once it
    // has given up.
    while (!impl_->finished) {
      if (impl_->http.is_running()) {
        impl_->http.stop();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    impl_->thread.join();
  }
  impl_->backend.StopDeploy();
}

bool HandOverUi() {
  return false;
}

int RunUi(Session& session, const UiOptions& options) {
  UiServer server(session, options.port);
  StopSignals signals;
  server.Start();
  std::cout << "wassetup: the setup dialog is served on this machine at\n\n  " << server.address()
            << "\n\nOpen it in a browser; the token in it is the key. Ctrl+C stops the server."
            << std::endl;
  if (!options.noOpen) {
    OpenInBrowser(server.address());
  }
  signals.Wait();
  std::cerr << "wassetup: stopping (a running command is allowed to end; Ctrl+C again "
               "ends it at once)\n";
  server.Stop();
  std::cerr << "wassetup: stopped\n";
  return 0;
}

}  // namespace wassetup

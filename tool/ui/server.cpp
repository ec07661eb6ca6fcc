#include "ui/server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <thread>

#include <httplib.h>

#include "core/safe_text.h"
#include "host/file_descriptor.h"
#include "host/platform/signals.h"
#include "ui/embedded_page.h"
#include "ui/request_gate.h"

extern char** environ;

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kLoopback = "127.0.0.1";
// The header in which the page's script sends the page secret (X-Wassetup-Page-Secret; names
// of headers are looked up in lower case), and the key under which the tab's sessionStorage
// keeps it. tool/ui/page/app.js uses both.
constexpr const char* kPageSecretHeader = "x-wassetup-page-secret";
constexpr const char* kPageSecretKey = "wassetup-page-secret";

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
  const zaf::FileDescriptor device(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  filled = 0;
  while (device && filled < size) {
    const ssize_t count = ::read(device.get(), buffer + filled, size - filled);
    if (count > 0) {
      filled += static_cast<std::size_t>(count);
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  if (filled != size) {
    throw ToolError("no random source for the access secrets (getrandom and /dev/urandom failed)");
  }
}

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

// ---- Opening the operator's browser ----

void BrowserHint(const std::string& why) {
  std::cerr << "wassetup: could not open a browser (" << why
            << "); open the address above in a browser on this machine\n";
}

// xdg-open on the entry file (never on the address: a command line is readable by every
// local user), in a process group of its own (a browser it starts must not get the Ctrl+C
// that stops the tool), its output discarded and none of the server's descriptors open.
void OpenInBrowser(const std::string& file) {
  std::string program = "xdg-open";
  std::string argument = file;
  char* argv[] = {program.data(), argument.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
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

// A page in a folder of its own that only this user can read, which sends the browser on to
// the address with the one-time code. Removed with its folder when the server stops.
class EntryFile {
 public:
  explicit EntryFile(const std::string& address) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* temporary = std::getenv("TMPDIR");
    std::string base = runtime != nullptr && *runtime != '\0'       ? runtime
                       : temporary != nullptr && *temporary != '\0' ? temporary
                                                                    : "/tmp";
    std::string pattern = base + "/wassetup-ui.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw ToolError("cannot make a folder for the dialog's entry page in " + base + ": " +
                      std::strerror(errno));
    }
    folder_ = pattern;
    path_ = folder_ + "/open.html";
    const std::string page =
        "<!doctype html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"referrer\" content=\"no-referrer\">"
        "<meta http-equiv=\"refresh\" content=\"0;url=" +
        address +
        "\"><title>wassetup ui</title></head>\n"
        "<body><p>Opening the setup dialog&hellip;</p></body></html>\n";
    const zaf::FileDescriptor file(
        ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const bool written =
        file && ::write(file.get(), page.data(), page.size()) == static_cast<ssize_t>(page.size());
    const int error = errno;
    if (!written) {
      Remove();
      throw ToolError("cannot write the dialog's entry page " + path_ + ": " +
                      std::strerror(error));
    }
  }
  ~EntryFile() { Remove(); }
  EntryFile(const EntryFile&) = delete;
  EntryFile& operator=(const EntryFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  void Remove() {
    ::unlink(path_.c_str());
    ::rmdir(folder_.c_str());
  }

  std::string folder_;
  std::string path_;
};

// ---- HTTP ----

void Reply(httplib::Response& response, const UiReply& reply) {
  response.status = reply.status;
  response.set_content(JsonText(reply.body, -1), "application/json; charset=utf-8");
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

// A request read whole by the gate, as the HTTP library reads it: from memory, while the
// answer goes to the connection.
class WholeRequestStream : public httplib::Stream {
 public:
  explicit WholeRequestStream(const WholeRequest& request) : request_(request) {}

  bool is_readable() const override { return true; }
  bool is_writable() const override { return true; }
  ssize_t read(char* buffer, size_t size) override {
    const std::size_t count = std::min(size, request_.bytes.size() - offset_);
    std::memcpy(buffer, request_.bytes.data() + offset_, count);
    offset_ += count;
    return static_cast<ssize_t>(count);
  }
  using httplib::Stream::write;
  ssize_t write(const char* data, size_t size) override {
    ssize_t sent;
    while ((sent = ::send(request_.socket, data, size, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return sent;
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = request_.clientAddress;
    port = request_.clientPort;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = request_.localAddress;
    port = request_.localPort;
  }
  socket_t socket() const override { return request_.socket; }

 private:
  const WholeRequest& request_;
  std::size_t offset_ = 0;
};

// The library's server without its listening loop: the gate reads the requests, the library
// parses, routes and answers them, one request per connection.
class DialogHttp : public httplib::Server {
 public:
  void Answer(const WholeRequest& request) {
    WholeRequestStream stream(request);
    bool closed = false;
    process_request(stream, /*close_connection=*/true, closed, [](httplib::Request&) {});
  }
};

// What the access rules look at in a request, from the values that `values(name)` gives for
// each header name (in lower case).
template <typename HeaderValuesOf>
UiRequestFacts FactsOf(HeaderValuesOf values) {
  UiRequestFacts facts;
  facts.hosts = values("host");
  facts.origins = values("origin");
  facts.cookies = values("cookie");
  facts.pageSecrets = values(kPageSecretHeader);
  return facts;
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

UiAccess::UiAccess(std::string sessionSecret, std::string pageSecret, std::string code, int port)
    : sessionSecret_(std::move(sessionSecret)),
      pageSecret_(std::move(pageSecret)),
      code_(std::move(code)),
      cookieName_("wassetup-" + std::to_string(port)),
      host_(std::string(kLoopback) + ":" + std::to_string(port)),
      origin_("http://" + host_) {}

std::string UiAccess::EntryAddress() const {
  return origin_ + "/?code=" + code_;
}

std::string UiAccess::SessionCookie() const {
  return cookieName_ + "=" + sessionSecret_ + "; HttpOnly; SameSite=Strict; Path=/";
}

// The answer to the request that spends the code. It sends the browser on to the dialog by a
// navigation of the dialog's own origin (which a redirect from the entry page, of another site,
// would not be; a SameSite=Strict cookie is sent only on the former), and replaces itself in
// the tab's history, so that going back does not show the spent address.
std::string UiAccess::EntryPage(const std::string& nonce) const {
  return "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>wassetup ui</title>"
         "<script nonce=\"" +
         nonce + "\">try { sessionStorage.setItem('" + kPageSecretKey + "', '" + pageSecret_ +
         "'); } finally { location.replace('/'); }</script></head>\n"
         "<body><p>Opening the setup dialog&hellip;</p>"
         "<noscript><p>The setup dialog needs JavaScript.</p></noscript></body></html>\n";
}

bool UiAccess::HasPageSecret(const std::vector<std::string>& pageSecrets) const {
  return pageSecrets.size() == 1 && SameSecret(pageSecrets[0], pageSecret_);
}

bool UiAccess::HasSessionCookie(const std::vector<std::string>& cookies) const {
  for (const std::string& header : cookies) {
    std::size_t start = 0;
    while (start < header.size()) {
      std::size_t end = header.find(';', start);
      end = end == std::string::npos ? header.size() : end;
      std::string pair = header.substr(start, end - start);
      start = end + 1;
      const std::size_t first = pair.find_first_not_of(' ');
      pair.erase(0, first == std::string::npos ? pair.size() : first);
      const std::size_t equals = pair.find('=');
      if (equals != std::string::npos && pair.compare(0, equals, cookieName_) == 0 &&
          equals == cookieName_.size() && SameSecret(pair.substr(equals + 1), sessionSecret_)) {
        return true;
      }
    }
  }
  return false;
}

std::string UiAccess::WrongPlace(const UiRequestFacts& request) const {
  if (request.hosts.size() != 1 || request.hosts[0] != host_) {
    return "the Host header must be " + host_;
  }
  for (const std::string& origin : request.origins) {
    if (origin != origin_) {
      return "requests from pages of other sites are not served";
    }
  }
  return "";
}

bool UiAccess::HoldsSession(const UiRequestFacts& request) const {
  return WrongPlace(request).empty() && HasSessionCookie(request.cookies) &&
         HasPageSecret(request.pageSecrets);
}

UiAccess::Decision UiAccess::Decide(const UiRequestFacts& request) {
  Decision decision;
  decision.refusal = WrongPlace(request);
  if (!decision.refusal.empty()) {
    return decision;
  }
  if (HasSessionCookie(request.cookies)) {
    // The cookie reaches every server of 127.0.0.1, whatever its port, so alone it only gets
    // the page itself, which holds neither secret nor data.
    decision.pass =
        HasPageSecret(request.pageSecrets) || (request.method == "GET" && request.path == "/");
    if (!decision.pass) {
      decision.refusal =
          "no access: this tab did not enter the dialog (use the tab that opened it, or restart "
          "wassetup ui for a new address)";
    }
    return decision;
  }
  bool unspent = false;
  if (!request.code.empty() && SameSecret(request.code, code_) &&
      codeSpent_.compare_exchange_strong(unspent, true)) {
    decision.enter = true;
    return decision;
  }
  decision.refusal = request.code.empty()
                         ? "no access: open the dialog as wassetup ui showed"
                         : "no access: the address was already used once (restart wassetup ui "
                           "for a new one)";
  return decision;
}

struct UiServer::Impl {
  Impl(Session& session, ProcessLauncher* launcher) : backend(session, launcher) {}

  UiBackend backend;
  DialogHttp http;
  std::unique_ptr<RequestGate> gate;
  std::unique_ptr<UiAccess> access;
  std::atomic<std::size_t> refused{0};

  void Configure();
  void Routes();
  // Whether a head the gate has read whole carries the session.
  bool HoldsSession(const HeadFields& fields) const;
  httplib::Server::HandlerResponse Guard(const httplib::Request& request,
                                         httplib::Response& response);
};

httplib::Server::HandlerResponse UiServer::Impl::Guard(const httplib::Request& request,
                                                       httplib::Response& response) {
  UiRequestFacts facts =
      FactsOf([&request](const char* name) { return HeaderValues(request, name); });
  facts.method = request.method;
  facts.path = request.path;
  facts.code = request.get_param_value("code");
  const UiAccess::Decision decision = access->Decide(facts);
  if (decision.pass) {
    return httplib::Server::HandlerResponse::Unhandled;
  }
  if (decision.enter) {
    const std::string nonce = RandomHex(16);
    response.set_header("Set-Cookie", access->SessionCookie());
    response.set_header("Content-Security-Policy",
                        "default-src 'none'; script-src 'nonce-" + nonce + "'");
    response.set_content(access->EntryPage(nonce), "text/html; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  }
  // Nothing of the request reaches the terminal: its path and headers are anyone's text, and
  // escape sequences in them would act on the operator's terminal. The first refusal is told
  // with its fixed reason, the others only counted.
  if (refused++ == 0) {
    std::cerr << "wassetup: refused a request (" << decision.refusal
              << "); further refusals are counted until the server stops\n";
  }
  response.status = 403;
  response.set_content("Forbidden: " + decision.refusal + "\n", "text/plain; charset=utf-8");
  return httplib::Server::HandlerResponse::Handled;
}

bool UiServer::Impl::HoldsSession(const HeadFields& fields) const {
  return access->HoldsSession(FactsOf([&fields](const char* name) {
    std::vector<std::string> values;
    for (const auto& [field, value] : fields) {
      if (field == name) {
        values.push_back(value);
      }
    }
    return values;
  }));
}

void UiServer::Impl::Configure() {
  http.set_payload_max_length(GateLimits{}.maxBodyBytes);
  http.set_default_headers({{"Cache-Control", "no-store"},
                            {"X-Content-Type-Options", "nosniff"},
                            {"Referrer-Policy", "no-referrer"},
                            {"X-Frame-Options", "DENY"}});
  http.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        return Guard(request, response);
      });
  // Every answer of 400 and above without a body of its own gets a line of text.
  http.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        response.set_content(
            std::to_string(response.status) + " " + HttpReasonPhrase(response.status) + "\n",
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

UiServer::UiServer(Session& session, int port, ProcessLauncher* launcher)
    : impl_(std::make_unique<Impl>(session, launcher)) {
  impl_->Configure();
  impl_->gate = std::make_unique<RequestGate>(port, GateLimits{});
  impl_->access =
      std::make_unique<UiAccess>(RandomHex(32), RandomHex(32), RandomHex(32), impl_->gate->port());
}

UiServer::~UiServer() {
  Stop();
}

int UiServer::port() const {
  return impl_->gate->port();
}

std::string UiServer::EntryAddress() const {
  return impl_->access->EntryAddress();
}

std::size_t UiServer::RefusedRequests() const {
  return impl_->refused;
}

std::size_t UiServer::CutConnections() const {
  return impl_->gate->CutConnections();
}

void UiServer::Start() {
  Impl* impl = impl_.get();
  impl_->gate->Start([impl](const WholeRequest& request) { impl->http.Answer(request); },
                     [impl](const HeadFields& fields) { return impl->HoldsSession(fields); });
}

void UiServer::Stop() {
  impl_->gate->Stop();
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

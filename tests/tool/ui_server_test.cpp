// `wassetup ui` tried as another local user would: the real program over loopback, with a fake
// xdg-open earlier on PATH and a fake Java launcher; other local programs are forked children.
// Every wait is bounded, so that a server that hangs fails a test instead of hanging it.
// With WASSETUP_UI_EXE naming the Windows build's wassetup-ui.exe the server is that one, under
// Wine (scripts/windows-test.sh runs them so); the cases that look at the server as a Linux
// process (its signals, descriptors, /proc entries) skip then.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <regex>
#include <thread>

#include "access_cases.h"
#include "core/tool_error.h"
#include "tool_runner.h"
#include "ui/request_gate.h"

namespace qimtest {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace std::chrono_literals;

// A connection to 127.0.0.1:port from the loopback address `from`, whose sends and receives
// give up after `timeout`; -1 when none could be made.
int Connect(int port, milliseconds timeout = milliseconds(3000), const char* from = "127.0.0.1") {
  const int connection = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const timeval limit{static_cast<time_t>(timeout.count() / 1000),
                      static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
  setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in client{};
  client.sin_family = AF_INET;
  inet_pton(AF_INET, from, &client.sin_addr);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<std::uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(connection, reinterpret_cast<sockaddr*>(&client), sizeof client) != 0 ||
      connect(connection, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    close(connection);
    return -1;
  }
  return connection;
}

// Everything the server sends until it closes the connection (or the receive times out).
std::string ReceiveAll(int connection) {
  std::string answer;
  char buffer[8192];
  for (ssize_t count; (count = recv(connection, buffer, sizeof buffer, 0)) > 0;) {
    answer.append(buffer, static_cast<std::size_t>(count));
  }
  return answer;
}

// `request` sent as it is on a fresh connection; the whole answer.
std::string Exchange(int port, const std::string& request) {
  const int connection = Connect(port);
  std::string answer;
  if (connection >= 0 && send(connection, request.data(), request.size(), MSG_NOSIGNAL) ==
                             static_cast<ssize_t>(request.size())) {
    answer = ReceiveAll(connection);
  }
  close(connection);
  return answer;
}

int StatusOf(const std::string& answer) {
  return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.substr(9, 3).c_str()) : 0;
}

// The resident memory of a process, in KiB; -1 when it is not known.
long ResidentKiB(pid_t pid) {
  std::smatch resident;
  const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  return std::regex_search(status, resident, std::regex(R"(VmRSS:\s+(\d+))"))
             ? std::stol(resident.str(1))
             : -1;
}

// The command lines of every process of this machine that contain `secret`.
std::vector<std::string> CommandLinesHolding(const std::string& secret) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string line = ReadFile(entry.path().string() + "/cmdline");
    std::replace(line.begin(), line.end(), '\0', ' ');
    if (line.find(secret) != npos) {
      found.push_back(line);
    }
  }
  return found;
}

// The gate on its own, with room for one connection and time limits far away: an idle
// connection makes room for a newcomer once its arrival grace is over (the gate wakes for that,
// though nothing arrives on the connection it reads), and so does a connection it refused and
// still drains, without being counted as cut again; the handler sees the client's own address
// and port.
TEST(RequestGateTest, AnIdleOrDrainedConnectionMakesRoomAndTheHandlerSeesTheClient) {
  wassetup::GateLimits limits;
  limits.maxConnections = 1;
  limits.byteGap = limits.headDeadline = limits.deadline = std::chrono::seconds(30);
  wassetup::RequestGate gate(0, limits);
  std::string address;
  int port = 0;
  gate.Start(
      [&](const wassetup::WholeRequest& request) {
        address = request.clientAddress;
        port = request.clientPort;
        const std::string answer = "HTTP/1.1 204 No Content\r\n\r\n";
        wassetup::WriteToClient(request, answer.data(), answer.size());
      },
      [](const wassetup::HeadFields&) { return false; });
  const std::string request = "GET / HTTP/1.1\r\n\r\n";
  const int idle = Connect(gate.port());
  const int waiting = Connect(gate.port());
  send(waiting, request.data(), request.size(), MSG_NOSIGNAL);
  EXPECT_EQ(StatusOf(ReceiveAll(waiting)), 204);
  EXPECT_THAT(ReceiveAll(idle), ::testing::StartsWith("HTTP/1.1 503 Service Unavailable\r\n"));
  const int refused = Connect(gate.port());
  ASSERT_EQ(send(refused, "\n", 1, MSG_NOSIGNAL), 1);
  EXPECT_EQ(StatusOf(ReceiveAll(refused)), 400);
  EXPECT_THAT([&] { wassetup::RequestGate(gate.port(), limits); },
              ::testing::ThrowsMessage<wassetup::ToolError>(HasSubstr(std::strerror(EADDRINUSE))))
      << "port taken";
  // A gate started and destroyed without Stop stops itself.
  wassetup::RequestGate(0, limits).Start([](const wassetup::WholeRequest&) {},
                                         [](const wassetup::HeadFields&) { return false; });
  const int newcomer = Connect(gate.port());
  sockaddr_in own{};
  socklen_t size = sizeof own;
  getsockname(newcomer, reinterpret_cast<sockaddr*>(&own), &size);
  send(newcomer, request.data(), request.size(), MSG_NOSIGNAL);
  EXPECT_EQ(StatusOf(ReceiveAll(newcomer)), 204);
  gate.Stop();
  EXPECT_EQ(gate.CutConnections(), 2u) << "the idle and the drained connection, each once";
  EXPECT_EQ(address + ":" + std::to_string(port),
            "127.0.0.1:" + std::to_string(ntohs(own.sin_port)));
  for (const int connection : {idle, waiting, refused, newcomer})
    close(connection);
}

// Another local program that holds connections to the dialog, `perAddress` from each loopback
// address given, and opens a new one whenever the server closes one. Every `pace` it sends the
// next `step` bytes of an endless request head on each; with no pace, nothing at all. It runs
// on a thread of its own from the constructor (which returns once every connection was made
// once) to the destructor.
class Crowd {
 public:
  Crowd(int port, const std::vector<const char*>& addresses, int perAddress, milliseconds pace,
        std::size_t step) {
    std::promise<void> made;
    std::future<void> ready = made.get_future();
    thread_ = std::thread([=, &made] { Hold(port, addresses, perAddress, pace, step, made); });
    EXPECT_EQ(ready.wait_for(20s), std::future_status::ready)
        << "the crowd did not make its connections";
  }
  ~Crowd() {
    stop_ = true;
    thread_.join();
  }
  Crowd(const Crowd&) = delete;
  Crowd& operator=(const Crowd&) = delete;

 private:
  void Hold(int port, const std::vector<const char*>& addresses, int perAddress, milliseconds pace,
            std::size_t step, std::promise<void>& made) {
    const std::string head = "GET / HTTP/1.1\r\nX-Slow: " + std::string(60000, 'a');
    struct Held {
      const char* from;
      int socket;
      std::size_t sent;
    };
    std::vector<Held> held;
    for (const char* from : addresses) {
      for (int count = 0; count < perAddress; ++count) {
        held.push_back({from, Connect(port, milliseconds(1000), from), 0});
      }
    }
    made.set_value();
    Clock::time_point nextStep = Clock::now() + pace;
    std::vector<pollfd> watched;
    while (!stop_) {
      watched.clear();
      for (const Held& one : held) {
        watched.push_back({one.socket, POLLIN, 0});
      }
      poll(watched.data(), watched.size(), 10);
      for (std::size_t index = 0; index < held.size(); ++index) {
        Held& one = held[index];
        if (one.socket < 0 || watched[index].revents != 0) {
          close(one.socket);
          one = {one.from, Connect(port, milliseconds(1000), one.from), 0};
        }
      }
      if (pace.count() > 0 && Clock::now() >= nextStep) {
        for (Held& one : held) {
          const ssize_t sent =
              send(one.socket, head.data() + one.sent, std::min(step, head.size() - one.sent),
                   MSG_NOSIGNAL | MSG_DONTWAIT);
          one.sent += sent > 0 ? static_cast<std::size_t>(sent) : 0;
        }
        nextStep += pace;
      }
    }
    for (const Held& one : held) {
      close(one.socket);
    }
  }

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

const char* const kWindowsServer = std::getenv("WASSETUP_UI_EXE");

const std::regex kEntryAddress(R"(http://127\.0\.0\.1:([0-9]+)/\?code=([0-9a-f]{64}))");

// The real wassetup ui on a free port, in a sandbox with valid settings, a fake Java launcher,
// and a fake xdg-open that records what it is given and stays
// up as a browser would.
class DialogServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(sandbox_.Path("bin").c_str(), 0700);
    WriteExecutable(sandbox_.Path("bin/xdg-open"),
                    "#!/bin/sh\ndir=$(dirname \"$0\")\necho $$ > \"$dir/browser.pid\"\n"
                    "printf '%s\\n' \"$@\" > \"$dir/xdg-open.args\"\n"
                    "cat \"$1\" > \"$dir/given.tmp\" && mv \"$dir/given.tmp\" \"$dir/given.html\"\n"
                    "sleep 20\n");
    ASSERT_TRUE(sandbox_.PrepareDeployment("exit 0\n"));
    if (kWindowsServer != nullptr) {
      sandbox_.RunWith({WINE_RUN_PATH, kWindowsServer});
      java_ = "java.bat";
      WriteFile(sandbox_.Path(java_), "@exit /b 0\r\n");
    }
  }

  void TearDown() override {
    if (server_ > 0) {
      Stop();
    }
    CloseBrowser();
  }

  // Starts the server; with `open`, as an operator does (it opens the browser), else with
  // --no-open; with `hangUpIgnored`, as nohup does. Returns once the entry address is known:
  // from the file the fake xdg-open was given, or from what the server printed.
  void Launch(bool open, bool hangUpIgnored = false) {
    Args arguments = {"ui", "--java", sandbox_.Path(java_), "--script-dir",
                      sandbox_.Path("scripts")};
    if (!open) {
      arguments.push_back("--no-open");
    }
    std::remove(sandbox_.Path("bin/given.html").c_str());
    server_ = sandbox_.Start(arguments, "server", "",
                             {{"PATH", sandbox_.Path("bin") + ":" + std::getenv("PATH")},
                              {"TMPDIR", sandbox_.Path("runtime")}},
                             [hangUpIgnored] {
                               unsetenv("XDG_RUNTIME_DIR");
                               signal(SIGHUP, hangUpIgnored ? SIG_IGN : SIG_DFL);
                             });
    const std::string source = sandbox_.Path(open ? "bin/given.html" : "server.out");
    std::smatch address;
    std::string text;
    WaitFor([&] { return std::regex_search(text = ReadFile(source), address, kEntryAddress); },
            milliseconds(5000));
    ASSERT_FALSE(address.empty()) << "no entry address in " << source << ": " << text
                                  << "\nstderr: " << ReadFile(sandbox_.Path("server.err"));
    port_ = std::atoi(address.str(1).c_str());
    code_ = address.str(2);
  }

  // Sends `signal`, then waits (at most 8 s) for the server to end; its exit status, -1 when
  // it did not exit.
  int Stop(int signal = SIGINT) {
    kill(server_, signal);
    const int status = ToolSandbox::Wait(server_, milliseconds(8000)).status;
    server_ = -1;
    return status;
  }

  // Ends the fake browser and its sleep, in their own group.
  void CloseBrowser() {
    const int browser = std::atoi(ReadFile(sandbox_.Path("bin/browser.pid")).c_str());
    if (browser > 0) {
      kill(-browser, SIGKILL);
    }
  }

  std::string Host() const { return "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n"; }

  // Spends the code as the browser does; the cookie it gives back, as "name=value", and the
  // page secret that its page leaves in the tab's sessionStorage.
  std::string EntryRequest() const {
    return "GET /?code=" + code_ + " HTTP/1.1\r\n" + Host() + "\r\n";
  }
  void Enter() { Entered(Exchange(port_, EntryRequest())); }

  void Entered(const std::string& answer) {
    std::smatch cookie, page;
    std::regex_search(answer, cookie,
                      std::regex(R"(Set-Cookie: (wassetup-[0-9]+=([0-9a-f]{64})); HttpOnly; )"
                                 R"(SameSite=Strict; Path=/)"));
    std::regex_search(answer, page,
                      std::regex(R"(sessionStorage\.setItem\('wassetup-page-secret', )"
                                 R"('([0-9a-f]{64})'\))"));
    EXPECT_EQ(StatusOf(answer), 200) << answer;
    EXPECT_FALSE(cookie.empty() || page.empty()) << answer;
    cookie_ = cookie.str(1);
    secret_ = cookie.str(2);
    pageSecret_ = page.str(1);
  }

  // The headers of the page's own calls: both secrets, through the right Host and Origin.
  std::string Session() const {
    return Host() + "Origin: http://127.0.0.1:" + std::to_string(port_) + "\r\nCookie: " + cookie_ +
           "\r\nX-Wassetup-Page-Secret: " + pageSecret_ + "\r\n";
  }

  // A call of the page, on a connection of its own; the whole answer.
  std::string Authenticated(const std::string& method, const std::string& path,
                            const std::string& body = "") {
    return Exchange(port_, method + " " + path + " HTTP/1.1\r\n" + Session() +
                               "Content-Type: application/json\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body);
  }

  ToolSandbox sandbox_;
  std::string java_ = "java";  // the Java launcher that the server is given
  pid_t server_ = -1;
  int port_ = 0;
  std::string code_;
  std::string cookie_;
  std::string secret_;
  std::string pageSecret_;
};

// At every start no secret is ever in a command line; Ctrl+C, kill, a closed terminal and
// Ctrl+\ each stop the server with status 0 and remove the entry page's folder. A hang-up that
// was ignored from the start (nohup) stays ignored.
TEST_F(DialogServerTest, NoSecretIsInACommandLineAndEachStopSignalRemovesTheEntryPage) {
  if (kWindowsServer != nullptr) {
    GTEST_SKIP() << "looks at the server as a Linux process";
  }
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    Launch(/*open=*/true);
    const std::string given = ReadFile(sandbox_.Path("bin/xdg-open.args"));
    EXPECT_EQ(given.find(code_), npos) << "xdg-open was given the code: " << given;
    // xdg-open got one argument, a page of this user's (written owner-only by the host's
    // replacement, whose mode tests/host tries), in a folder only they can list.
    const std::string page = given.substr(0, given.find('\n'));
    const std::string folder = page.substr(0, page.rfind('/'));
    struct stat file {};
    ASSERT_EQ(stat(page.c_str(), &file), 0) << given;
    EXPECT_EQ(file.st_uid, getuid());
    EXPECT_EQ(ModeOf(folder) & 07777, 0700) << folder;

    EXPECT_EQ(CommandLinesHolding(code_), std::vector<std::string>{});
    Enter();
    ASSERT_FALSE(secret_.empty());
    for (const std::string& secret : {secret_, pageSecret_}) {
      EXPECT_EQ(CommandLinesHolding(secret), std::vector<std::string>{});
    }
    EXPECT_EQ(ReadFile(sandbox_.Path("server.out")).find(code_), npos)
        << "the terminal shows the code although the browser was opened";

    EXPECT_EQ(Stop(signal), 0) << strsignal(signal);
    EXPECT_FALSE(FileExists(folder)) << strsignal(signal) << " left " << folder;
    CloseBrowser();
  }
  Launch(/*open=*/true, /*hangUpIgnored=*/true);
  kill(server_, SIGHUP);
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(StatusOf(Exchange(port_, EntryRequest())), 200)
      << "a hang-up ignored from the start stopped the server";
  EXPECT_EQ(Stop(SIGTERM), 0);
}

// The access rules' cases, sent to the server as requests: first those that carry a code, whose
// whole code spends it, then the others with the secrets that this gave.
TEST_F(DialogServerTest, TheAccessRulesDecideOverTheNetwork) {
  Launch(/*open=*/false);
  const auto send = [this](const AccessCase& row) {
    const wassetup::UiRequestFacts& facts = row.request;
    std::string head = facts.method + " " + facts.path +
                       (facts.code.empty() ? "" : "?code=" + facts.code) + " HTTP/1.1\r\n";
    for (const auto& [name, values] : {std::pair{"Host", facts.hosts},
                                       {"Origin", facts.origins},
                                       {"Cookie", facts.cookies},
                                       {"X-Wassetup-Page-Secret", facts.pageSecrets}}) {
      for (const std::string& value : values) {
        head += std::string(name) + ": " + value + "\r\n";
      }
    }
    const std::string answer = Exchange(port_, head + "Content-Length: 0\r\n\r\n");
    EXPECT_NE(StatusOf(answer), 0) << row.reason;
    EXPECT_EQ(StatusOf(answer) == 403, row.verdict == kRefused) << row.reason << ": " << answer;
    return answer;
  };
  for (const AccessCase& row :
       AccessCases(std::string(64, '0'), std::string(64, '0'), code_, port_)) {
    if (!row.request.code.empty()) {
      const std::string answer = send(row);
      if (row.verdict == kEnters) {
        Entered(answer);
      }
    }
  }
  ASSERT_FALSE(secret_.empty());
  int refused = 0;
  for (const AccessCase& row : AccessCases(secret_, pageSecret_, code_, port_)) {
    if (row.request.code.empty()) {
      send(row);
    }
    refused += row.verdict == kRefused;
  }
  // What the server tells the terminal of the requests it refuses: nothing of them. The limits
  // of a head are tried in request_rules_test.cpp.
  const std::string lure = "\x1b[2J\x1b[Hserved-at-http://127.0.0.1:18999/?token=lure";
  const struct {
    std::string request;
    int status;
    const char* reason;
  } cases[] = {
      {"GET / HTTP/1.1\nHost: 127.0.0.1:" + std::to_string(port_) + "\n", 400,
       "lines that end in a line feed alone, answered at once instead of at the deadline"},
      {"GET /" + lure + " HTTP/1.1\r\n" + Host(), 403, "a path that would act on the terminal"},
      {"GET /api/form HTTP/1.1\r\n" + Session() + "Origin: http://" + lure + "\r\n", 403,
       "an Origin that would act on it"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(StatusOf(Exchange(port_, row.request + "\r\n")), row.status) << row.reason;
  }
  EXPECT_EQ(Stop(), 0);
  EXPECT_THAT(ReadFile(sandbox_.Path("server.out")), HasSubstr("secret"));
  EXPECT_THAT(ReadFile(sandbox_.Path("server.err")),
              AllOf(Not(HasSubstr("\x1b")), Not(HasSubstr("lure")),
                    HasSubstr("refused " + std::to_string(refused + 2) +
                              " request(s) without access; cut 1 connection(s)")));
}

// Other programs of this machine hold connections that send nothing, a byte now and then, or
// headers without end, from one loopback address or two. Each is cut well before the whole
// request's deadline, a flood without growing the server's memory; while they take every place,
// the one that has sent the least makes room for a newcomer, so every call of the operator is
// answered at once.
TEST_F(DialogServerTest, ClientsThatSendLittleOrTooMuchNeitherLockTheOperatorOutNorGrowTheServer) {
  Launch(/*open=*/false);
  Enter();
  const long before = ResidentKiB(server_);
  ASSERT_GT(before, 0);
  const std::string start = "GET / HTTP/1.1\r\n" + Host();
  const struct {
    std::string opening;
    std::string each;  // sent again after every pause until the answer comes
    milliseconds pause;
    int status;
    milliseconds cutWithin;
    const char* reason;
  } probes[] = {
      {"", "", 100ms, 408, 1000ms, "a connection that sends nothing"},
      {start + "X-Slow: ", "a", 100ms, 408, 2500ms, "one that sends a byte every 100 ms"},
      {start, "X-Filler: " + std::string(8000, 'a') + "\r\n", 0ms, 431, 2500ms, "a header flood"},
  };
  for (const auto& probe : probes) {
    const int connection = Connect(port_);
    const Clock::time_point opened = Clock::now();
    send(connection, probe.opening.data(), probe.opening.size(), MSG_NOSIGNAL);
    pollfd answer{connection, POLLIN, 0};
    while (poll(&answer, 1, static_cast<int>(probe.pause.count())) == 0 &&
           Clock::now() - opened < 5s) {
      send(connection, probe.each.data(), probe.each.size(), MSG_NOSIGNAL);
    }
    EXPECT_EQ(StatusOf(ReceiveAll(connection)), probe.status) << probe.reason;
    EXPECT_LT(Clock::now() - opened, probe.cutWithin) << probe.reason;
    close(connection);
  }
  const long after = ResidentKiB(server_);
  EXPECT_LT(after - before, 16 * 1024) << "KiB before " << before << ", after " << after;

  const struct {
    std::vector<const char*> addresses;
    int perAddress;
    milliseconds pace;
    std::size_t step;
    int calls;
    milliseconds answeredWithin;
    const char* reason;
  } crowds[] = {
      {{"127.0.0.1"}, 64, 0ms, 0, 30, 500ms, "64 that send nothing"},
      {{"127.0.0.1"}, 64, 100ms, 1, 30, 500ms, "64 that send a byte each 100 ms"},
      {{"127.0.0.1", "127.0.0.2"}, 32, 0ms, 0, 30, 500ms, "32 idle ones from two addresses"},
      {{"127.0.0.1"}, 64, 100ms, 8000, 30, 500ms, "64 that send 8000 bytes each 100 ms"},
      // More than the places: a newcomer waits its turn, 64 places being freed each 100 ms.
      {{"127.0.0.1"}, 200, 0ms, 0, 5, 2000ms, "200 that send nothing"},
  };
  for (const auto& crowd : crowds) {
    const Crowd others(port_, crowd.addresses, crowd.perAddress, crowd.pace, crowd.step);
    // One call every 50 ms, while the crowd's connections are cut and made anew.
    int answered = 0;
    milliseconds slowest{0};
    for (int call = 0; call < crowd.calls; ++call) {
      std::this_thread::sleep_for(50ms);
      const Clock::time_point start = Clock::now();
      answered += StatusOf(Authenticated("GET", "/api/form")) == 200;
      slowest = std::max(slowest, std::chrono::duration_cast<milliseconds>(Clock::now() - start));
    }
    EXPECT_EQ(answered, crowd.calls) << crowd.reason;
    EXPECT_LT(slowest, crowd.answeredWithin) << crowd.reason;
  }
  EXPECT_EQ(Stop(), 0) << ReadFile(sandbox_.Path("server.err"));
}

}  // namespace
}  // namespace qimtest

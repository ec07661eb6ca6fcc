// `wassetup ui` as the operator runs it: the real program serving on 127.0.0.1, spoken to over
// a plain socket so that every header is exactly what the test sends, then stopped by signal.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

extern char** environ;

namespace qimtest {
namespace {

struct HttpReply {
  int status = 0;
  std::string headers;
  std::string body;
};

// One request on a fresh connection; `request` is sent as it is.
HttpReply Exchange(int port, const std::string& request) {
  HttpReply reply;
  const int connection = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<std::uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(connection, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    close(connection);
    return reply;
  }
  EXPECT_EQ(send(connection, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  std::string answer;
  char buffer[8192];
  for (ssize_t count; (count = recv(connection, buffer, sizeof buffer, 0)) > 0;) {
    answer.append(buffer, static_cast<std::size_t>(count));
  }
  close(connection);
  const std::size_t end = answer.find("\r\n\r\n");
  if (answer.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) {
    return reply;
  }
  reply.status = std::stoi(answer.substr(9, 3));
  reply.headers = answer.substr(0, end);
  reply.body = answer.substr(end + 4);
  return reply;
}

// The wassetup program serving the dialog, with its output in files.
class Served {
 public:
  explicit Served(const std::vector<std::string>& extra = {"--no-open"}) {
    mkdir(dir_.File("prefs").c_str(), 0700);
    std::vector<std::string> arguments = {WASSETUP_PATH, "--prefs-dir", dir_.File("prefs"), "ui"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, dir_.File("out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, dir_.File("err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // The address is printed once the server listens and the signals are caught.
    const std::regex printed(R"(http://127\.0\.0\.1:([0-9]+)/\?token=([0-9a-f]+))");
    for (int attempt = 0; attempt < 500 && port_ == 0 && Running(); ++attempt) {
      std::smatch match;
      const std::string out = ReadFile(dir_.File("out"));
      if (std::regex_search(out, match, printed)) {
        port_ = std::stoi(match[1]);
        token_ = match[2];
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }

  ~Served() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool Running() {
    if (status_ >= 0) {
      return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return false;
    }
    return true;
  }

  // Sends the signal and waits (up to ten seconds) for the exit status.
  int StopWith(int signal) {
    kill(pid_, signal);
    for (int attempt = 0; attempt < 1000 && Running(); ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }

  // A request with the right Host, plus `headers` (each ending in \r\n).
  HttpReply Get(const std::string& target, const std::string& headers = "") const {
    return Exchange(port_, "GET " + target + " HTTP/1.1\r\nHost: " + host() + "\r\n" + headers +
                               "Connection: close\r\n\r\n");
  }

  HttpReply Post(const std::string& target, const std::string& body,
                 const std::string& headers) const {
    return Exchange(port_, "POST " + target + " HTTP/1.1\r\nHost: " + host() + "\r\n" + headers +
                               "Content-Type: application/json\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                               body);
  }

  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string tokenHeader() const { return "X-Wassetup-Token: " + token_ + "\r\n"; }
  int port() const { return port_; }
  const std::string& token() const { return token_; }
  std::string out() const { return ReadFile(dir_.File("out")); }
  std::string err() const { return ReadFile(dir_.File("err")); }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  int status_ = -1;
  int port_ = 0;
  std::string token_;
};

TEST(WassetupUiTest, PrintsALoopbackAddressWithAFreshRandomToken) {
  Served first;
  Served second;
  ASSERT_NE(first.port(), 0) << first.err();
  ASSERT_NE(second.port(), 0) << second.err();
  EXPECT_NE(first.port(), second.port());
  EXPECT_EQ(first.token().size(), 64u);
  EXPECT_NE(first.token(), second.token());
  EXPECT_EQ(first.StopWith(SIGINT), 0);
  EXPECT_EQ(second.StopWith(SIGINT), 0);
}

TEST(WassetupUiTest, ServesThePageOnlyWithTheTokenAndTheLoopbackHost) {
  Served served;
  ASSERT_NE(served.port(), 0) << served.err();
  const std::string query = "/?token=" + served.token();

  const HttpReply page = served.Get(query);
  ASSERT_EQ(page.status, 200) << page.headers;
  EXPECT_NE(page.body.find("<!DOCTYPE html>"), std::string::npos);
  // The page's script and style carry the nonce of the page's policy, and nothing is left of
  // the markers they were put in by.
  std::smatch nonce;
  ASSERT_TRUE(std::regex_search(page.headers, nonce,
                                std::regex("Content-Security-Policy: default-src 'none'; "
                                           "script-src 'nonce-([0-9a-f]{32})'")))
      << page.headers;
  EXPECT_NE(page.body.find("<script nonce=\"" + nonce[1].str() + "\">"), std::string::npos);
  EXPECT_NE(page.body.find("<style nonce=\"" + nonce[1].str() + "\">"), std::string::npos);
  for (const char* marker : {"@NONCE@", "/*@STYLE@*/", "/*@SCRIPT@*/"}) {
    EXPECT_EQ(page.body.find(marker), std::string::npos) << marker;
  }
  EXPECT_NE(page.body.find("X-Wassetup-Token"), std::string::npos) << "the script is inline";
  EXPECT_NE(page.headers.find("Cache-Control: no-store"), std::string::npos);
  EXPECT_EQ(served.Get(query).headers.find(nonce[1].str()), std::string::npos)
      << "each page load has a nonce of its own";

  const std::string wrongToken = "X-Wassetup-Token: " + std::string(64, 'a') + "\r\n";
  const std::string origin = "Origin: http://" + served.host() + "\r\n";
  const struct {
    std::string request;
    int status;
    const char* what;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: " + served.host() + "\r\n", 403, "no token"},
      {"GET /api/form HTTP/1.1\r\nHost: " + served.host() + "\r\n" + wrongToken, 403,
       "a wrong token"},
      {"GET /?token=" + served.token().substr(1) + " HTTP/1.1\r\nHost: " + served.host() + "\r\n",
       403, "a token cut short"},
      {"GET " + query + " HTTP/1.1\r\nHost: evil.example:" + std::to_string(served.port()) + "\r\n",
       403, "a foreign host"},
      {"GET " + query + " HTTP/1.1\r\nHost: localhost:" + std::to_string(served.port()) + "\r\n",
       403, "another name of the loopback"},
      {"GET " + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n", 403, "no port in the host"},
      {"GET " + query + " HTTP/1.1\r\n", 403, "no host"},
      {"GET " + query + " HTTP/1.1\r\nHost: " + served.host() + "\r\nHost: evil.example\r\n", 403,
       "two hosts"},
      {"GET /api/form HTTP/1.1\r\nHost: " + served.host() + "\r\n" + served.tokenHeader() +
           "Origin: http://evil.example\r\n",
       403, "a page of another site"},
      {"GET /api/form HTTP/1.1\r\nHost: " + served.host() + "\r\n" + served.tokenHeader() + origin,
       200, "the page's own call"},
      {"GET /api/form HTTP/1.1\r\nHost: " + served.host() + "\r\n" + served.tokenHeader(), 200,
       "a call with the header"},
      {"GET /api/form?token=" + served.token() + " HTTP/1.1\r\nHost: " + served.host() + "\r\n",
       200, "a call with the query"},
      {"GET /nothing-here HTTP/1.1\r\nHost: " + served.host() + "\r\n" + served.tokenHeader(), 404,
       "an unknown path"},
  };
  for (const auto& one : cases) {
    EXPECT_EQ(Exchange(served.port(), one.request + "Connection: close\r\n\r\n").status, one.status)
        << one.what;
  }
  EXPECT_NE(served.err().find("wassetup: refused GET /api/form: requests from pages of "
                              "http://evil.example are not served"),
            std::string::npos)
      << served.err();
  EXPECT_EQ(served.StopWith(SIGTERM), 0);
  EXPECT_NE(served.err().find("wassetup: stopped"), std::string::npos);
}

TEST(WassetupUiTest, ActionsOverHttpReachThePlugIn) {
  Served served;
  ASSERT_NE(served.port(), 0) << served.err();
  const auto form = [&served] {
    return nlohmann::json::parse(served.Get("/api/form", served.tokenHeader()).body);
  };
  std::uint64_t box = 0;
  const nlohmann::json before = form();
  for (const auto& widget : before["widgets"]) {
    if (widget["name"] == "EnableQimPlugIn") {
      box = widget["id"];
      EXPECT_EQ(widget["state"], "checked");
    }
  }
  ASSERT_NE(box, 0u);
  const std::string toggle = "{\"id\":" + std::to_string(box) + "}";
  EXPECT_EQ(served.Post("/api/toggle", toggle, "").status, 403) << "no token, no action";
  EXPECT_EQ(served.Post("/api/toggle", toggle, served.tokenHeader()).status, 200);
  const nlohmann::json after = form();
  for (const auto& widget : after["widgets"]) {
    if (widget["name"] == "EnableQimPlugIn") {
      EXPECT_EQ(widget["state"], "unchecked");
    }
    if (widget["name"] == "DatabaseFrame") {
      EXPECT_EQ(widget["usable"], false);
    }
  }
  const HttpReply bad = served.Post("/api/toggle", "{not json", served.tokenHeader());
  EXPECT_EQ(bad.status, 400);
  EXPECT_NE(bad.body.find("not a JSON document"), std::string::npos);
  EXPECT_EQ(served.Post("/api/toggle", "{}", served.tokenHeader()).status, 400);
  EXPECT_EQ(served.Get("/api/folders?path=relative", served.tokenHeader()).status, 400);
  EXPECT_EQ(served.Get("/api/folders?path=/", served.tokenHeader()).status, 200);
  EXPECT_EQ(served.StopWith(SIGINT), 0);
}

TEST(WassetupUiTest, APortInUseIsBadUsage) {
  Served first;
  ASSERT_NE(first.port(), 0) << first.err();
  Served second({"--no-open", "--port", std::to_string(first.port())});
  EXPECT_EQ(second.port(), 0);
  EXPECT_EQ(second.StopWith(0), 2);
  EXPECT_NE(second.err().find("cannot listen on 127.0.0.1:" + std::to_string(first.port())),
            std::string::npos)
      << second.err();
  EXPECT_EQ(first.StopWith(SIGINT), 0);
}

TEST(WassetupUiTest, WithoutABrowserToOpenItPrintsAHintAndGoesOnServing) {
  // With no xdg-open in PATH (and so no browser started by a test), opening fails at once.
  TempDir empty;
  const char* savedPath = std::getenv("PATH");
  const std::string path = savedPath != nullptr ? savedPath : "";
  setenv("PATH", empty.path().c_str(), 1);
  Served served({"--port", "0"});
  setenv("PATH", path.c_str(), 1);
  ASSERT_NE(served.port(), 0) << served.err();
  EXPECT_EQ(served.Get("/?token=" + served.token()).status, 200);
  for (int attempt = 0; attempt < 200 && served.err().empty(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(served.err().find("wassetup: could not open a browser (xdg-open: No such file or "
                              "directory); open the address above in a browser on this machine"),
            std::string::npos)
      << served.err();
  EXPECT_EQ(served.StopWith(SIGINT), 0);

  Served quiet;
  ASSERT_NE(quiet.port(), 0) << quiet.err();
  EXPECT_EQ(quiet.StopWith(SIGINT), 0);
  EXPECT_EQ(quiet.err().find("could not open"), std::string::npos) << "--no-open opens nothing";
}

}  // namespace
}  // namespace qimtest

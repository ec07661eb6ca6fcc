// `wassetup ui`: the real program refusing requests that lack the token or come through
// another host name, and its backend driving the live plug-in as the page does.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "tool_runner.h"
#include "ui/backend.h"

namespace qimtest {
namespace {

using Json = nlohmann::ordered_json;

// The status of the answer to `request`, sent as it is on a fresh connection (0: none).
int StatusOf(int port, const std::string& request) {
  const int connection = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<std::uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(connection, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0 &&
      send(connection, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
    char buffer[8192];
    for (ssize_t count; (count = recv(connection, buffer, sizeof buffer, 0)) > 0;) {
      answer.append(buffer, static_cast<std::size_t>(count));
    }
  }
  close(connection);
  return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::stoi(answer.substr(9, 3)) : 0;
}

TEST(WassetupUiTest, RequestsWithoutTheTokenOrThroughAnotherHostAreRefused) {
  TempDir dir;
  const std::string prefs = dir.File("prefs"), out = dir.File("out"), err = dir.File("err");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    execl(WASSETUP_PATH, WASSETUP_PATH, "--prefs-dir", prefs.c_str(), "ui", "--no-open",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  std::smatch address;
  const std::regex printed(R"(http://127\.0\.0\.1:([0-9]+)/\?token=([0-9a-f]{64}))");
  std::string text;
  for (int attempt = 0; attempt < 500 && !std::regex_search(text = ReadFile(out), address, printed);
       ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string port = address[1], token = address[2];  // empty when never printed
  const std::string host = "Host: 127.0.0.1:" + port + "\r\n";
  const std::string tokenHeader = "X-Wassetup-Token: " + token + "\r\n";
  const struct {
    std::string request;
    int status;
    const char* reason;
  } cases[] = {
      {"GET /?token=" + token + " HTTP/1.1\r\n" + host, 200, "the address printed"},
      {"GET /api/form HTTP/1.1\r\n" + host + tokenHeader, 200, "the page's own call"},
      {"GET / HTTP/1.1\r\n" + host, 403, "no token"},
      {"GET /api/form HTTP/1.1\r\n" + host + "X-Wassetup-Token: " + std::string(64, 'a') + "\r\n",
       403, "a wrong token"},
      {"GET /?token=" + token + " HTTP/1.1\r\nHost: localhost:" + port + "\r\n", 403,
       "another name of the loopback"},
      {"GET /?token=" + token + " HTTP/1.1\r\nHost: evil.example:" + port + "\r\n", 403,
       "a foreign host"},
      {"GET /?token=" + token + " HTTP/1.1\r\n", 403, "no host"},
      {"GET /api/form HTTP/1.1\r\n" + host + tokenHeader + "Origin: http://evil.example\r\n", 403,
       "a page of another site"},
  };
  for (const auto& one : cases) {
    EXPECT_EQ(StatusOf(std::atoi(port.c_str()), one.request + "Connection: close\r\n\r\n"),
              one.status)
        << one.reason << "; stderr: " << ReadFile(err);
  }
  kill(pid, SIGINT);
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "SIGINT stops it cleanly";
}

// The backend on a live session with the real module, as the page's calls reach it.
class UiBackendTest : public ::testing::Test {
 protected:
  UiBackendTest() {
    options_.pluginPath = QIM_MODULE_PATH;
    options_.catalogDir = QIM_SOURCE_CATALOG_DIR;
    options_.prefsDir = dir_.File("prefs");
    session_ = std::make_unique<wassetup::Session>(options_);
    backend_ = std::make_unique<wassetup::UiBackend>(*session_);
  }

  Json Widget(const std::string& name) {
    const Json form = backend_->Form().body;
    for (const Json& widget : form["widgets"]) {
      if (widget["name"] == name) {
        return widget;
      }
    }
    return Json();
  }

  // The page's request naming the widget (and the text typed into it).
  nlohmann::json Request(const std::string& name, const std::string& text = "") {
    return {{"id", Widget(name)["id"].get<std::uint64_t>()}, {"text", text}};
  }

  TempDir dir_;
  wassetup::GlobalOptions options_;
  std::unique_ptr<wassetup::Session> session_;
  std::unique_ptr<wassetup::UiBackend> backend_;
};

TEST_F(UiBackendTest, UncheckingTheEnableBoxGreysTheFramesWhichTakeNoInput) {
  ASSERT_EQ(backend_->Toggle(Request("EnableQimPlugIn")).status, 200);
  EXPECT_EQ(Widget("EnableQimPlugIn")["state"], "unchecked");
  for (const char* frame : {"QimSetupFrame", "DatabaseFrame", "MessageQueuesFrame"}) {
    EXPECT_EQ(Widget(frame)["usable"], false) << frame;
  }
  EXPECT_EQ(backend_->Type(Request("SMTPEditor", "x")).status, 409);
}

TEST_F(UiBackendTest, BrowseOkFillsTheEditorOfItsRowAndCancelDoesNot) {
  const Json before = Widget("MQSEditor")["text"];
  ASSERT_EQ(backend_->Press(Request("BrowseMQS")).status, 200);
  ASSERT_EQ(backend_->CloseChooser(nlohmann::json::object(), false).status, 200);
  EXPECT_EQ(Widget("MQSEditor")["text"], before);

  ASSERT_EQ(backend_->Press(Request("BrowseMQS")).status, 200);
  const Json chooser = backend_->Form().body["chooser"];
  ASSERT_TRUE(chooser.is_object());
  const nlohmann::json ok = {{"id", chooser["id"].get<std::uint64_t>()}, {"path", dir_.path()}};
  ASSERT_EQ(backend_->CloseChooser(ok, true).status, 200);
  EXPECT_EQ(Widget("MQSEditor")["text"], dir_.path());
}

TEST_F(UiBackendTest, ValidateNamesThePageOfTheFirstBlankField) {
  session_->plugin().SetUserInterfaceFields(
      MakeList({"qimdirrt", "mqpass", "databasePassword", "smtp", "nuvserver", "qimip", "nuvip",
                "fmcip"}),
      MakeList({dir_.path().c_str(), "m", "d", "mail", "nuv", "1", "2", "3"}));
  EXPECT_EQ(backend_->Validate().body["valid"], true);
  ASSERT_EQ(backend_->Type(Request("DatabasePortEditor", "")).status, 200);
  const Json verdict = backend_->Validate().body;
  EXPECT_EQ(verdict["page"]["name"], "QIMDatabasePage");
  EXPECT_NE(verdict["text"].get<std::string>().find("Database port"), npos) << verdict;
}

TEST_F(UiBackendTest, APasswordTypedReachesThePlugInButIsNeverSent) {
  ASSERT_EQ(backend_->Type(Request("DatabasePasswordEditor", "hunter2-secret")).status, 200);
  EXPECT_EQ(Widget("DatabasePasswordEditor")["text"], "********");
  for (const wassetup::UiReply& reply :
       {backend_->Form(), backend_->Plan(), backend_->Validate()}) {
    EXPECT_EQ(reply.body.dump().find("hunter2-secret"), npos) << reply.body.dump();
  }
  ASSERT_EQ(backend_->Save().status, 200);
  EXPECT_NE(ReadFile(session_->preferenceFile()).find("\"hunter2-secret\""), npos);
}

}  // namespace
}  // namespace qimtest

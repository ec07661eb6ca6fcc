// What the dialog's server decides before any route runs, tried without a server: whom the
// access rules let in (ui/access.h) and what the gate makes of a request head
// (ui/request_gate.h). The server itself is tried in ui_server_test.cpp.

#include <map>
#include <set>

#include "access_cases.h"
#include "tool_runner.h"
#include "ui/access.h"
#include "ui/request_gate.h"

namespace qimtest {
namespace {

using wassetup::UiAccess;

TEST(UiAccessTest, OnlyTheWholeSecretsThroughTheDialogsOwnHostAndOriginAreServed) {
  const std::string session(64, 's'), page(64, 'p'), code(64, 'c');
  UiAccess access(session, page, code, 8765);
  const std::string cookie = "wassetup-8765=" + session;
  for (const AccessCase& row : AccessCases(session, page, code, 8765)) {
    SCOPED_TRACE(row.reason);
    const bool holdsSession = access.HoldsSession(row.request);
    const UiAccess::Decision decision = access.Decide(row.request);
    EXPECT_EQ(decision.pass, row.verdict == kServed || row.verdict == kSession);
    EXPECT_EQ(decision.enter, row.verdict == kEnters);
    EXPECT_EQ(decision.refusal.empty(), row.verdict != kRefused) << decision.refusal;
    EXPECT_EQ(holdsSession, row.verdict == kSession);
  }
  // The server finds the headers by their names in lower case, as the gate keeps them.
  using Headers = std::vector<std::string>;
  const std::map<std::string, Headers> heads = {
      {"host", {"127.0.0.1:8765"}}, {"cookie", {cookie}}, {"x-wassetup-page-secret", {page}}};
  EXPECT_TRUE(access.HoldsSession(wassetup::HeaderFacts([&heads](const char* name) {
    const auto found = heads.find(name);
    return found == heads.end() ? Headers{} : found->second;
  })));
  // Every byte of a secret is random: eight secrets do not all begin alike.
  std::set<std::string> firstBytes;
  for (int secret = 0; secret < 8; ++secret) {
    firstBytes.insert(wassetup::RandomHex(32).substr(0, 2));
  }
  EXPECT_GT(firstBytes.size(), 1u);
  EXPECT_EQ(access.EntryAddress(), "http://127.0.0.1:8765/?code=" + code);
  EXPECT_EQ(access.SessionCookie(), cookie + "; HttpOnly; SameSite=Strict; Path=/");
}

// A head of `lines` header lines and `bytes` bytes in all, the blank line included.
std::string Head(std::size_t lines, std::size_t bytes) {
  std::string head = "GET / HTTP/1.1\r\n";
  for (std::size_t line = 1; line < lines; ++line) {
    head += "X-" + std::to_string(line) + ": a\r\n";
  }
  const std::string last = "X-Last: ";
  return head + last + std::string(bytes - head.size() - last.size() - 4, 'a') + "\r\n\r\n";
}

TEST(CheckHeadTest, AHeadIsWholeWithinItsLimitsOrRefusedWithTheStatusOfItsFault) {
  const wassetup::GateLimits limits;  // 16 KiB and 64 header lines; bodies up to 64 KiB
  const std::string get = "GET / HTTP/1.1\r\nHost: h\r\n";
  const std::string post = "POST /api/save HTTP/1.1\r\n";
  const struct {
    std::string received;
    int refusal;
    long body;  // the length of the body the whole head announces; -1: not whole yet
    const char* reason;
  } cases[] = {
      {get + "\r\n", 0, 0, "a whole head without a body"},
      {get, 0, -1, "a head still coming"},
      {post + "Content-Length: 5\r\n\r\nab", 0, 5, "a body counts whether it has come or not"},
      {post + "content-length:  65536 \r\n\r\n", 0, 65536, "a body at the limit"},
      {post + "Content-Length: 65537\r\n\r\n", 413, -1, "a body over the limit"},
      {post + "Content-Length: 5\r\nContent-Length: 5\r\n\r\n", 0, 5, "the same length twice"},
      {post + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n", 400, -1, "two lengths"},
      {post + "Content-Length:\r\n\r\n", 400, -1, "an empty length"},
      {post + "Content-Length: 5a\r\n\r\n", 400, -1, "a length that is no number"},
      {post + "Content-Length: -5\r\n\r\n", 400, -1, "a negative length"},
      {post + "Content-Length: 0000000000005\r\n\r\n", 400, -1, "a length of 13 digits"},
      {post + "Transfer-Encoding: chunked\r\n\r\n", 411, -1, "a body without a length"},
      {post + "EXPECT: 100-continue\r\n\r\n", 417, -1, "an expectation, whatever its case"},
      {"GET / HTTP/1.1\nHost: h\r\n\r\n", 400, -1, "a line that ends in a line feed alone"},
      {"\n", 400, -1, "a line feed first"},
      {get + "\n\r\n", 400, -1, "a line feed alone right after a whole line"},
      {Head(limits.maxHeaderLines, 2000), 0, 0, "header lines at the limit"},
      {Head(limits.maxHeaderLines + 1, 2000), 431, -1, "one header line over the limit"},
      {Head(3, limits.maxHeadBytes), 0, 0, "a head at the byte limit"},
      {Head(3, limits.maxHeadBytes + 1), 431, -1, "a head one byte over"},
      {std::string(limits.maxHeadBytes + 1, 'a'), 431, -1, "too long before its end"},
  };
  // Each refusal's reason phrase, as HTTP names it.
  const std::map<int, std::string> kPhrases = {{400, "Bad Request"},
                                               {411, "Length Required"},
                                               {413, "Payload Too Large"},
                                               {417, "Expectation Failed"},
                                               {431, "Request Header Fields Too Large"}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.reason);
    const wassetup::HeadCheck check = wassetup::CheckHead(row.received, limits);
    EXPECT_EQ(check.refusal, row.refusal);
    if (check.refusal != 0) {
      EXPECT_EQ(wassetup::HttpReasonPhrase(check.refusal), kPhrases.at(check.refusal));
    }
    EXPECT_EQ(
        check.requestSize,
        row.body < 0 ? 0 : row.received.find("\r\n\r\n") + 4 + static_cast<std::size_t>(row.body));
  }
  const wassetup::HeadFields fields =
      wassetup::CheckHead(get + "X-Name:\t a b \r\nNo colon\r\n\r\n", limits).fields;
  EXPECT_EQ(fields, (wassetup::HeadFields{{"host", "h"}, {"x-name", "a b"}}))
      << "names in lower case, values without surrounding blanks, lines without a colon left out";
}

}  // namespace
}  // namespace qimtest

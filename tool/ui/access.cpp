#include "ui/access.h"

#include <cstdint>

#include "host/platform/random.h"

namespace wassetup {

namespace {

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

// From the system's generator (host/platform/random.h), eight bytes at a time.
void FillRandom(unsigned char* buffer, std::size_t size) {
  for (std::size_t filled = 0; filled < size;) {
    std::uint64_t bits = zaf::platform::RandomBits();
    for (int byte = 0; byte < 8 && filled < size; ++byte, bits >>= 8) {
      buffer[filled++] = static_cast<unsigned char>(bits);
    }
  }
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

UiRequestFacts HeaderFacts(
    const std::function<std::vector<std::string>(const char* name)>& valuesOf) {
  UiRequestFacts facts;
  facts.hosts = valuesOf("host");
  facts.origins = valuesOf("origin");
  facts.cookies = valuesOf("cookie");
  facts.pageSecrets = valuesOf(kPageSecretHeader);
  return facts;
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

}  // namespace wassetup

// What the gate reads of a request before it hands it over: the head, within its limits, and
// the words of the answers it gives itself.

#include <algorithm>
#include <cctype>
#include <string>

#include "ui/request_gate.h"

namespace wassetup {

namespace {

constexpr std::size_t npos = std::string::npos;

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::size_t CountLines(const std::string& text, std::size_t end) {
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != npos && at < end; at += 2) {
    ++lines;
  }
  return lines;
}

}  // namespace

const char* HttpReasonPhrase(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 417:
      return "Expectation Failed";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return status < 500 ? "Client Error" : "Server Error";
  }
}

HeadCheck CheckHead(const std::string& received, const GateLimits& limits) {
  HeadCheck check;
  const std::size_t blank = received.find("\r\n\r\n");
  const std::size_t headEnd = blank == npos ? received.size() : blank + 4;
  // The first line is the request line; the rest up to the blank line are headers.
  const std::size_t lines = CountLines(received, blank == npos ? received.size() : blank + 2);
  if (headEnd > limits.maxHeadBytes || lines > limits.maxHeaderLines + 1) {
    check.refusal = 431;
    return check;
  }
  // A line that ends in a line feed alone is refused at once: waiting for a blank line of CR LF
  // would keep such a client until its deadline.
  for (std::size_t at = received.find('\n'); at != npos && at < headEnd;
       at = received.find('\n', at + 1)) {
    if (at == 0 || received[at - 1] != '\r') {
      check.refusal = 400;
      return check;
    }
  }
  if (blank == npos) {
    return check;
  }
  std::size_t bodyLength = 0;
  bool lengthSeen = false;
  std::size_t lineStart = received.find("\r\n") + 2;
  while (lineStart < blank + 2) {
    const std::size_t lineEnd = received.find("\r\n", lineStart);
    const std::string line = received.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 2;
    const std::size_t colon = line.find(':');
    if (colon == npos) {
      continue;
    }
    const std::string name = Lowercase(Trimmed(line.substr(0, colon)));
    const std::string value = Trimmed(line.substr(colon + 1));
    if (name == "transfer-encoding") {
      check.refusal = 411;
      return check;
    }
    if (name == "expect") {
      check.refusal = 417;
      return check;
    }
    if (name == "content-length") {
      if (value.empty() || value.size() > 12 || value.find_first_not_of("0123456789") != npos ||
          (lengthSeen && std::stoull(value) != bodyLength)) {
        check.refusal = 400;
        return check;
      }
      lengthSeen = true;
      bodyLength = std::stoull(value);
      if (bodyLength > limits.maxBodyBytes) {
        check.refusal = 413;
        return check;
      }
    }
    check.fields.emplace_back(name, value);
  }
  check.requestSize = headEnd + bodyLength;
  return check;
}

}  // namespace wassetup

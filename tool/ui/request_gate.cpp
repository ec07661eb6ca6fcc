#include "ui/request_gate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/session.h"
#include "core/signals.h"

namespace wassetup {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t npos = std::string::npos;
// How long a refused connection is still read (and what it sends dropped) so that the client
// reads the answer before the connection closes.
constexpr std::chrono::milliseconds kDrainTime{1000};
// How long a worker may take to write an answer to a client that does not read it.
constexpr int kWriteTimeoutSeconds = 2;

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

const char* ReasonPhrase(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
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
    default:
      return "Service Unavailable";
  }
}

// The whole answer of the gate: a status line, no data of the request.
std::string CannedAnswer(int status) {
  const std::string body = std::to_string(status) + " " + ReasonPhrase(status) + "\n";
  return "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void SendAnswer(int socket, int status) {
  const std::string answer = CannedAnswer(status);
  // Small enough for an empty send buffer; a client that filled it gets nothing.
  if (::send(socket, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
    return;
  }
}

void AddressOf(const sockaddr_in& address, std::string& text, int& port) {
  char buffer[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, buffer, sizeof buffer);
  text = buffer;
  port = ntohs(address.sin_port);
}

}  // namespace

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
    if (name != "content-length") {
      continue;
    }
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
  check.requestSize = headEnd + bodyLength;
  check.complete = received.size() >= check.requestSize;
  return check;
}

struct RequestGate::Impl {
  // A connection whose request is not yet read whole, or that was refused and is drained.
  struct Pending {
    int socket = -1;
    std::string clientAddress;
    int clientPort = 0;
    Clock::time_point deadline;
    std::string received;
    bool draining = false;
  };

  GateLimits limits;
  int listener = -1;
  int port = 0;
  std::string localAddress = "127.0.0.1";
  int wake[2] = {-1, -1};
  RequestHandler handler;
  std::thread acceptor;
  std::vector<std::thread> workers;
  std::list<Pending> pending;  // only the acceptor thread touches it
  std::atomic<std::size_t> cut{0};
  bool started = false;
  bool stopped = false;

  // Connections open in all and per client address, pending or with a worker.
  std::mutex countMutex;
  std::map<std::string, std::size_t> perClient;
  std::size_t open = 0;

  std::mutex queueMutex;
  std::condition_variable queueChanged;
  std::deque<WholeRequest> queue;
  bool stopping = false;

  void AcceptLoop();
  void AcceptAll();
  void Read(Pending& connection);
  void Refuse(Pending& connection, int status);
  void HandOver(Pending& connection, std::size_t requestSize);
  void Close(int socket, const std::string& clientAddress);
  bool Admit(const std::string& clientAddress);
  void WorkLoop();
};

bool RequestGate::Impl::Admit(const std::string& clientAddress) {
  std::lock_guard<std::mutex> lock(countMutex);
  std::size_t& fromClient = perClient[clientAddress];
  if (open >= limits.maxConnections || fromClient >= limits.maxPerClient) {
    if (fromClient == 0) {
      perClient.erase(clientAddress);
    }
    return false;
  }
  ++open;
  ++fromClient;
  return true;
}

void RequestGate::Impl::Close(int socket, const std::string& clientAddress) {
  ::close(socket);
  std::lock_guard<std::mutex> lock(countMutex);
  --open;
  if (--perClient[clientAddress] == 0) {
    perClient.erase(clientAddress);
  }
}

void RequestGate::Impl::AcceptAll() {
  for (;;) {
    sockaddr_in client{};
    socklen_t size = sizeof client;
    const int socket = ::accept4(listener, reinterpret_cast<sockaddr*>(&client), &size,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (socket < 0) {
      return;  // EAGAIN: accepted all; anything else: tried again at the next wake-up
    }
    Pending connection;
    connection.socket = socket;
    AddressOf(client, connection.clientAddress, connection.clientPort);
    if (!Admit(connection.clientAddress)) {
      SendAnswer(socket, 503);
      ::close(socket);
      ++cut;
      continue;
    }
    connection.deadline = Clock::now() + limits.deadline;
    pending.push_back(std::move(connection));
  }
}

void RequestGate::Impl::Refuse(Pending& connection, int status) {
  SendAnswer(connection.socket, status);
  ::shutdown(connection.socket, SHUT_WR);
  connection.draining = true;
  connection.deadline = Clock::now() + kDrainTime;
  std::string().swap(connection.received);
  ++cut;
}

void RequestGate::Impl::HandOver(Pending& connection, std::size_t requestSize) {
  WholeRequest request;
  request.socket = connection.socket;
  request.bytes = connection.received.substr(0, requestSize);
  request.clientAddress = connection.clientAddress;
  request.clientPort = connection.clientPort;
  request.localAddress = localAddress;
  request.localPort = port;
  ::fcntl(request.socket, F_SETFL, ::fcntl(request.socket, F_GETFL) & ~O_NONBLOCK);
  const timeval timeout{kWriteTimeoutSeconds, 0};
  ::setsockopt(request.socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  connection.socket = -1;
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    queue.push_back(std::move(request));
  }
  queueChanged.notify_one();
}

void RequestGate::Impl::Read(Pending& connection) {
  char buffer[16 * 1024];
  const ssize_t count = ::recv(connection.socket, buffer, sizeof buffer, 0);
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
    return;
  }
  if (count <= 0) {
    Close(connection.socket, connection.clientAddress);
    connection.socket = -1;
    return;
  }
  if (connection.draining) {
    return;
  }
  connection.received.append(buffer, static_cast<std::size_t>(count));
  const HeadCheck check = CheckHead(connection.received, limits);
  if (check.refusal != 0) {
    Refuse(connection, check.refusal);
  } else if (check.complete) {
    HandOver(connection, check.requestSize);
  }
}

void RequestGate::Impl::AcceptLoop() {
  SetBrokenPipeSignalBlocked(true);
  std::vector<pollfd> watched;
  std::vector<Pending*> owners;
  for (;;) {
    watched.assign({{wake[0], POLLIN, 0}, {listener, POLLIN, 0}});
    owners.assign(2, nullptr);
    Clock::time_point nearest = Clock::time_point::max();
    for (Pending& connection : pending) {
      watched.push_back({connection.socket, POLLIN, 0});
      owners.push_back(&connection);
      nearest = std::min(nearest, connection.deadline);
    }
    int timeout = -1;
    if (nearest != Clock::time_point::max()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(nearest - Clock::now()).count();
      timeout = static_cast<int>(std::max<long long>(0, left) + 1);
    }
    if (::poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) {
      break;
    }
    if (watched[0].revents != 0) {
      break;
    }
    for (std::size_t index = 2; index < watched.size(); ++index) {
      if (watched[index].revents != 0) {
        Read(*owners[index]);
      }
    }
    const Clock::time_point now = Clock::now();
    for (Pending& connection : pending) {
      if (connection.socket < 0 || connection.deadline > now) {
        continue;
      }
      if (connection.draining) {
        Close(connection.socket, connection.clientAddress);
        connection.socket = -1;
      } else {
        Refuse(connection, 408);
      }
    }
    pending.remove_if([](const Pending& connection) { return connection.socket < 0; });
    if (watched[1].revents != 0) {
      AcceptAll();
    }
  }
  for (Pending& connection : pending) {
    Close(connection.socket, connection.clientAddress);
  }
  pending.clear();
}

void RequestGate::Impl::WorkLoop() {
  SetBrokenPipeSignalBlocked(true);
  for (;;) {
    WholeRequest request;
    {
      std::unique_lock<std::mutex> lock(queueMutex);
      queueChanged.wait(lock, [this] { return stopping || !queue.empty(); });
      if (queue.empty()) {
        return;
      }
      request = std::move(queue.front());
      queue.pop_front();
    }
    if (!stopping) {
      handler(request);
    }
    ::shutdown(request.socket, SHUT_WR);
    Close(request.socket, request.clientAddress);
  }
}

RequestGate::RequestGate(int port, GateLimits limits) : impl_(std::make_unique<Impl>()) {
  impl_->limits = limits;
  if (port < 0 || port > 65535) {
    throw ToolError("--port takes 0 to 65535, not " + std::to_string(port));
  }
  const std::string where = "127.0.0.1:" + (port == 0 ? std::string("a free port")
                                                      : std::to_string(port) + " (is it in use?)");
  // SO_REUSEADDR only: SO_REUSEPORT would let another program of the same user listen on the
  // port too.
  impl_->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int yes = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (impl_->listener < 0 ||
      ::setsockopt(impl_->listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      ::bind(impl_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(impl_->listener, 64) != 0 ||
      ::getsockname(impl_->listener, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      ::pipe2(impl_->wake, O_CLOEXEC) != 0) {
    const int error = errno;
    Stop();
    throw ToolError("cannot listen on " + where + ": " + std::strerror(error));
  }
  impl_->port = ntohs(address.sin_port);
}

RequestGate::~RequestGate() {
  Stop();
}

int RequestGate::port() const {
  return impl_->port;
}

std::size_t RequestGate::CutConnections() const {
  return impl_->cut;
}

void RequestGate::Start(RequestHandler handler) {
  if (impl_->started) {
    return;
  }
  impl_->started = true;
  impl_->handler = std::move(handler);
  Impl* impl = impl_.get();
  impl_->acceptor = std::thread([impl] { impl->AcceptLoop(); });
  for (std::size_t index = 0; index < impl_->limits.workers; ++index) {
    impl_->workers.emplace_back([impl] { impl->WorkLoop(); });
  }
}

void RequestGate::Stop() {
  if (impl_->stopped) {
    return;
  }
  impl_->stopped = true;
  if (impl_->acceptor.joinable()) {
    const char byte = 1;
    while (::write(impl_->wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
    impl_->acceptor.join();
  }
  {
    std::lock_guard<std::mutex> lock(impl_->queueMutex);
    impl_->stopping = true;
  }
  impl_->queueChanged.notify_all();
  for (std::thread& worker : impl_->workers) {
    worker.join();
  }
  for (int descriptor : {impl_->listener, impl_->wake[0], impl_->wake[1]}) {
    if (descriptor >= 0) {
      ::close(descriptor);
    }
  }
  impl_->listener = impl_->wake[0] = impl_->wake[1] = -1;
}

}  // namespace wassetup

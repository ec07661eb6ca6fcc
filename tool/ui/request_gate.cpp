#include "ui/request_gate.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "core/session.h"
#include "host/platform/signals.h"

namespace wassetup {

namespace {

namespace platform = zaf::platform;

using Clock = std::chrono::steady_clock;

// How long a refused connection is still read (and what it sends dropped) so that the client
// reads the answer before the connection closes.
constexpr std::chrono::milliseconds kDrainTime{1000};
// How long a worker may take to write an answer to a client that does not read it.
constexpr std::chrono::milliseconds kWriteTimeout{2000};
// How long a new connection is never dropped to make room for a newcomer: the time to send its
// request, which the operator's browser does at once, though not in the same instant as it
// connects. Connections dropped at once would let a program that reconnects every connection
// it loses turn all the places over faster than that.
constexpr std::chrono::milliseconds kArrivalGrace{100};

// The whole answer of the gate: a status line, no data of the request.
std::string CannedAnswer(int status) {
  const std::string body = std::to_string(status) + " " + HttpReasonPhrase(status) + "\n";
  return "HTTP/1.1 " + std::to_string(status) + " " + HttpReasonPhrase(status) +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// On a connection still non-blocking. The answer is small enough for an empty send buffer; a
// client that filled it gets nothing.
void SendAnswer(const platform::Socket& socket, int status) {
  const std::string answer = CannedAnswer(status);
  platform::SendSome(socket, answer.data(), answer.size());
}

}  // namespace

struct RequestGate::Impl {
  // A connection whose request is not yet read whole, or that was refused and is drained.
  struct Pending {
    platform::Socket socket;
    platform::Endpoint client;
    Clock::time_point accepted;
    Clock::time_point lastByte;  // when the last bytes were read; at first, the accepting
    std::string received;
    std::size_t requestSize = 0;  // once the head is whole
    bool carriesSession = false;  // the whole head carries the operator's session
    bool draining = false;
    Clock::time_point drainEnd;
  };
  using PendingList = std::list<Pending>;

  GateLimits limits;
  platform::Socket listener;
  int port = 0;
  std::string localAddress = "127.0.0.1";
  // Stop wakes the accepting loop to end it.
  platform::Wakeup wake;
  RequestHandler handler;
  SessionTest carriesSession;
  std::thread acceptor;
  std::vector<std::thread> workers;
  PendingList pending;  // only the acceptor thread touches it
  std::atomic<std::size_t> cut{0};
  std::atomic<std::size_t> waiting{0};  // requests handed over whose connection is still open
  bool started = false;
  bool stopped = false;

  std::mutex queueMutex;
  std::condition_variable queueChanged;
  std::deque<WholeRequest> queue;
  bool stopping = false;

  void AcceptLoop();
  void AcceptAll();
  Clock::time_point ExpiryOf(const Pending& connection) const;
  PendingList::iterator Victim(Clock::time_point now);
  bool Room(Clock::time_point now);
  void Read(Pending& connection);
  void Refuse(Pending& connection, int status);
  void HandOver(Pending& connection);
  void WorkLoop();
};

Clock::time_point RequestGate::Impl::ExpiryOf(const Pending& connection) const {
  if (connection.draining) {
    return connection.drainEnd;
  }
  Clock::time_point expiry = connection.accepted + limits.deadline;
  if (connection.requestSize == 0) {
    expiry = std::min(
        {expiry, connection.accepted + limits.headDeadline, connection.lastByte + limits.byteGap});
  }
  return expiry;
}

// The connection to close when a newcomer needs its place: one refused and drained, else the
// one that has sent the least, of those the one silent longest. Never one that arrived within
// kArrivalGrace, nor one whose head carries the session: none is left when only such
// connections hold the places.
RequestGate::Impl::PendingList::iterator RequestGate::Impl::Victim(Clock::time_point now) {
  const auto order = [](const Pending& connection) {
    return std::make_tuple(!connection.draining, connection.received.size(), connection.lastByte);
  };
  auto victim = pending.end();
  for (auto candidate = pending.begin(); candidate != pending.end(); ++candidate) {
    if (candidate->socket && !candidate->carriesSession &&
        (candidate->draining || candidate->accepted + kArrivalGrace <= now) &&
        (victim == pending.end() || order(*candidate) < order(*victim))) {
      victim = candidate;
    }
  }
  return victim;
}

bool RequestGate::Impl::Room(Clock::time_point now) {
  return pending.size() < limits.maxConnections || Victim(now) != pending.end();
}

void RequestGate::Impl::AcceptAll() {
  // A bounded number of connections each round, so that a flood of them does not keep the
  // connections already accepted from being read. While no place can be made, newcomers wait
  // in the system's queue of the listening socket.
  for (std::size_t round = 0; round < limits.maxConnections; ++round) {
    pending.remove_if([](const Pending& connection) { return !connection.socket; });
    auto victim = pending.end();
    if (pending.size() >= limits.maxConnections) {
      victim = Victim(Clock::now());
      if (victim == pending.end()) {
        return;
      }
    }
    platform::Endpoint client;
    platform::Socket socket = platform::AcceptConnection(listener, client);
    if (!socket) {
      return;  // none waits: accepted all; a failure: tried again at the next wake-up
    }
    if (victim != pending.end()) {
      if (!victim->draining) {
        SendAnswer(victim->socket, 503);
        ++cut;
      }
      pending.erase(victim);
    }
    Pending& connection = pending.emplace_back();
    connection.socket = std::move(socket);
    connection.client = std::move(client);
    connection.accepted = connection.lastByte = Clock::now();
    // A client that sent its request along with the connection has it counted at once.
    Read(connection);
  }
}

void RequestGate::Impl::Refuse(Pending& connection, int status) {
  SendAnswer(connection.socket, status);
  platform::ShutdownSending(connection.socket);
  connection.draining = true;
  connection.drainEnd = Clock::now() + kDrainTime;
  std::string().swap(connection.received);
  ++cut;
}

void RequestGate::Impl::HandOver(Pending& connection) {
  if (!connection.carriesSession && waiting >= limits.maxWaiting) {
    Refuse(connection, 503);
    return;
  }
  ++waiting;
  WholeRequest request;
  request.socket = std::move(connection.socket);
  request.bytes = connection.received.substr(0, connection.requestSize);
  request.clientAddress = connection.client.address;
  request.clientPort = connection.client.port;
  request.localAddress = localAddress;
  request.localPort = port;
  platform::MakeBlocking(request.socket, kWriteTimeout);
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    queue.push_back(std::move(request));
  }
  queueChanged.notify_one();
}

void RequestGate::Impl::Read(Pending& connection) {
  char buffer[16 * 1024];
  const std::ptrdiff_t count = platform::ReceiveSome(connection.socket, buffer, sizeof buffer);
  if (count == platform::kWouldBlock) {
    return;
  }
  if (count <= 0) {
    connection.socket.Close();
    return;
  }
  if (connection.draining) {
    return;
  }
  connection.received.append(buffer, static_cast<std::size_t>(count));
  connection.lastByte = Clock::now();
  if (connection.requestSize == 0) {
    const HeadCheck check = CheckHead(connection.received, limits);
    if (check.refusal != 0) {
      Refuse(connection, check.refusal);
      return;
    }
    if (check.requestSize == 0) {
      return;
    }
    connection.requestSize = check.requestSize;
    connection.carriesSession = carriesSession && carriesSession(check.fields);
  }
  if (connection.received.size() >= connection.requestSize) {
    HandOver(connection);
  }
}

void RequestGate::Impl::AcceptLoop() {
  platform::SetBrokenPipeSignalBlocked(true);
  std::vector<platform::SocketWatch> watched;
  std::vector<Pending*> owners;
  for (;;) {
    // Without room, the listening socket is left alone until the first young connection may
    // be dropped.
    const bool room = Room(Clock::now());
    watched.assign({{&wake.socket(), true, false}, {&listener, room, false}});
    owners.assign(2, nullptr);
    Clock::time_point nearest = Clock::time_point::max();
    for (Pending& connection : pending) {
      watched.push_back({&connection.socket, true, false});
      owners.push_back(&connection);
      nearest = std::min(nearest, ExpiryOf(connection));
      if (!room && !connection.carriesSession) {
        nearest = std::min(nearest, connection.accepted + kArrivalGrace);
      }
    }
    std::chrono::milliseconds timeout{-1};
    if (nearest != Clock::time_point::max()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(nearest - Clock::now());
      timeout = std::max(std::chrono::milliseconds(0), left) + std::chrono::milliseconds(1);
    }
    if (!platform::WaitForSockets(watched, timeout) || watched[0].ready) {
      break;
    }
    for (std::size_t index = 2; index < watched.size(); ++index) {
      if (watched[index].ready) {
        Read(*owners[index]);
      }
    }
    const Clock::time_point now = Clock::now();
    for (Pending& connection : pending) {
      if (!connection.socket || ExpiryOf(connection) > now) {
        continue;
      }
      if (connection.draining) {
        connection.socket.Close();
      } else {
        Refuse(connection, 408);
      }
    }
    pending.remove_if([](const Pending& connection) { return !connection.socket; });
    if (watched[1].ready) {
      AcceptAll();
    }
  }
  pending.clear();
}

void RequestGate::Impl::WorkLoop() {
  platform::SetBrokenPipeSignalBlocked(true);
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
    platform::ShutdownSending(request.socket);
    request.socket.Close();
    --waiting;
  }
}

std::ptrdiff_t WriteToClient(const WholeRequest& request, const char* data, std::size_t size) {
  const std::ptrdiff_t sent = platform::SendSome(request.socket, data, size);
  return sent < 0 ? -1 : sent;
}

RequestGate::RequestGate(int port, GateLimits limits) : impl_(std::make_unique<Impl>()) {
  impl_->limits = limits;
  if (port < 0 || port > 65535) {
    throw ToolError("--port takes 0 to 65535, not " + std::to_string(port));
  }
  const std::string where = "127.0.0.1:" + (port == 0 ? std::string("a free port")
                                                      : std::to_string(port) + " (is it in use?)");
  // The system's queue of new connections is as long as it allows: newcomers that find no
  // place wait there for one, where a short queue would have the system drop them and their
  // clients try again only a second later.
  std::string reason;
  impl_->listener = platform::ListenOnLoopback(port, reason);
  if (!impl_->listener) {
    throw ToolError("cannot listen on " + where + ": " + reason);
  }
  if (!impl_->wake.IsOpen()) {
    throw ToolError("cannot listen on " + where + ": " + impl_->wake.Problem());
  }
  impl_->port = platform::LocalPort(impl_->listener);
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

void RequestGate::Start(RequestHandler handler, SessionTest carriesSession) {
  if (impl_->started) {
    return;
  }
  impl_->started = true;
  impl_->handler = std::move(handler);
  impl_->carriesSession = std::move(carriesSession);
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
    impl_->wake.Wake();
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
  impl_->listener.Close();
}

}  // namespace wassetup

// Loopback sockets on POSIX: BSD sockets, each close-on-exec from its creation, and poll(2).

#include "host/platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zaf::platform {

namespace {

int Native(const Socket& socket) {
  return static_cast<int>(socket.native());
}

std::ptrdiff_t Outcome(ssize_t count) {
  if (count >= 0) {
    return count;
  }
  return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : -1;
}

}  // namespace

void Socket::Close() {
  if (native_ != kNone) {
    ::close(static_cast<int>(std::exchange(native_, kNone)));
  }
}

Socket ListenOnLoopback(int port, std::string& reason) {
  Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const int yes = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!listener ||
      ::setsockopt(Native(listener), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      ::bind(Native(listener), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(Native(listener), SOMAXCONN) != 0) {
    reason = std::strerror(errno);
    listener.Close();
  }
  return listener;
}

int LocalPort(const Socket& socket) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

Socket AcceptConnection(const Socket& listener, Endpoint& peer) {
  sockaddr_in client{};
  socklen_t size = sizeof client;
  Socket connection(::accept4(Native(listener), reinterpret_cast<sockaddr*>(&client), &size,
                              SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (connection) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &client.sin_addr, text, sizeof text);
    peer.address = text;
    peer.port = ntohs(client.sin_port);
  }
  return connection;
}

std::ptrdiff_t ReceiveSome(const Socket& socket, char* buffer, std::size_t size) {
  ssize_t count;
  while ((count = ::recv(Native(socket), buffer, size, 0)) < 0 && errno == EINTR) {
  }
  return Outcome(count);
}

std::ptrdiff_t SendSome(const Socket& socket, const char* data, std::size_t size) {
  ssize_t count;
  while ((count = ::send(Native(socket), data, size, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  return Outcome(count);
}

void ShutdownSending(const Socket& socket) {
  ::shutdown(Native(socket), SHUT_WR);
}

void MakeBlocking(const Socket& socket, std::chrono::milliseconds timeout) {
  const int native = Native(socket);
  ::fcntl(native, F_SETFL, ::fcntl(native, F_GETFL) & ~O_NONBLOCK);
  const timeval limit{static_cast<time_t>(timeout.count() / 1000),
                      static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
  ::setsockopt(native, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

bool WaitForSockets(std::vector<SocketWatch>& watches, std::chrono::milliseconds timeout) {
  std::vector<pollfd> polled;
  polled.reserve(watches.size());
  for (SocketWatch& watch : watches) {
    watch.ready = false;
    // A negative descriptor is skipped by poll.
    polled.push_back({watch.read ? Native(*watch.socket) : -1, POLLIN, 0});
  }
  const int waited = static_cast<int>(timeout.count() < 0 ? -1 : timeout.count());
  if (::poll(polled.data(), polled.size(), waited) < 0) {
    return errno == EINTR;
  }
  for (std::size_t index = 0; index < watches.size(); ++index) {
    watches[index].ready = polled[index].revents != 0;
  }
  return true;
}

Wakeup::Wakeup() {
  int pair[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    problem_ = std::strerror(errno);
    return;
  }
  receiving_ = Socket(pair[0]);
  sending_ = Socket(pair[1]);
}

void Wakeup::Wake() const {
  const char byte = 1;
  while (::send(Native(sending_), &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno == EINTR) {
  }
}

void Wakeup::Wait() const {
  char byte = 0;
  while (::recv(Native(receiving_), &byte, 1, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace zaf::platform

// Loopback sockets on Windows: Winsock 2, started once for the process, and WSAPoll. Sockets
// are made with WSA_FLAG_NO_HANDLE_INHERIT, and an accepted one is made not inheritable too,
// so that no command started meanwhile holds a connection open.

#include "host/platform/sockets.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <mutex>

#include "host/platform/wide_text.h"

namespace zaf::platform {

namespace {

SOCKET Native(const Socket& socket) {
  return static_cast<SOCKET>(socket.native());
}

// Starts Winsock for the rest of the process; the error when it cannot.
int StartWinsock() {
  static std::once_flag started;
  static int error = 0;
  std::call_once(started, [] {
    WSADATA data;
    error = ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  return error;
}

std::string Reason(int error) {
  return SystemErrorText(static_cast<unsigned long>(error));
}

std::ptrdiff_t Outcome(int count) {
  if (count != SOCKET_ERROR) {
    return count;
  }
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : -1;
}

Socket NewSocket(int type, int protocol) {
  return Socket(static_cast<std::intptr_t>(::WSASocketW(
      AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT)));
}

void SetNonBlocking(const Socket& socket, bool nonBlocking) {
  u_long mode = nonBlocking ? 1 : 0;
  ::ioctlsocket(Native(socket), FIONBIO, &mode);
}

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

void Socket::Close() {
  if (native_ != kNone) {
    ::closesocket(static_cast<SOCKET>(std::exchange(native_, kNone)));
  }
}

Socket ListenOnLoopback(int port, std::string& reason) {
  if (const int error = StartWinsock(); error != 0) {
    reason = Reason(error);
    return Socket();
  }
  Socket listener = NewSocket(SOCK_STREAM, IPPROTO_TCP);
  const BOOL yes = TRUE;
  const sockaddr_in address = LoopbackAddress(port);
  if (!listener ||
      ::setsockopt(Native(listener), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&yes), sizeof yes) != 0 ||
      ::bind(Native(listener), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(Native(listener), SOMAXCONN) != 0) {
    reason = Reason(::WSAGetLastError());
    listener.Close();
    return listener;
  }
  SetNonBlocking(listener, true);
  return listener;
}

int LocalPort(const Socket& socket) {
  sockaddr_in address{};
  int size = sizeof address;
  if (::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return 0;
  }
  return ::ntohs(address.sin_port);
}

// An accepted socket takes the listener's non-blocking mode.
Socket AcceptConnection(const Socket& listener, Endpoint& peer) {
  sockaddr_in client{};
  int size = sizeof client;
  Socket connection(static_cast<std::intptr_t>(
      ::accept(Native(listener), reinterpret_cast<sockaddr*>(&client), &size)));
  if (connection.native() == static_cast<std::intptr_t>(INVALID_SOCKET)) {
    return Socket();
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(Native(connection)), HANDLE_FLAG_INHERIT, 0);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &client.sin_addr, text, sizeof text);
  peer.address = text;
  peer.port = ::ntohs(client.sin_port);
  return connection;
}

std::ptrdiff_t ReceiveSome(const Socket& socket, char* buffer, std::size_t size) {
  const int count = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
  return Outcome(::recv(Native(socket), buffer, count, 0));
}

std::ptrdiff_t SendSome(const Socket& socket, const char* data, std::size_t size) {
  const int count = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
  return Outcome(::send(Native(socket), data, count, 0));
}

void ShutdownSending(const Socket& socket) {
  ::shutdown(Native(socket), SD_SEND);
}

void MakeBlocking(const Socket& socket, std::chrono::milliseconds timeout) {
  SetNonBlocking(socket, false);
  const DWORD limit = static_cast<DWORD>(timeout.count());
  ::setsockopt(Native(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
               sizeof limit);
}

// WSAPoll is given only the sockets watched for reading: it may refuse an entry that asks for
// nothing.
bool WaitForSockets(std::vector<SocketWatch>& watches, std::chrono::milliseconds timeout) {
  std::vector<WSAPOLLFD> polled;
  std::vector<SocketWatch*> owners;
  polled.reserve(watches.size());
  owners.reserve(watches.size());
  for (SocketWatch& watch : watches) {
    watch.ready = false;
    if (watch.read) {
      polled.push_back({Native(*watch.socket), POLLRDNORM, 0});
      owners.push_back(&watch);
    }
  }
  const INT waited = static_cast<INT>(timeout.count() < 0 ? -1 : timeout.count());
  if (polled.empty()) {
    ::Sleep(waited < 0 ? INFINITE : static_cast<DWORD>(waited));
    return true;
  }
  if (::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), waited) == SOCKET_ERROR) {
    return false;
  }
  for (std::size_t index = 0; index < polled.size(); ++index) {
    owners[index]->ready = polled[index].revents != 0;
  }
  return true;
}

Wakeup::Wakeup() {
  if (const int error = StartWinsock(); error != 0) {
    problem_ = Reason(error);
    return;
  }
  Socket socket = NewSocket(SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in address = LoopbackAddress(0);
  int size = sizeof address;
  if (!socket ||
      ::bind(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      ::connect(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    problem_ = Reason(::WSAGetLastError());
    return;
  }
  receiving_ = std::move(socket);
}

void Wakeup::Wake() const {
  const char byte = 1;
  ::send(Native(receiving_), &byte, 1, 0);
}

void Wakeup::Wait() const {
  char byte = 0;
  ::recv(Native(receiving_), &byte, 1, 0);
}

}  // namespace zaf::platform

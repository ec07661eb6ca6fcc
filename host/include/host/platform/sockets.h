#pragma once
// TCP sockets on the loopback interface, for a server that serves this machine alone: the
// listening socket, its connections and the wait on many of them at once, and a wake-up that
// ends such a wait. On POSIX BSD sockets and poll(2); on Windows Winsock 2 (started with the
// first socket) and WSAPoll. No socket is handed to the commands the program starts: on POSIX
// each is close-on-exec from its creation, on Windows none is inheritable.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/zaf_export.h"

namespace zaf::platform {

// Owns one socket and closes it when it goes.
class ZAF_API Socket {
 public:
  Socket() = default;
  // Takes the system's socket `native` over (a descriptor on POSIX, a SOCKET on Windows).
  explicit Socket(std::intptr_t native) : native_(native) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : native_(std::exchange(other.native_, kNone)) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Close();
      native_ = std::exchange(other.native_, kNone);
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool IsOpen() const { return native_ != kNone; }
  explicit operator bool() const { return IsOpen(); }
  // The system's socket, for a library that wants it.
  std::intptr_t native() const { return native_; }
  void Close();

 private:
  // -1 on POSIX; INVALID_SOCKET, which is ~0, on Windows.
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t native_ = kNone;
};

// A peer of a connection: its IPv4 address as text and its port.
struct Endpoint {
  std::string address;
  int port = 0;
};

// A non-blocking socket listening on 127.0.0.1:port (0: a free port the system picks), with
// the longest queue of new connections the system allows. No other program may take the port
// while it listens: on POSIX SO_REUSEADDR only (no SO_REUSEPORT), on Windows
// SO_EXCLUSIVEADDRUSE. Closed when it cannot listen, and `reason` then says why.
ZAF_API Socket ListenOnLoopback(int port, std::string& reason);

// The port `socket` is bound to; 0 when it cannot be known.
ZAF_API int LocalPort(const Socket& socket);

// A connection waiting on `listener`, non-blocking, and its peer; closed when none waits.
ZAF_API Socket AcceptConnection(const Socket& listener, Endpoint& peer);

// What ReceiveSome and SendSome give for a non-blocking socket that cannot go on at once.
constexpr std::ptrdiff_t kWouldBlock = -2;

// Reads up to `size` bytes that have come: their count; 0 when the peer closed its side;
// kWouldBlock; -1 on failure.
ZAF_API std::ptrdiff_t ReceiveSome(const Socket& socket, char* buffer, std::size_t size);

// Sends up to `size` bytes: the count sent; kWouldBlock; -1 on failure, also when the peer went
// away (never a signal).
ZAF_API std::ptrdiff_t SendSome(const Socket& socket, const char* data, std::size_t size);

// Ends what `socket` sends; the peer reads the end after what was sent.
ZAF_API void ShutdownSending(const Socket& socket);

// Makes `socket` blocking, a send giving up after `timeout` (a peer that does not read).
ZAF_API void MakeBlocking(const Socket& socket, std::chrono::milliseconds timeout);

// One socket that WaitForSockets watches: for data, a connection or the peer's end when
// `read`, else not at all. `ready` says what it found.
struct SocketWatch {
  const Socket* socket = nullptr;
  bool read = true;
  bool ready = false;
};

// Waits until a watched socket is ready or `timeout` passes (negative: without end); false
// when the wait failed (not when it was interrupted by a signal, which counts as a timeout).
ZAF_API bool WaitForSockets(std::vector<SocketWatch>& watches, std::chrono::milliseconds timeout);

// A socket that Wake makes readable, to end a wait on sockets from another thread or from a
// signal handler (on Windows, a console control handler). On POSIX one end of a socket pair;
// on Windows a UDP socket on loopback connected to itself, which only its own datagrams reach.
class ZAF_API Wakeup {
 public:
  // IsOpen() is false when the system gave no sockets; Problem() then says why.
  Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  bool IsOpen() const { return receiving_.IsOpen(); }
  const std::string& Problem() const { return problem_; }
  // The socket to watch.
  const Socket& socket() const { return receiving_; }
  // Makes socket() readable. Safe in a signal handler and from any thread.
  void Wake() const;
  // Waits until Wake was called (at once when it already was), and takes its wake-up.
  void Wait() const;

 private:
  Socket receiving_;
  Socket sending_;  // POSIX: the other end of the pair; Windows: none (receiving_ sends)
  std::string problem_;
};

}  // namespace zaf::platform

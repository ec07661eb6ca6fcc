#pragma once
// The front of the dialog's HTTP server. One thread accepts the connections on 127.0.0.1 and
// waits on all of them at once, reading each request whole (head and body) within bounds; only
// a request read whole goes to a worker thread. A client that sends slowly, endlessly or not at
// all so holds a descriptor and a bounded buffer until its deadline, never a worker: the
// operator's requests are answered at once however many such clients there are. Every socket
// is close-on-exec from its creation, so no command started meanwhile inherits one.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace wassetup {

struct GateLimits {
  std::size_t maxHeadBytes = 16 * 1024;      // request line and headers; beyond: 431
  std::size_t maxHeaderLines = 64;           // header lines; beyond: 431
  std::size_t maxBodyBytes = 64 * 1024;      // Content-Length; beyond: 413
  std::chrono::milliseconds deadline{3000};  // from accepting to the last byte; then: 408
  std::size_t maxConnections = 64;           // open at once in all; beyond: 503
  std::size_t maxPerClient = 32;             // open at once from one client address; beyond: 503
  std::size_t workers = 4;                   // threads that answer requests read whole
};

// What the gate makes of the bytes received so far on a connection.
struct HeadCheck {
  int refusal = 0;              // the status to refuse with, or 0
  bool complete = false;        // the head and its body are all there
  std::size_t requestSize = 0;  // head and body, when complete
};

// Looks at the start of a request: the head must end within the limits, end its lines with
// CR LF, name no Transfer-Encoding (411) nor Expect (417), and carry at most one well-formed
// Content-Length.
HeadCheck CheckHead(const std::string& received, const GateLimits& limits);

// A request read whole: its bytes, and its connection (blocking, close-on-exec), which the
// gate closes once the handler has returned.
struct WholeRequest {
  int socket = -1;
  std::string bytes;
  std::string clientAddress;
  int clientPort = 0;
  std::string localAddress;
  int localPort = 0;
};

using RequestHandler = std::function<void(const WholeRequest& request)>;

class RequestGate {
 public:
  // Listens on 127.0.0.1:port (0: a free port). Throws ToolError when it cannot.
  RequestGate(int port, GateLimits limits);
  // Stops, as Stop does.
  ~RequestGate();
  RequestGate(const RequestGate&) = delete;
  RequestGate& operator=(const RequestGate&) = delete;

  int port() const;
  // Accepts connections from now on and hands each request read whole to `handler`, called
  // from the worker threads.
  void Start(RequestHandler handler);
  // Closes the listening socket and every connection; waits for the handlers that run.
  void Stop();
  // Connections the gate answered itself: too slow (408), too large (413, 431), too many
  // (503), or malformed (400, 411, 417).
  std::size_t CutConnections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wassetup

#pragma once
// The front of the dialog's HTTP server. One thread accepts the connections on 127.0.0.1 and
// waits on all of them at once, reading each request whole (head and body) within bounds; only
// a request read whole goes to a worker thread. A client that sends slowly, endlessly or not at
// all so holds a descriptor and a bounded buffer for a moment, never a worker; and when every
// place is taken, the connection that has sent the least makes room for the newcomer, so other
// programs cannot keep the operator out. The sockets are the host's (host/platform/sockets.h),
// which no command started meanwhile inherits.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/platform/sockets.h"

namespace wassetup {

struct GateLimits {
  std::size_t maxHeadBytes = 16 * 1024;          // request line and headers; beyond: 431
  std::size_t maxHeaderLines = 64;               // header lines; beyond: 431
  std::size_t maxBodyBytes = 64 * 1024;          // Content-Length; beyond: 413
  std::chrono::milliseconds byteGap{250};        // before each byte of the head; then: 408
  std::chrono::milliseconds headDeadline{1000};  // from accepting to the end of the head; 408
  std::chrono::milliseconds deadline{3000};      // from accepting to the last byte; then: 408
  std::size_t maxConnections = 64;  // being read at once; beyond, the one that sent least goes
  std::size_t maxWaiting = 64;      // read whole, not yet answered; beyond: 503 (not sessions)
  std::size_t workers = 4;          // threads that answer requests read whole
};

// The header lines of a request head: names in lower case, values without surrounding blanks.
using HeadFields = std::vector<std::pair<std::string, std::string>>;

// The reason phrase of an HTTP status the dialog answers with ("Not Found"); "Client Error" or
// "Server Error" for one it does not name.
const char* HttpReasonPhrase(int status);

// What the gate makes of the bytes received so far on a connection.
struct HeadCheck {
  int refusal = 0;              // the status to refuse with, or 0
  std::size_t requestSize = 0;  // head and body, once the head is whole; else 0
  HeadFields fields;            // once the head is whole
};

// Looks at the start of a request: the head must end within the limits, end its lines with
// CR LF, name no Transfer-Encoding (411) nor Expect (417), and carry at most one well-formed
// Content-Length.
HeadCheck CheckHead(const std::string& received, const GateLimits& limits);

// A request read whole: its bytes, and its connection (blocking), which the gate closes once
// the handler has returned.
struct WholeRequest {
  zaf::platform::Socket socket;
  std::string bytes;
  std::string clientAddress;
  int clientPort = 0;
  std::string localAddress;
  int localPort = 0;
};

// Writes up to `size` bytes of the answer to the request's connection, waiting at most the
// gate's write timeout for a client that does not read; the count written, or -1.
std::ptrdiff_t WriteToClient(const WholeRequest& request, const char* data, std::size_t size);

using RequestHandler = std::function<void(const WholeRequest& request)>;
// Whether a whole head carries the operator's session. Such a request is never the one dropped
// to make room, nor refused because too many wait for a worker. Called on the accepting thread.
using SessionTest = std::function<bool(const HeadFields& fields)>;

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
  void Start(RequestHandler handler, SessionTest carriesSession);
  // Closes the listening socket and every connection; waits for the handlers that run.
  void Stop();
  // Connections the gate answered itself: too slow (408), too large (413, 431), dropped for a
  // newcomer or too many waiting (503), or malformed (400, 411, 417).
  std::size_t CutConnections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wassetup

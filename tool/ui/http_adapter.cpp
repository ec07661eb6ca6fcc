#include "ui/http_adapter.h"

#include <algorithm>
#include <cstring>

namespace wassetup {

namespace {

// A request read whole by the gate, as the HTTP library reads it: from memory, while the
// answer goes to the connection.
class WholeRequestStream : public httplib::Stream {
 public:
  explicit WholeRequestStream(const WholeRequest& request) : request_(request) {}

  bool is_readable() const override { return true; }
  bool is_writable() const override { return true; }
  ssize_t read(char* buffer, size_t size) override {
    const std::size_t count = std::min(size, request_.bytes.size() - offset_);
    std::memcpy(buffer, request_.bytes.data() + offset_, count);
    offset_ += count;
    return static_cast<ssize_t>(count);
  }
  using httplib::Stream::write;
  ssize_t write(const char* data, size_t size) override {
    return static_cast<ssize_t>(WriteToClient(request_, data, size));
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = request_.clientAddress;
    port = request_.clientPort;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = request_.localAddress;
    port = request_.localPort;
  }
  socket_t socket() const override { return static_cast<socket_t>(request_.socket.native()); }

 private:
  const WholeRequest& request_;
  std::size_t offset_ = 0;
};

}  // namespace

void DialogHttp::Answer(const WholeRequest& request) {
  WholeRequestStream stream(request);
  bool closed = false;
  process_request(stream, /*close_connection=*/true, closed, [](httplib::Request&) {});
}

}  // namespace wassetup

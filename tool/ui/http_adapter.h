#pragma once
// The HTTP library's request processing, fed by the gate (ui/request_gate.h): the library
// parses, routes and answers each request that the gate has read whole, from memory, and its
// answer goes to the request's connection. The library's own listening loop is not used.

#include <httplib.h>

#include "ui/request_gate.h"

namespace wassetup {

class DialogHttp : public httplib::Server {
 public:
  // Parses `request`, runs its route and writes the answer; one request per connection.
  void Answer(const WholeRequest& request);
};

}  // namespace wassetup

#include "ui/routes.h"

#include <exception>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "core/safe_text.h"
#include "ui/embedded_page.h"
#include "ui/request_gate.h"

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;
using HandlerResponse = httplib::Server::HandlerResponse;

void Reply(httplib::Response& response, const UiReply& reply) {
  response.status = reply.status;
  response.set_content(JsonText(reply.body, -1), "application/json; charset=utf-8");
}

// The JSON body of a request; an empty body is an empty object.
bool ParseBody(const httplib::Request& request, httplib::Response& response, nlohmann::json& body) {
  if (request.body.empty()) {
    body = nlohmann::json::object();
    return true;
  }
  body = nlohmann::json::parse(request.body, nullptr, /*allow_exceptions=*/false);
  if (body.is_discarded()) {
    Reply(response, UiReply{400, Json{{"error", "the body is not a JSON document"}}});
    return false;
  }
  return true;
}

UiRequestFacts FactsOf(const httplib::Request& request) {
  UiRequestFacts facts = HeaderFacts([&request](const char* name) {
    std::vector<std::string> values;
    const std::size_t count = request.get_header_value_count(name);
    for (std::size_t index = 0; index < count; ++index) {
      values.push_back(request.get_header_value(name, index));
    }
    return values;
  });
  facts.method = request.method;
  facts.path = request.path;
  facts.code = request.get_param_value("code");
  return facts;
}

// Lets a request through to its route, answers the one that spends the code with the entry
// page and the session cookie, and refuses the rest with 403.
HandlerResponse Guard(UiAccess& access, std::atomic<std::size_t>& refused,
                      const httplib::Request& request, httplib::Response& response) {
  const UiAccess::Decision decision = access.Decide(FactsOf(request));
  if (decision.pass) {
    return HandlerResponse::Unhandled;
  }
  if (decision.enter) {
    const std::string nonce = RandomHex(16);
    response.set_header("Set-Cookie", access.SessionCookie());
    response.set_header("Content-Security-Policy",
                        "default-src 'none'; script-src 'nonce-" + nonce + "'");
    response.set_content(access.EntryPage(nonce), "text/html; charset=utf-8");
    return HandlerResponse::Handled;
  }
  // Nothing of the request reaches the terminal: its path and headers are anyone's text, and
  // escape sequences in them would act on the operator's terminal. The first refusal is told
  // with its fixed reason, the others only counted.
  if (refused++ == 0) {
    std::cerr << "wassetup: refused a request (" << decision.refusal
              << "); further refusals are counted until the server stops\n";
  }
  response.status = 403;
  response.set_content("Forbidden: " + decision.refusal + "\n", "text/plain; charset=utf-8");
  return HandlerResponse::Handled;
}

void InstallRoutes(httplib::Server& http, UiBackend& backend) {
  http.Get("/", [](const httplib::Request&, httplib::Response& response) {
    const std::string nonce = RandomHex(16);
    response.set_header("Content-Security-Policy", UiPageSecurityPolicy(nonce));
    response.set_content(UiPageDocument(nonce), "text/html; charset=utf-8");
  });
  http.Get("/api/form", [&backend](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.Form());
  });
  http.Get("/api/folders",
           [&backend](const httplib::Request& request, httplib::Response& response) {
             Reply(response, backend.Folders(request.get_param_value("path"),
                                             request.get_param_value("hidden") == "1"));
           });
  http.Get("/api/plan", [&backend](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.Plan());
  });
  http.Get("/api/deploy", [&backend](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.DeployProgress());
  });

  using Action = UiReply (UiBackend::*)(const nlohmann::json&);
  const std::pair<const char*, Action> actions[] = {
      {"/api/type", &UiBackend::Type},
      {"/api/toggle", &UiBackend::Toggle},
      {"/api/press", &UiBackend::Press},
      {"/api/deploy", &UiBackend::StartDeploy},
  };
  for (const auto& [path, action] : actions) {
    http.Post(path, [&backend, action = action](const httplib::Request& request,
                                                httplib::Response& response) {
      nlohmann::json body;
      if (ParseBody(request, response, body)) {
        Reply(response, (backend.*action)(body));
      }
    });
  }
  for (const bool ok : {true, false}) {
    http.Post(ok ? "/api/chooser/ok" : "/api/chooser/cancel",
              [&backend, ok](const httplib::Request& request, httplib::Response& response) {
                nlohmann::json body;
                if (ParseBody(request, response, body)) {
                  Reply(response, backend.CloseChooser(body, ok));
                }
              });
  }
  http.Post("/api/validate", [&backend](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.Validate());
  });
  http.Post("/api/save", [&backend](const httplib::Request&, httplib::Response& response) {
    Reply(response, backend.Save());
  });
}

}  // namespace

void InstallDialogRoutes(httplib::Server& http, UiBackend& backend, UiAccess& access,
                         std::atomic<std::size_t>& refused) {
  http.set_payload_max_length(GateLimits{}.maxBodyBytes);
  http.set_default_headers({{"Cache-Control", "no-store"},
                            {"X-Content-Type-Options", "nosniff"},
                            {"Referrer-Policy", "no-referrer"},
                            {"X-Frame-Options", "DENY"}});
  http.set_pre_routing_handler(
      [&access, &refused](const httplib::Request& request, httplib::Response& response) {
        return Guard(access, refused, request, response);
      });
  // Every answer of 400 and above without a body of its own gets a line of text.
  http.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) {
          return HandlerResponse::Unhandled;
        }
        response.set_content(
            std::to_string(response.status) + " " + HttpReasonPhrase(response.status) + "\n",
            "text/plain; charset=utf-8");
        return HandlerResponse::Handled;
      }));
  http.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr thrown) {
        std::string why = "unknown error";
        try {
          std::rethrow_exception(std::move(thrown));
        } catch (const std::exception& error) {
          why = error.what();
        } catch (...) {
        }
        Reply(response, UiReply{500, Json{{"error", why}}});
      });
  InstallRoutes(http, backend);
}

}  // namespace wassetup

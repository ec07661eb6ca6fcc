#pragma once
// What the dialog's server answers, on the HTTP library's server: the access guard that every
// request meets first (ui/access.h), the page, the page's calls onto the backend
// (ui/backend.h), and a line of text for every error without a body of its own.

#include <atomic>
#include <cstddef>

#include <httplib.h>

#include "ui/access.h"
#include "ui/backend.h"

namespace wassetup {

// Installs the guard, the routes and the headers every answer carries on `http`. Each request
// refused by `access` is counted in `refused`; only the first is told on stderr, with its fixed
// reason. `backend`, `access` and `refused` must outlive `http`'s serving.
void InstallDialogRoutes(httplib::Server& http, UiBackend& backend, UiAccess& access,
                         std::atomic<std::size_t>& refused);

}  // namespace wassetup

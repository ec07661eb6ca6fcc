#pragma once
// The form as the operator sees it: as text, page by page, and as a JSON document of every
// widget.

#include <ostream>

#include <nlohmann/json.hpp>

#include "core/secrets.h"
#include "host/zaf_dialog.h"

namespace wassetup {

// Pages and frames with their titles, each label with its editor's text, check buttons as
// [x] or [ ], greyed-out frames marked. `color` makes the headings bold.
void PrintForm(std::ostream& out, const ZAFDlgTabContainer& form, const Secrets& secrets,
               bool color);

// {"format_version", "widgets": [...]}: every widget below the container.
nlohmann::ordered_json FormDocument(const ZAFDlgTabContainer& form, const Secrets& secrets);

}  // namespace wassetup

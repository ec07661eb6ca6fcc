#pragma once
// The form as the operator sees it, as text, page by page (core/documents.h has it as a
// document).

#include <ostream>

#include "host/zaf_dialog.h"

namespace wassetup {

// Pages and frames with their titles, each label with its editor's text, check buttons as
// [x] or [ ], greyed-out frames marked. `color` makes the headings bold. A masked editor's
// text shows as ******** (empty when it holds blanks only) unless `reveal`.
void PrintForm(std::ostream& out, const ZAFDlgTabContainer& form, bool reveal, bool color);

}  // namespace wassetup

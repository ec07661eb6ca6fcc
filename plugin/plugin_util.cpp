#include "plugin_util.h"

#include <string>
#include <utility>

#include "host/zaf_system.h"

namespace qim {

ZAFUnicodeString StrippedText(const ZAFDlgEditor* editor) {
  if (editor == nullptr) {
    return ZAFUnicodeString();
  }
  return editor->GetText().Strip(ZAF_STRIP_BOTH, U' ');
}

bool IsChecked(const ZAFDlgCheckButton* button) {
  return button != nullptr && button->GetState() == ZAF_CHECKED;
}

ZAFUnicodeString JoinPath(const ZAFUnicodeString& directory, const ZAFUnicodeString& name) {
  return JoinPath(directory, name.c_str());
}

ZAFUnicodeString JoinPath(const ZAFUnicodeString& directory, const char* name) {
  char* joined = nullptr;
  ZAFMakePath(directory.c_str(), name != nullptr ? name : "", &joined);
  // The joined text belongs to the host; a failed join gives the empty path.
  return ZAFUnicodeString(joined != nullptr ? joined : "");
}

ZAFUnicodeString Quoted(const ZAFUnicodeString& text) {
  std::string quoted;
  quoted.reserve(text.str().size() + 2);
  quoted += '\'';
  quoted += text.str();
  quoted += '\'';
  return ZAFUnicodeString(std::move(quoted));
}

}  // namespace qim

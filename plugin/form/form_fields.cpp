// Field transfer: the thirty-three settings move between the host's key and value lists and
// the check buttons and editors of the form.

#include <cstddef>
#include <iterator>
#include <string_view>

#include "QimSetupPlugIn.h"
#include "plugin_util.h"

// One setting: its key and the widget member that shows it, either a check button (the value
// travels as "true" or "false") or an editor (the value is the text).
struct QimSetupPlugIn::SettingField {
  constexpr SettingField(const char* settingKey, ZAFDlgCheckButton* QimSetupPlugIn::*button)
      : key(settingKey), checkButton(button) {}
  constexpr SettingField(const char* settingKey, ZAFDlgEditor* QimSetupPlugIn::*textEditor)
      : key(settingKey), editor(textEditor) {}

  // The row of `settingKey`, compared exactly (letter case included), or null. Stored
  // settings come back in the table's order, so the row at `likelyRow` is tried first.
  static const SettingField* ForKey(const ZAFUnicodeString& settingKey, std::size_t likelyRow);

  // The value the widget shows: "true"/"false", or the editor's text without outer blanks. A
  // missing widget reads as unchecked or empty.
  ZAFUnicodeString ValueIn(const QimSetupPlugIn& plugin) const;
  // Shows `value` in the widget; a missing widget is skipped.
  void ShowIn(QimSetupPlugIn& plugin, const ZAFUnicodeString& value) const;

  const char* key;
  ZAFDlgCheckButton* QimSetupPlugIn::*checkButton = nullptr;
  ZAFDlgEditor* QimSetupPlugIn::*editor = nullptr;
};

namespace {
// Short for the class whose members the tables point into.
using Q = QimSetupPlugIn;
}  // namespace

// The settings in the order GetUserInterfaceFields lists them (and so the order in which they
// are stored). "enableRS" of the installation defaults has no widget and so no row.
const QimSetupPlugIn::SettingField QimSetupPlugIn::SettingFields[] = {
    {"enablePlugIn", &Q::EnableQimPlugIn},
    {"enableCT", &Q::EnableCreateDatabase},
    {"databaseName", &Q::DatabaseNameEditor},
    {"databaseHost", &Q::DatabaseHostEditor},
    {"databasePort", &Q::DatabasePortEditor},
    {"databaseUser", &Q::DatabaseUserEditor},
    {"databasePassword", &Q::DatabasePasswordEditor},
    {"jndiName", &Q::JndiNameEditor},
    {"qimdirrt", &Q::QIMRTEditor},
    {"qimdir", &Q::QIMEditor},
    {"nuvdir", &Q::NUVEditor},
    {"mqsdir", &Q::MQSEditor},
    {"mqwfdir", &Q::MQWFEditor},
    {"wasdir", &Q::WASEditor},
    {"javahome", &Q::JHOMEEditor},
    {"mqscfg", &Q::MsqCfgEditor},
    {"mquser", &Q::MsqUserEditor},
    {"mqpass", &Q::MsqPassEditor},
    {"smtp", &Q::SMTPEditor},
    {"nuvserver", &Q::NUVNavServerEditor},
    {"nuvport", &Q::NUVNavPortEditor},
    {"nuvservlet", &Q::NUVNavServletEditor},
    {"qimmq", &Q::QIMMQNameEditor},
    {"qimdlq", &Q::QIMMQDLEditor},
    {"qimip", &Q::QIMIPEditor},
    {"qimport", &Q::QIMPortEditor},
    {"waittime", &Q::MsqWTEditor},
    {"nuvmq", &Q::NUVMQNameEditor},
    {"nuvdlq", &Q::NUVMQDLEditor},
    {"nuvip", &Q::NUVIPEditor},
    {"nuvmqport", &Q::NUVPortEditor},
    {"fmcip", &Q::FMCIPEditor},
    {"fmcport", &Q::FMCPortEditor},
};

const QimSetupPlugIn::SettingField* QimSetupPlugIn::SettingField::ForKey(
    const ZAFUnicodeString& settingKey, std::size_t likelyRow) {
  // A null key names no setting; every other key is compared as its bytes.
  if (settingKey.IsNull()) {
    return nullptr;
  }
  const std::string_view key = settingKey.str();
  if (likelyRow < std::size(SettingFields) && key == SettingFields[likelyRow].key) {
    return &SettingFields[likelyRow];
  }
  for (const SettingField& field : SettingFields) {
    if (key == field.key) {
      return &field;
    }
  }
  return nullptr;
}

ZAFUnicodeString QimSetupPlugIn::SettingField::ValueIn(const QimSetupPlugIn& plugin) const {
  if (checkButton != nullptr) {
    return qim::IsChecked(plugin.*checkButton) ? "true" : "false";
  }
  return qim::StrippedText(plugin.*editor);
}

void QimSetupPlugIn::SettingField::ShowIn(QimSetupPlugIn& plugin,
                                          const ZAFUnicodeString& value) const {
  if (checkButton != nullptr) {
    if (ZAFDlgCheckButton* button = plugin.*checkButton) {
      button->SetState(value == "true" ? ZAF_CHECKED : ZAF_UNCHECKED, 1);
    }
  } else if (ZAFDlgEditor* textEditor = plugin.*editor) {
    // Texts go into the editor as they are; blanks are dropped only when read back.
    textEditor->SetText(value, 1);
  }
}

// Pairs are applied in list order, so the last value of a repeated key wins. Keys outside the
// table and pairs without a value are skipped.
void QimSetupPlugIn::SetUserInterfaceFields(const ZAFListValZAFUnicodeString& keys,
                                            const ZAFListValZAFUnicodeString& values) {
  for (int position = 1; position <= keys.Size() && position <= values.Size(); ++position) {
    const std::size_t likelyRow = static_cast<std::size_t>(position - 1);
    if (const SettingField* field = SettingField::ForKey(keys[position], likelyRow)) {
      field->ShowIn(*this, values[position]);
    }
  }
}

// Every read of the form also stores it, so the next build starts from what the operator saw.
// The lists are complete whether or not the store succeeded.
void QimSetupPlugIn::GetUserInterfaceFields(ZAFListValZAFUnicodeString& keys,
                                            ZAFListValZAFUnicodeString& values) {
  static_assert(std::size(SettingFields) == 33, "the form carries 33 settings");
  keys.RemoveAll();
  values.RemoveAll();
  for (const SettingField& field : SettingFields) {
    keys.Append(field.key);
    values.Append(field.ValueIn(*this));
  }
  WritePrefToRepository(keys, values);
}

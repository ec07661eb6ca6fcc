// The callbacks of the form: greying the form out with its check button, and the directory
// choosers of the setup page's browse buttons.

#include <iterator>

#include "QimSetupPlugIn.h"

// One browse button of the setup frame: the callback its press runs, the chooser that opens,
// the editor the chooser starts from and writes, and the callback of the chooser's OK.
struct QimSetupPlugIn::BrowseRow {
  ZAFDlgPushButton* QimSetupPlugIn::*button;
  FormCallback browse;
  const char* chooserName;
  ZAFDlgEditor* QimSetupPlugIn::*editor;
  FormCallback choose;

  // The row whose `column` holds `callback`.
  static const BrowseRow& WithCallback(FormCallback BrowseRow::*column, FormCallback callback);
};

namespace {
// Short for the class whose members the tables point into.
using Q = QimSetupPlugIn;

template <typename MemberCallback>
ZAFCommand::Callback AsCallback(MemberCallback callback) {
  return static_cast<ZAFCommand::Callback>(callback);
}

// Destroys a chooser once the notification it sent has been handled.
void CloseChooser(ZAFCommand* chooser) {
  if (auto* dialog = dynamic_cast<ZAFDialog*>(chooser)) {
    dialog->RequestDelayedDestruction();
  }
}
}  // namespace

// In the order the buttons' callbacks are registered (JHOME before WAS).
const QimSetupPlugIn::BrowseRow QimSetupPlugIn::BrowseRows[] = {
    {&Q::BrowseQIMRT, &Q::OnBrowseQIMRT, "BrowseQimRT", &Q::QIMRTEditor, &Q::OnSetQIMRT},
    {&Q::BrowseQIM, &Q::OnBrowseQIM, "BrowseQim", &Q::QIMEditor, &Q::OnSetQIM},
    {&Q::BrowseMQS, &Q::OnBrowseMQS, "BrowseMqs", &Q::MQSEditor, &Q::OnSetMQSDir},
    {&Q::BrowseNUV, &Q::OnBrowseNUV, "BrowseNuv", &Q::NUVEditor, &Q::OnSetNUVDir},
    {&Q::BrowseMQWF, &Q::OnBrowseMQWF, "BrowseMqwf", &Q::MQWFEditor, &Q::OnSetMQWFDir},
    {&Q::BrowseJHOME, &Q::OnBrowseJHOME, "BrowseJHome", &Q::JHOMEEditor, &Q::OnSetJHOMEDir},
    {&Q::BrowseWAS, &Q::OnBrowseWAS, "BrowseWas", &Q::WASEditor, &Q::OnSetWASDir},
};

// Each callback names itself to find its row, so a callback cannot drift from its row.
const QimSetupPlugIn::BrowseRow& QimSetupPlugIn::BrowseRow::WithCallback(
    FormCallback BrowseRow::*column, FormCallback callback) {
  for (const BrowseRow& row : BrowseRows) {
    if (row.*column == callback) {
      return row;
    }
  }
  return BrowseRows[0];  // not reached: every browse and set callback has its row
}

void QimSetupPlugIn::RegisterFormCallbacks() {
  static_assert(std::size(BrowseRows) == 7, "seven browse buttons");
  if (EnableQimPlugIn != nullptr) {
    AddAnalyseNotificationCB(EnableQimPlugIn, EnableQimPlugIn->GetChkBModifyNotification(),
                             AsCallback(&Q::OnEnable), nullptr);
  }
  for (const BrowseRow& row : BrowseRows) {
    if (ZAFDlgPushButton* button = this->*row.button) {
      AddAnalyseNotificationCB(button, button->GetPushBActivateNotification(),
                               AsCallback(row.browse), nullptr);
    }
  }
}

// Everything inside a frame follows the frame; the check button itself lies on the page, so it
// stays usable and the form can always be switched back on.
void QimSetupPlugIn::OnEnable(ZAFCommand* /*publisher*/, ZAFNotification* /*notification*/,
                              void* /*data*/) {
  const int sensitivity = IsPlugInEnabled() ? ZAF_SENSITIVE : ZAF_INSENSITIVE;
  for (ZAFDlgFrame* frame : {QimSetupFrame, DatabaseFrame, MessageQueuesFrame}) {
    if (frame != nullptr) {
      frame->SetSensitivity(sensitivity);
    }
  }
}

// The plug-in keeps no reference to the chooser: it comes back as the publisher of its OK or
// Cancel, whose callbacks ask for its destruction. A chooser is opened only inside the setup
// frame, because only through the frame's page do its notifications reach the plug-in.
void QimSetupPlugIn::OpenDirectoryChooser(FormCallback browseCallback) {
  const BrowseRow& row = BrowseRow::WithCallback(&BrowseRow::browse, browseCallback);
  if (QimSetupFrame == nullptr) {
    return;
  }
  auto* chooser = new ZAFDlgFile(QimSetupFrame, row.chooserName, ZAF_STYLE_DIR_CHOOSER);
  if (chooser == nullptr) {
    return;
  }
  const ZAFDlgEditor* editor = this->*row.editor;
  chooser->SetDirectory(editor != nullptr ? editor->GetText() : ZAFUnicodeString());
  chooser->SetVisibility(ZAF_VISIBLE);
  AddAnalyseNotificationCB(chooser, chooser->GetDiaOKNotification(), AsCallback(row.choose),
                           nullptr);
  AddAnalyseNotificationCB(chooser, chooser->GetDiaCANCELNotification(),
                           AsCallback(&Q::OnCancelQIM), nullptr);
}

// The chosen directory replaces the editor's whole text as it is.
void QimSetupPlugIn::TakeChosenDirectory(FormCallback chooseCallback, ZAFCommand* chooser) {
  const BrowseRow& row = BrowseRow::WithCallback(&BrowseRow::choose, chooseCallback);
  auto* fileChooser = dynamic_cast<ZAFDlgFile*>(chooser);
  ZAFDlgEditor* editor = this->*row.editor;
  if (fileChooser != nullptr && editor != nullptr) {
    editor->SetText(fileChooser->GetDirectory(), 0);
  }
  CloseChooser(chooser);
}

void QimSetupPlugIn::OnCancelQIM(ZAFCommand* publisher, ZAFNotification*, void*) {
  CloseChooser(publisher);
}

void QimSetupPlugIn::OnBrowseQIMRT(ZAFCommand*, ZAFNotification*, void*) {
  OpenDirectoryChooser(&Q::OnBrowseQIMRT);
}
void QimSetupPlugIn::OnBrowseQIM(ZAFCommand*, ZAFNotification*, void*) {
  OpenDirectoryChooser(&Q::OnBrowseQIM);
}
void QimSetupPlugIn::OnBrowseMQS(ZAFCommand*, ZAFNotification*, void*) {
  OpenDirectoryChooser(&Q::OnBrowseMQS);
}
void QimSetupPlugIn::OnBrowseNUV(ZAFCommand*, ZAFNotification*, void*) {
  OpenDirectoryChooser(&Q::OnBrowseNUV);
}
void QimSetupPlugIn::OnBrowseMQWF(ZAFCommand*, ZAFNotification*, void*) {
  OpenDirectoryChooser(&Q::OnBrowseMQWF);
}
void QimSetupPlugIn::OnBrowseWAS(ZAFCommand*, ZAFNotification*, void*) {
  OpenDirectoryChooser(&Q::OnBrowseWAS);
}
void QimSetupPlugIn::OnBrowseJHOME(ZAFCommand*, ZAFNotification*, void*) {
  OpenDirectoryChooser(&Q::OnBrowseJHOME);
}

void QimSetupPlugIn::OnSetQIMRT(ZAFCommand* chooser, ZAFNotification*, void*) {
  TakeChosenDirectory(&Q::OnSetQIMRT, chooser);
}
void QimSetupPlugIn::OnSetQIM(ZAFCommand* chooser, ZAFNotification*, void*) {
  TakeChosenDirectory(&Q::OnSetQIM, chooser);
}
void QimSetupPlugIn::OnSetMQSDir(ZAFCommand* chooser, ZAFNotification*, void*) {
  TakeChosenDirectory(&Q::OnSetMQSDir, chooser);
}
void QimSetupPlugIn::OnSetNUVDir(ZAFCommand* chooser, ZAFNotification*, void*) {
  TakeChosenDirectory(&Q::OnSetNUVDir, chooser);
}
void QimSetupPlugIn::OnSetMQWFDir(ZAFCommand* chooser, ZAFNotification*, void*) {
  TakeChosenDirectory(&Q::OnSetMQWFDir, chooser);
}
void QimSetupPlugIn::OnSetWASDir(ZAFCommand* chooser, ZAFNotification*, void*) {
  TakeChosenDirectory(&Q::OnSetWASDir, chooser);
}
void QimSetupPlugIn::OnSetJHOMEDir(ZAFCommand* chooser, ZAFNotification*, void*) {
  TakeChosenDirectory(&Q::OnSetJHOMEDir, chooser);
}

// The three tab pages of the form: their 77 widgets, created, titled and placed from one
// table, then wired to their callbacks and filled from the stored settings or the defaults.

#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "QimSetupPlugIn.h"

namespace {
// Short for the class whose members the tables point into.
using Q = QimSetupPlugIn;

// How a table row reaches the member that holds its widget, whatever the widget's class:
// `create` makes the widget into the member, `get` reads the member back.
struct WidgetSlot {
  ZAFDialog* (*create)(Q& plugin, ZAFDialog* parent, const char* name, std::uint32_t style);
  ZAFDialog* (*get)(const Q& plugin);
};

// The host's allocator may fail; the member is then null and stays so.
template <typename Widget, Widget* Q::*Member>
ZAFDialog* CreateInto(Q& plugin, ZAFDialog* parent, const char* name, std::uint32_t style) {
  plugin.*Member = new Widget(parent, name, style);
  return plugin.*Member;
}

template <typename Widget, Widget* Q::*Member>
ZAFDialog* ReadFrom(const Q& plugin) {
  return plugin.*Member;
}

// The slot of `Member`, which holds a `Widget`. The class stands in the table row, and the
// compiler checks it against the member's type.
template <typename Widget, Widget* Q::*Member>
constexpr WidgetSlot Slot{&CreateInto<Widget, Member>, &ReadFrom<Widget, Member>};

// The parent a widget is made in: a page, a frame, or the host's tab container for a page.
struct WidgetParent {
  constexpr WidgetParent() = default;
  constexpr WidgetParent(ZAFDlgTabPage* Q::*parentPage) : page(parentPage) {}
  constexpr WidgetParent(ZAFDlgFrame* Q::*parentFrame) : frame(parentFrame) {}

  ZAFDlgTabPage* Q::*page = nullptr;
  ZAFDlgFrame* Q::*frame = nullptr;
};
constexpr WidgetParent kTabContainer{};

// A place in the parent's grid, in the order SetGridConstraints takes it.
struct GridPlace {
  std::uint16_t row;
  std::uint16_t column;
  std::uint16_t columnSpan;
  std::uint16_t rowSpan;
  std::uint32_t justification;
};
// Pages sit on the tabs of the host's container, not in a grid: they get no place.
constexpr GridPlace kOnTab{0, 0, 0, 0, 0};

constexpr std::uint32_t kPlain = ZAF_STYLE_PLAIN;
constexpr std::uint32_t kGrid = ZAF_STYLE_GRID;
constexpr std::uint32_t kPassword = ZAF_STYLE_PASSWORD;
constexpr std::uint32_t kFill = ZAF_JUSTIFY_FILL;    // 0x1E
constexpr std::uint32_t kLabel = ZAF_JUSTIFY_LABEL;  // 0x7A
constexpr const char* kNoTitle = nullptr;            // editors show no title

enum class GridAxis { kRow, kColumn };

// A row or column of a page's or a frame's grid that takes the extra space when the dialog
// grows. It is set once every widget of the page `afterPage` has its place.
struct GridStretch {
  const char* afterPage;
  const char* grid;
  GridAxis axis;
  int index;
};

// clang-format off
constexpr GridStretch kGridStretches[] = {
  // after the widgets of      stretch the grid of       axis               index
  {"QIMSetupPage",             "QimSetupFrame",          GridAxis::kColumn, 1},
  {"QIMSetupPage",             "QIMSetupPage",           GridAxis::kColumn, 1},
  {"QIMDatabasePage",          "QIMDatabasePage",        GridAxis::kColumn, 1},
  {"QIMDatabasePage",          "DatabaseFrame",          GridAxis::kColumn, 1},
  {"QIMMessageQueuesPage",     "QIMMessageQueuesPage",   GridAxis::kRow,    0},
  {"QIMMessageQueuesPage",     "QIMMessageQueuesPage",   GridAxis::kColumn, 1},
};
// clang-format on

bool SameName(const char* left, const char* right) {
  return left != nullptr && right != nullptr && std::strcmp(left, right) == 0;
}
}  // namespace

// One widget of the form: the member that holds it (with its class), its resource name, its
// parent, its style, the catalog key of its title and its place in the parent's grid.
struct QimSetupPlugIn::FormWidget {
  WidgetSlot widget;
  const char* name;
  WidgetParent parent;
  std::uint32_t style;
  const char* titleKey;
  GridPlace grid;

  static const FormWidget* Named(const char* resourceName);

  bool IsPage() const { return parent.page == nullptr && parent.frame == nullptr; }
  void Create(QimSetupPlugIn& plugin, ZAFDlgTabContainer* container) const;
  void Place(const QimSetupPlugIn& plugin) const;
  // Stretches the grids that wait for the widgets of this page to be placed.
  void StretchGrids(const QimSetupPlugIn& plugin) const;
};

// Page by page: each page's row comes before the widgets that lie on it, and those come in
// the order they are created.
// clang-format off
const QimSetupPlugIn::FormWidget QimSetupPlugIn::FormWidgets[] = {
  // widget (class, member)                         resource name             parent                    style      title key                       grid place
  // The setup page: its check button, then a frame whose rows each hold a label, an editor
  // and a browse button for one directory.
  {Slot<ZAFDlgTabPage, &Q::QIMSetupPage>,             "QIMSetupPage",           kTabContainer,            kGrid,     "QIMSetupPage.Title",           kOnTab},
  {Slot<ZAFDlgCheckButton, &Q::EnableQimPlugIn>,      "EnableQimPlugIn",        &Q::QIMSetupPage,         kPlain,    "EnableQIMPlugIn.Title",        {0, 0, 1, 1, kFill}},
  {Slot<ZAFDlgFrame, &Q::QimSetupFrame>,              "QimSetupFrame",          &Q::QIMSetupPage,         kGrid,     "QimSetupFrame.Title",          {1, 0, 2, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::QIMRunTimeLabel>,            "QIMRunTimeLabel",        &Q::QimSetupFrame,        kPlain,    "QIMRunTimeLabel.Title",        {0, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::QIMRTEditor>,               "QIMRTEditor",            &Q::QimSetupFrame,        kPlain,    kNoTitle,                       {0, 1, 1, 1, kFill}},
  {Slot<ZAFDlgPushButton, &Q::BrowseQIMRT>,           "BrowseQIMRT",            &Q::QimSetupFrame,        kPlain,    "BrowseQIMRT.Title",            {0, 2, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::QIMInstallLabel>,            "QIMInstallLabel",        &Q::QimSetupFrame,        kPlain,    "QIMInstallLabel.Title",        {1, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::QIMEditor>,                 "QIMEditor",              &Q::QimSetupFrame,        kPlain,    kNoTitle,                       {1, 1, 1, 1, kFill}},
  {Slot<ZAFDlgPushButton, &Q::BrowseQIM>,             "BrowseQIM",              &Q::QimSetupFrame,        kPlain,    "BrowseQIM.Title",              {1, 2, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::MQSLabel>,                   "MQSLabel",               &Q::QimSetupFrame,        kPlain,    "MQSLabel.Title",               {2, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::MQSEditor>,                 "MQSEditor",              &Q::QimSetupFrame,        kPlain,    kNoTitle,                       {2, 1, 1, 1, kFill}},
  {Slot<ZAFDlgPushButton, &Q::BrowseMQS>,             "BrowseMQS",              &Q::QimSetupFrame,        kPlain,    "BrowseMQS.Title",              {2, 2, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::MQWFLabel>,                  "MQWFLabel",              &Q::QimSetupFrame,        kPlain,    "MQWFLabel.Title",              {3, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::MQWFEditor>,                "MQWFEditor",             &Q::QimSetupFrame,        kPlain,    kNoTitle,                       {3, 1, 1, 1, kFill}},
  {Slot<ZAFDlgPushButton, &Q::BrowseMQWF>,            "BrowseMQWF",             &Q::QimSetupFrame,        kPlain,    "BrowseMQWF.Title",             {3, 2, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::NUVLabel>,                   "NUVLabel",               &Q::QimSetupFrame,        kPlain,    "NUVLabel.Title",               {4, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::NUVEditor>,                 "NUVEditor",              &Q::QimSetupFrame,        kPlain,    kNoTitle,                       {4, 1, 1, 1, kFill}},
  {Slot<ZAFDlgPushButton, &Q::BrowseNUV>,             "BrowseNUV",              &Q::QimSetupFrame,        kPlain,    "BrowseNUV.Title",              {4, 2, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::WASLabel>,                   "WASLabel",               &Q::QimSetupFrame,        kPlain,    "WASLabel.Title",               {5, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::WASEditor>,                 "WASEditor",              &Q::QimSetupFrame,        kPlain,    kNoTitle,                       {5, 1, 1, 1, kFill}},
  {Slot<ZAFDlgPushButton, &Q::BrowseWAS>,             "BrowseWAS",              &Q::QimSetupFrame,        kPlain,    "BrowseWAS.Title",              {5, 2, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::JHOMELabel>,                 "JHOMELabel",             &Q::QimSetupFrame,        kPlain,    "JHOMELabel.Title",             {6, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::JHOMEEditor>,               "JHOMEEditor",            &Q::QimSetupFrame,        kPlain,    kNoTitle,                       {6, 1, 1, 1, kFill}},
  {Slot<ZAFDlgPushButton, &Q::BrowseJHOME>,           "BrowseJHOME",            &Q::QimSetupFrame,        kPlain,    "BrowseJHOME.Title",            {6, 2, 1, 1, kFill}},

  // The database page: a frame whose rows each hold a label and an editor, then the check
  // button that asks for the database to be created.
  {Slot<ZAFDlgTabPage, &Q::QIMDatabasePage>,          "QIMDatabasePage",        kTabContainer,            kGrid,     "QIMDatabasePage.Title",        kOnTab},
  {Slot<ZAFDlgFrame, &Q::DatabaseFrame>,              "DatabaseFrame",          &Q::QIMDatabasePage,      kGrid,     "DatabaseFrame.Title",          {0, 0, 2, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::DatabaseNameLabel>,          "DatabaseNameLabel",      &Q::DatabaseFrame,        kPlain,    "DatabaseNameLabel.Title",      {0, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::DatabaseNameEditor>,        "DatabaseNameEditor",     &Q::DatabaseFrame,        kPlain,    kNoTitle,                       {0, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::DatabaseHostLabel>,          "DatabaseHostLabel",      &Q::DatabaseFrame,        kPlain,    "DatabaseHostLabel.Title",      {1, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::DatabaseHostEditor>,        "DatabaseHostEditor",     &Q::DatabaseFrame,        kPlain,    kNoTitle,                       {1, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::DatabasePortLabel>,          "DatabasePortLabel",      &Q::DatabaseFrame,        kPlain,    "DatabasePortLabel.Title",      {2, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::DatabasePortEditor>,        "DatabasePortEditor",     &Q::DatabaseFrame,        kPlain,    kNoTitle,                       {2, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::DatabaseUserLabel>,          "DatabaseUserLabel",      &Q::DatabaseFrame,        kPlain,    "DatabaseUserLabel.Title",      {3, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::DatabaseUserEditor>,        "DatabaseUserEditor",     &Q::DatabaseFrame,        kPlain,    kNoTitle,                       {3, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::DatabasePasswordLabel>,      "DatabasePasswordLabel",  &Q::DatabaseFrame,        kPlain,    "DatabasePasswordLabel.Title",  {4, 0, 1, 1, kFill}},
  {Slot<ZAFDlgEditor, &Q::DatabasePasswordEditor>,    "DatabasePasswordEditor", &Q::DatabaseFrame,        kPassword, kNoTitle,                       {4, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::JndiNameLabel>,              "JndiNameLabel",          &Q::DatabaseFrame,        kPlain,    "JndiNameLabel.Title",          {5, 0, 1, 1, kFill}},
  {Slot<ZAFDlgEditor, &Q::JndiNameEditor>,            "JndiNameEditor",         &Q::DatabaseFrame,        kPlain,    kNoTitle,                       {5, 1, 1, 1, kFill}},
  {Slot<ZAFDlgCheckButton, &Q::EnableCreateDatabase>, "EnableCreateDatabase",   &Q::DatabaseFrame,        kPlain,    "EnableCreateDatabase.Title",   {6, 0, 1, 1, kFill}},

  // The message-queue page: a frame whose rows 1 to 9 each hold two label and editor pairs.
  {Slot<ZAFDlgTabPage, &Q::QIMMessageQueuesPage>,     "QIMMessageQueuesPage",   kTabContainer,            kGrid,     "QIMMessageQueuesPage.Title",   kOnTab},
  {Slot<ZAFDlgFrame, &Q::MessageQueuesFrame>,         "MessageQueuesFrame",     &Q::QIMMessageQueuesPage, kGrid,     "MessageQueuesFrame.Title",     {0, 0, 2, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::MsqCfgLabel>,                "MsqCfgLabel",            &Q::MessageQueuesFrame,   kPlain,    "MsqCfgLabel.Title",            {1, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::MsqCfgEditor>,              "MsqCfgEditor",           &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {1, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::MsqUserLabel>,               "MsqUserLabel",           &Q::MessageQueuesFrame,   kPlain,    "MsqUserLabel.Title",           {1, 2, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::MsqUserEditor>,             "MsqUserEditor",          &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {1, 3, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::MsqPassLabel>,               "MsqPassLabel",           &Q::MessageQueuesFrame,   kPlain,    "MsqPassLabel.Title",           {2, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::MsqPassEditor>,             "MsqPassEditor",          &Q::MessageQueuesFrame,   kPassword, kNoTitle,                       {2, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::MsqWTLabel>,                 "MsqWTLabel",             &Q::MessageQueuesFrame,   kPlain,    "MsqWTLabel.Title",             {2, 2, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::MsqWTEditor>,               "MsqWTEditor",            &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {2, 3, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::SMTPLabel>,                  "SMTPLabel",              &Q::MessageQueuesFrame,   kPlain,    "SMTPLabel.Title",              {3, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::SMTPEditor>,                "SMTPEditor",             &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {3, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::NUVNavServerLabel>,          "NUVNavServerLabel",      &Q::MessageQueuesFrame,   kPlain,    "NUVNavServerLabel.Title",      {3, 2, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::NUVNavServerEditor>,        "NUVNavServerEditor",     &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {3, 3, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::NUVNavPortLabel>,            "NUVNavPortLabel",        &Q::MessageQueuesFrame,   kPlain,    "NUVNavPortLabel.Title",        {4, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::NUVNavPortEditor>,          "NUVNavPortEditor",       &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {4, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::NUVNavServletLabel>,         "NUVNavServletLabel",     &Q::MessageQueuesFrame,   kPlain,    "NUVNavServletLabel.Title",     {4, 2, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::NUVNavServletEditor>,       "NUVNavServletEditor",    &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {4, 3, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::QIMMQNameLabel>,             "QIMMQNameLabel",         &Q::MessageQueuesFrame,   kPlain,    "QIMMQNameLabel.Title",         {5, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::QIMMQNameEditor>,           "QIMMQNameEditor",        &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {5, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::QIMMQDLLabel>,               "QIMMQDLLabel",           &Q::MessageQueuesFrame,   kPlain,    "QIMMQDLLabel.Title",           {5, 2, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::QIMMQDLEditor>,             "QIMMQDLEditor",          &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {5, 3, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::QIMIPLabel>,                 "QIMIPLabel",             &Q::MessageQueuesFrame,   kPlain,    "QIMIPLabel.Title",             {6, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::QIMIPEditor>,               "QIMIPEditor",            &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {6, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::QIMPortLabel>,               "QIMPortLabel",           &Q::MessageQueuesFrame,   kPlain,    "QIMPortLabel.Title",           {6, 2, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::QIMPortEditor>,             "QIMPortEditor",          &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {6, 3, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::FMCIPLabel>,                 "FMCIPLabel",             &Q::MessageQueuesFrame,   kPlain,    "FMCIPLabel.Title",             {7, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::FMCIPEditor>,               "FMCIPEditor",            &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {7, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::FMCPortLabel>,               "FMCPortLabel",           &Q::MessageQueuesFrame,   kPlain,    "FMCPortLabel.Title",           {7, 2, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::FMCPortEditor>,             "FMCPortEditor",          &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {7, 3, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::NUVMQNameLabel>,             "NUVMQNameLabel",         &Q::MessageQueuesFrame,   kPlain,    "NUVMQNameLabel.Title",         {8, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::NUVMQNameEditor>,           "NUVMQNameEditor",        &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {8, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::NUVMQDLLabel>,               "NUVMQDLLabel",           &Q::MessageQueuesFrame,   kPlain,    "NUVMQDLLabel.Title",           {8, 2, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::NUVMQDLEditor>,             "NUVMQDLEditor",          &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {8, 3, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::NUVIPLabel>,                 "NUVIPLabel",             &Q::MessageQueuesFrame,   kPlain,    "NUVIPLabel.Title",             {9, 0, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::NUVIPEditor>,               "NUVIPEditor",            &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {9, 1, 1, 1, kFill}},
  {Slot<ZAFDlgLabel, &Q::NUVPortLabel>,               "NUVPortLabel",           &Q::MessageQueuesFrame,   kPlain,    "NUVPortLabel.Title",           {9, 2, 1, 1, kLabel}},
  {Slot<ZAFDlgEditor, &Q::NUVPortEditor>,             "NUVPortEditor",          &Q::MessageQueuesFrame,   kPlain,    kNoTitle,                       {9, 3, 1, 1, kFill}},
};
// clang-format on

const QimSetupPlugIn::FormWidget* QimSetupPlugIn::FormWidget::Named(const char* resourceName) {
  for (const FormWidget& entry : FormWidgets) {
    if (SameName(entry.name, resourceName)) {
      return &entry;
    }
  }
  return nullptr;
}

// A widget whose parent could not be made is not made either: without a parent it would
// belong to no widget tree and never be destroyed.
void QimSetupPlugIn::FormWidget::Create(QimSetupPlugIn& plugin,
                                        ZAFDlgTabContainer* container) const {
  ZAFDialog* parentWidget = container;
  if (parent.frame != nullptr) {
    parentWidget = plugin.*parent.frame;
  } else if (parent.page != nullptr) {
    parentWidget = plugin.*parent.page;
  }
  if (parentWidget == nullptr) {
    return;
  }
  ZAFDialog* created = widget.create(plugin, parentWidget, name, style);
  if (created != nullptr && titleKey != kNoTitle) {
    ZAFUnicodeString title;
    plugin.GetMessage(titleKey, title, nullptr, 0);
    created->SetTitle(std::move(title));
  }
}

void QimSetupPlugIn::FormWidget::Place(const QimSetupPlugIn& plugin) const {
  if (ZAFDialog* placed = widget.get(plugin)) {
    placed->SetGridConstraints(grid.row, grid.column, grid.columnSpan, grid.rowSpan,
                               grid.justification);
  }
}

void QimSetupPlugIn::FormWidget::StretchGrids(const QimSetupPlugIn& plugin) const {
  for (const GridStretch& stretch : kGridStretches) {
    if (!SameName(stretch.afterPage, name)) {
      continue;
    }
    const FormWidget* gridEntry = Named(stretch.grid);
    ZAFDialog* stretched = gridEntry != nullptr ? gridEntry->widget.get(plugin) : nullptr;
    if (stretched == nullptr) {
      continue;
    }
    if (stretch.axis == GridAxis::kRow) {
      stretched->SetGridRowResizable(stretch.index, 1);
    } else {
      stretched->SetGridColumnResizable(stretch.index, 1);
    }
  }
}

void QimSetupPlugIn::BuildUserInterface(ZAFDlgTabContainer* container) {
  if (container == nullptr) {
    return;
  }
  CreateFormWidgets(container);
  RegisterFormCallbacks();
  PlaceFormWidgets();
  FillFormFields();
  if (InHarnessMode()) {
    RunFormSelfTest();
  }
  OnEnable(nullptr, nullptr, nullptr);
}

// All three pages are made, and made children of the plug-in in the notification chain,
// before any widget on them, so that every widget's notifications reach the plug-in.
void QimSetupPlugIn::CreateFormWidgets(ZAFDlgTabContainer* container) {
  static_assert(std::size(FormWidgets) == 77, "the form has 77 widgets");
  for (const FormWidget& entry : FormWidgets) {
    if (entry.IsPage()) {
      entry.Create(*this, container);
    }
  }
  for (ZAFDlgTabPage* tab : {QIMSetupPage, QIMDatabasePage, QIMMessageQueuesPage}) {
    if (tab != nullptr) {
      tab->SetFather(this);
    }
  }
  for (const FormWidget& entry : FormWidgets) {
    if (!entry.IsPage()) {
      entry.Create(*this, container);
    }
  }
}

// In creation order, page by page; once a page's widgets have their places, the grids that
// wait for that page are stretched.
void QimSetupPlugIn::PlaceFormWidgets() {
  const FormWidget* pageInProgress = nullptr;
  for (const FormWidget& entry : FormWidgets) {
    if (!entry.IsPage()) {
      entry.Place(*this);
      continue;
    }
    if (pageInProgress != nullptr) {
      pageInProgress->StretchGrids(*this);
    }
    pageInProgress = &entry;
  }
  if (pageInProgress != nullptr) {
    pageInProgress->StretchGrids(*this);
  }
}

// Stored settings replace the defaults as a whole; only when none are stored do the defaults
// count. They are then in the lists twice, which is harmless: applying a list twice gives the
// same fields as applying it once.
void QimSetupPlugIn::FillFormFields() {
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  const ZAFUnicodeString platform = "windows";  // the command pieces are always Windows forms
  ReadDefaults(keys, values, platform);
  if (ReadPrefFromRepository(keys, values) == QIM_E_FAIL) {
    ReadDefaults(keys, values, platform);
  }
  SetUserInterfaceFields(keys, values);
}

// In test-harness mode the build exercises the interface once; the results are discarded and
// the operations' own trace lines are what the harness looks at. As GetUserInterfaceFields
// stores the fields, the build itself stores the values it has just filled in.
void QimSetupPlugIn::RunFormSelfTest() {
  ZAFListValZAFUnicodeString names;
  ZAFListValZAFUnicodeString values;
  ZAFUnicodeString title;
  ZAFUnicodeString text;
  ZAFUnicodeString first;
  ZAFUnicodeString second;
  ZAFDlgTabPage* page = nullptr;
  GetUserInterfaceFields(names, values);
  ValidateUserInputData(page, title, text);
  GetJavaVariables(names, values);
  GetEarCreationParameters(first, second);
  GetEnvironmentVariables(names, values);
}

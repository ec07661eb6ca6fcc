// The command and notification framework and the headless widget tree.
//
// Two pieces of process state back the design:
// - Which commands hold registrations naming a given publisher, so that a destroyed
//   publisher's registrations go with it; otherwise a new widget that malloc places at the
//   same address would set off the callbacks of the old one.
// - The widgets whose destruction was requested during a notification, destroyed when the
//   outermost Publish has ended.
// The toolkit is single-threaded, like the widgets themselves: the dialog server calls it
// from one thread at a time, under the session's lock, so this state takes no lock of its own.

#include "host/zaf_dialog.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace {

template <typename Item>
void EraseAll(std::vector<Item>& items, const Item& item) {
  items.erase(std::remove(items.begin(), items.end(), item), items.end());
}

template <typename Item>
void AddOnce(std::vector<Item>& items, const Item& item) {
  if (std::find(items.begin(), items.end(), item) == items.end()) {
    items.push_back(item);
  }
}

// For each publisher, the commands holding registrations that name it (once per
// registration). Made on first use and never destroyed, so that commands with static storage
// duration can still be destroyed at exit.
using WatcherMap = std::unordered_map<const ZAFCommand*, std::vector<ZAFCommand*>>;
WatcherMap& Watchers() {
  static auto* watchers = new WatcherMap;
  return *watchers;
}

void AddWatcher(const ZAFCommand* publisher, ZAFCommand* holder) {
  Watchers()[publisher].push_back(holder);
}

void RemoveWatcher(const ZAFCommand* publisher, ZAFCommand* holder) {
  WatcherMap& watchers = Watchers();
  const auto found = watchers.find(publisher);
  if (found == watchers.end()) {
    return;
  }
  std::vector<ZAFCommand*>& holders = found->second;
  EraseAll(holders, holder);
  if (holders.empty()) {
    watchers.erase(found);
  }
}

// Takes the list of commands holding registrations that name `publisher`.
std::vector<ZAFCommand*> TakeWatchers(const ZAFCommand* publisher) {
  WatcherMap& watchers = Watchers();
  const auto found = watchers.find(publisher);
  if (found == watchers.end()) {
    return {};
  }
  std::vector<ZAFCommand*> holders = std::move(found->second);
  watchers.erase(found);
  return holders;
}

// The notifications being sent (nested when a callback publishes in turn) and the widgets
// waiting for the outermost one to end. Never destroyed, like the watchers: a widget with
// static storage duration may leave the list at exit.
struct PendingDestruction {
  int notificationDepth = 0;
  std::vector<ZAFDialog*> widgets;
};

PendingDestruction& Pending() {
  static auto* pending = new PendingDestruction;
  return *pending;
}

void DestroyPendingWidgets() {
  std::vector<ZAFDialog*>& widgets = Pending().widgets;
  while (!widgets.empty()) {
    ZAFDialog* widget = widgets.front();
    widgets.erase(widgets.begin());
    delete widget;  // its destructor takes its descendants off the list
  }
}

// Counts a notification being sent; the outermost one, when it ends, destroys the widgets
// whose destruction was requested meanwhile.
class NotificationScope {
 public:
  NotificationScope() { ++Pending().notificationDepth; }
  ~NotificationScope() {
    if (--Pending().notificationDepth == 0) {
      DestroyPendingWidgets();
    }
  }
  NotificationScope(const NotificationScope&) = delete;
  NotificationScope& operator=(const NotificationScope&) = delete;
};

}  // namespace

// ---- ZAFCommand ----

ZAFCommand::ZAFCommand(ZAFCommand* father, const ZAFString& name) : father_(father), name_(name) {}

ZAFCommand::ZAFCommand(ZAFCommand* father, ZAFString&& name)
    : father_(father), name_(std::move(name)) {}

ZAFCommand::ZAFCommand(const ZAFCommand& other)
    : ZAFObject(other), father_(other.father_), name_(other.name_) {
  for (const Registration& registration : other.registrations_) {
    AddAnalyseNotificationCB(registration.publisher, registration.notification,
                             registration.callback, registration.data);
  }
}

ZAFCommand& ZAFCommand::operator=(const ZAFCommand& other) {
  if (this == &other) {
    return *this;
  }
  const std::vector<Registration> copied = other.registrations_;
  for (const Registration& registration : registrations_) {
    RemoveWatcher(registration.publisher, this);
  }
  registrations_.clear();
  ZAFObject::operator=(other);
  father_ = other.father_;
  name_ = other.name_;
  for (const Registration& registration : copied) {
    AddAnalyseNotificationCB(registration.publisher, registration.notification,
                             registration.callback, registration.data);
  }
  return *this;
}

ZAFCommand::~ZAFCommand() {
  for (const Registration& registration : registrations_) {
    RemoveWatcher(registration.publisher, this);
  }
  // Registrations elsewhere that name this command can never fire rightly again.
  for (ZAFCommand* holder : TakeWatchers(this)) {
    auto& held = holder->registrations_;
    held.erase(std::remove_if(held.begin(), held.end(),
                              [this](const Registration& registration) {
                                return registration.publisher == this;
                              }),
               held.end());
  }
}

void ZAFCommand::AddAnalyseNotificationCB(ZAFCommand* publisher, ZAFNotification* notification,
                                          Callback callback, void* data) {
  if (callback == nullptr) {
    return;
  }
  registrations_.push_back(Registration{publisher, notification, callback, data});
  AddWatcher(publisher, this);
}

void ZAFCommand::Publish(ZAFNotification* notification) {
  const NotificationScope scope;
  for (ZAFCommand* command = this; command != nullptr; command = command->father_) {
    command->Analyse(this, notification);
  }
}

void ZAFCommand::Analyse(ZAFCommand* publisher, ZAFNotification* notification) {
  // A copy, because a callback may register more callbacks here.
  const std::vector<Registration> registrations = registrations_;
  for (const Registration& registration : registrations) {
    if (registration.publisher == publisher && registration.notification == notification) {
      (this->*registration.callback)(publisher, notification, registration.data);
    }
  }
}

// ---- ZAFDialog ----

struct ZAFDialog::Tree {
  // The creation index of the next widget of the tree.
  std::uint64_t nextCreationIndex = 1;
};

ZAFDialog::ZAFDialog(ZAFDialog* parent, const ZAFString& name, std::uint32_t style)
    : ZAFCommand(parent, name), parent_(parent), style_(style) {
  JoinTree();
}

ZAFDialog::ZAFDialog(ZAFDialog* parent, ZAFString&& name, std::uint32_t style)
    : ZAFCommand(parent, std::move(name)), parent_(parent), style_(style) {
  JoinTree();
}

void ZAFDialog::JoinTree() {
  if (parent_ != nullptr) {
    parent_->children_.push_back(this);
  } else {
    tree_ = std::make_unique<Tree>();
  }
  creationIndex_ = Root()->tree_->nextCreationIndex++;
}

ZAFDialog::~ZAFDialog() {
  EraseAll(Pending().widgets, this);
  while (!children_.empty()) {
    delete children_.back();  // the child leaves children_ in its destructor
  }
  if (parent_ != nullptr) {
    // A tree is destroyed from each parent's last child backwards: the child is most often the
    // last, which leaves without a search.
    std::vector<ZAFDialog*>& siblings = parent_->children_;
    if (!siblings.empty() && siblings.back() == this) {
      siblings.pop_back();
    } else {
      EraseAll(siblings, this);
    }
  }
}

ZAFDialog* ZAFDialog::FindByName(const char* name) {
  const ZAFDialog& self = *this;
  return const_cast<ZAFDialog*>(self.FindByName(name));
}

const ZAFDialog* ZAFDialog::FindByName(const char* name) const {
  if (name == nullptr) {
    return nullptr;
  }
  if (GetResourceName() == name) {
    return this;
  }
  for (const ZAFDialog* child : children_) {
    if (const ZAFDialog* found = child->FindByName(name)) {
      return found;
    }
  }
  return nullptr;
}

namespace {

template <typename Pointer>
void CollectDescendants(const std::vector<ZAFDialog*>& children, std::vector<Pointer>& widgets) {
  for (ZAFDialog* child : children) {
    widgets.push_back(child);
    CollectDescendants(child->GetChildren(), widgets);
  }
}

// Depth first, each parent's children are in creation order already (a widget joins its
// parent when made); only widgets made late under early parents need moving.
template <typename Pointer>
std::vector<Pointer> DescendantsInCreationOrder(const std::vector<ZAFDialog*>& children) {
  std::vector<Pointer> widgets;
  CollectDescendants(children, widgets);
  std::stable_sort(widgets.begin(), widgets.end(), [](Pointer a, Pointer b) {
    return a->GetCreationIndex() < b->GetCreationIndex();
  });
  return widgets;
}

}  // namespace

std::vector<ZAFDialog*> ZAFDialog::GetDescendants() {
  return DescendantsInCreationOrder<ZAFDialog*>(children_);
}

std::vector<const ZAFDialog*> ZAFDialog::GetDescendants() const {
  return DescendantsInCreationOrder<const ZAFDialog*>(children_);
}

ZAFDialog* ZAFDialog::GetRowNeighbour(ZAFRowSide side) {
  const ZAFDialog& self = *this;
  return const_cast<ZAFDialog*>(self.GetRowNeighbour(side));
}

const ZAFDialog* ZAFDialog::GetRowNeighbour(ZAFRowSide side) const {
  if (!grid_ || parent_ == nullptr) {
    return nullptr;
  }
  // How far `column` lies from this widget on `side`; 0 or less is not on that side.
  const auto distance = [this, side](int column) {
    return side == ZAFRowSide::Left ? grid_->column - column : column - grid_->column;
  };
  const ZAFDialog* nearest = nullptr;
  int nearestDistance = 0;
  for (const ZAFDialog* sibling : parent_->children_) {
    const auto& place = sibling->grid_;
    if (!place || place->row != grid_->row || distance(place->column) <= 0) {
      continue;
    }
    if (nearest == nullptr || distance(place->column) < nearestDistance) {
      nearest = sibling;
      nearestDistance = distance(place->column);
    }
  }
  return nearest;
}

void ZAFDialog::SetTitle(const ZAFUnicodeString& title) {
  title_ = title;
  hasTitle_ = true;
}

void ZAFDialog::SetTitle(ZAFUnicodeString&& title) {
  title_ = std::move(title);
  hasTitle_ = true;
}

bool ZAFDialog::IsUsable() const {
  for (const ZAFDialog* widget = this; widget != nullptr; widget = widget->parent_) {
    if (widget->sensitivity_ == ZAF_INSENSITIVE) {
      return false;
    }
  }
  return true;
}

void ZAFDialog::SetGridConstraints(std::uint16_t row, std::uint16_t column,
                                   std::uint16_t columnSpan, std::uint16_t rowSpan,
                                   std::uint32_t justification) {
  grid_ = ZAFGridConstraints{row, column, columnSpan, rowSpan, justification};
}

void ZAFDialog::SetGridRowResizable(int index, int flag) {
  if (flag != 0) {
    AddOnce(resizableRows_, index);
  } else {
    EraseAll(resizableRows_, index);
  }
}

void ZAFDialog::SetGridColumnResizable(int index, int flag) {
  if (flag != 0) {
    AddOnce(resizableColumns_, index);
  } else {
    EraseAll(resizableColumns_, index);
  }
}

void ZAFDialog::RequestDelayedDestruction() {
  if (Pending().notificationDepth > 0) {
    AddOnce(Pending().widgets, this);
  } else {
    delete this;
  }
}

const ZAFDialog* ZAFDialog::Root() const {
  const ZAFDialog* widget = this;
  while (widget->parent_ != nullptr) {
    widget = widget->parent_;
  }
  return widget;
}

// ---- Widgets ----

void ZAFDlgEditor::SetText(const ZAFUnicodeString& text, int /*flag*/) {
  text_ = text;
}

void ZAFDlgCheckButton::SetState(std::uint32_t state, int /*flag*/) {
  state_ = state;
}

void ZAFDlgCheckButton::Toggle() {
  state_ = IsChecked() ? ZAF_UNCHECKED : ZAF_CHECKED;
  Publish(&modify_);
}

void ZAFDlgFile::CloseOK(const ZAFUnicodeString& directory) {
  directory_ = directory;
  Publish(&ok_);
}

// ---- Class names ----

const char* ZAFDialog::GetClassName() const {
  return "ZAFDialog";
}
const char* ZAFDlgTabContainer::GetClassName() const {
  return "ZAFDlgTabContainer";
}
const char* ZAFDlgTabPage::GetClassName() const {
  return "ZAFDlgTabPage";
}
const char* ZAFDlgFrame::GetClassName() const {
  return "ZAFDlgFrame";
}
const char* ZAFDlgLabel::GetClassName() const {
  return "ZAFDlgLabel";
}
const char* ZAFDlgEditor::GetClassName() const {
  return "ZAFDlgEditor";
}
const char* ZAFDlgPushButton::GetClassName() const {
  return "ZAFDlgPushButton";
}
const char* ZAFDlgCheckButton::GetClassName() const {
  return "ZAFDlgCheckButton";
}
const char* ZAFDlgFile::GetClassName() const {
  return "ZAFDlgFile";
}

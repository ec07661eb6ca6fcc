// The command and notification framework and the headless widget tree.
//
// Two pieces of process state back the design:
// - Which commands hold registrations naming a given publisher, so that a destroyed
//   publisher's registrations go with it; otherwise a new widget that malloc places at the
//   same address would set off the callbacks of the old one.
// - The widgets whose destruction was requested during a bare Publish (one not sent as an
//   operator action), destroyed when the outermost Publish of the thread has finished.
// The toolkit runs on the host's one user-interface thread, like the widgets themselves.

#include "host/zaf_dialog.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace {

// ---- Registrations by publisher ----

// Both are made on first use and never destroyed, so that commands with static storage
// duration can still be destroyed at exit.
std::mutex& WatcherMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

// For each publisher, the commands holding registrations that name it (once per
// registration).
using WatcherMap = std::unordered_map<const ZAFCommand*, std::vector<ZAFCommand*>>;
WatcherMap& Watchers() {
  static auto* watchers = new WatcherMap;
  return *watchers;
}

void AddWatcher(const ZAFCommand* publisher, ZAFCommand* holder) {
  std::lock_guard<std::mutex> lock(WatcherMutex());
  Watchers()[publisher].push_back(holder);
}

void RemoveWatcher(const ZAFCommand* publisher, ZAFCommand* holder) {
  std::lock_guard<std::mutex> lock(WatcherMutex());
  WatcherMap& watchers = Watchers();
  const auto found = watchers.find(publisher);
  if (found == watchers.end()) {
    return;
  }
  std::vector<ZAFCommand*>& holders = found->second;
  holders.erase(std::remove(holders.begin(), holders.end(), holder), holders.end());
  if (holders.empty()) {
    watchers.erase(found);
  }
}

// Takes the list of commands holding registrations that name `publisher`.
std::vector<ZAFCommand*> TakeWatchers(const ZAFCommand* publisher) {
  std::lock_guard<std::mutex> lock(WatcherMutex());
  WatcherMap& watchers = Watchers();
  const auto found = watchers.find(publisher);
  if (found == watchers.end()) {
    return {};
  }
  std::vector<ZAFCommand*> holders = std::move(found->second);
  watchers.erase(found);
  return holders;
}

// ---- Destruction deferred past a bare Publish ----

thread_local int publishDepth = 0;
// Made when first needed and released when emptied: a plain pointer, so that a widget
// destroyed after the thread's own objects (a static one, at exit) finds no destroyed list.
thread_local std::vector<ZAFDialog*>* doomedAfterPublish = nullptr;

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

void DoomAfterPublish(ZAFDialog* widget) {
  if (doomedAfterPublish == nullptr) {
    doomedAfterPublish = new std::vector<ZAFDialog*>;
  }
  AddOnce(*doomedAfterPublish, widget);
}

void ForgetDoomedAfterPublish(ZAFDialog* widget) {
  if (doomedAfterPublish != nullptr) {
    EraseAll(*doomedAfterPublish, widget);
  }
}

void DestroyDoomedAfterPublish() {
  while (doomedAfterPublish != nullptr && !doomedAfterPublish->empty()) {
    ZAFDialog* widget = doomedAfterPublish->front();
    doomedAfterPublish->erase(doomedAfterPublish->begin());
    delete widget;  // its destructor removes its descendants from the list
  }
  delete doomedAfterPublish;
  doomedAfterPublish = nullptr;
}

// Counts a Publish in progress on this thread; the outermost one, when it ends, destroys
// the widgets doomed meanwhile.
class PublishScope {
 public:
  PublishScope() { ++publishDepth; }
  ~PublishScope() {
    if (--publishDepth == 0) {
      DestroyDoomedAfterPublish();
    }
  }
  PublishScope(const PublishScope&) = delete;
  PublishScope& operator=(const PublishScope&) = delete;
};

}  // namespace

// ---- ZAFCommand ----

ZAFCommand::ZAFCommand(ZAFCommand* father, const ZAFString& name) : father_(father), name_(name) {}

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
  const PublishScope scope;
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

namespace {

// Counts an operator action in progress on a widget tree; when the outermost one ends, the
// widgets doomed meanwhile are destroyed.
class ActionScope {
 public:
  ActionScope(int& depth, std::vector<ZAFDialog*>& doomed, ZAFDialog* root)
      : depth_(depth), doomed_(doomed), root_(root) {
    ++depth_;
  }
  ~ActionScope() {
    if (--depth_ == 0) {
      DestroyDoomed();
    }
  }
  ActionScope(const ActionScope&) = delete;
  ActionScope& operator=(const ActionScope&) = delete;

 private:
  void DestroyDoomed() {
    // The list lives in the root: a doomed root goes last, after everything else, since its
    // destruction ends the list too.
    const bool rootDoomed = std::find(doomed_.begin(), doomed_.end(), root_) != doomed_.end();
    EraseAll(doomed_, root_);
    while (!doomed_.empty()) {
      ZAFDialog* widget = doomed_.front();
      doomed_.erase(doomed_.begin());
      delete widget;  // its destructor removes its descendants from the list
    }
    if (rootDoomed) {
      delete root_;
    }
  }

  int& depth_;
  std::vector<ZAFDialog*>& doomed_;
  ZAFDialog* root_;
};

}  // namespace

ZAFDialog::ZAFDialog(ZAFDialog* parent, const ZAFString& name, std::uint32_t style)
    : ZAFCommand(parent, name), parent_(parent), style_(style) {
  if (parent_ != nullptr) {
    parent_->children_.push_back(this);
  }
  creationIndex_ = Root()->nextCreationIndex_++;
}

ZAFDialog::~ZAFDialog() {
  EraseAll(Root()->doomed_, this);
  ForgetDoomedAfterPublish(this);
  while (!children_.empty()) {
    delete children_.back();  // the child leaves children_ in its destructor
  }
  if (parent_ != nullptr) {
    EraseAll(parent_->children_, this);
  }
}

ZAFDialog* ZAFDialog::FindByName(const char* name) {
  if (name == nullptr) {
    return nullptr;
  }
  if (GetResourceName() == name) {
    return this;
  }
  for (ZAFDialog* child : children_) {
    if (ZAFDialog* found = child->FindByName(name)) {
      return found;
    }
  }
  return nullptr;
}

void ZAFDialog::SetTitle(const ZAFUnicodeString& title) {
  title_ = title;
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
  ZAFDialog* root = Root();
  if (root->actionDepth_ > 0) {
    AddOnce(root->doomed_, this);
  } else if (publishDepth > 0) {
    DoomAfterPublish(this);
  } else {
    delete this;
  }
}

void ZAFDialog::SendAction(ZAFNotification* notification) {
  ZAFDialog* root = Root();
  const ActionScope scope(root->actionDepth_, root->doomed_, root);
  Publish(notification);
  // `this` may be destroyed when the scope ends: nothing may follow.
}

ZAFDialog* ZAFDialog::Root() {
  ZAFDialog* widget = this;
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
  SendAction(&modify_);
}

void ZAFDlgFile::CloseOK(const ZAFUnicodeString& directory) {
  directory_ = directory;
  SendAction(&ok_);
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

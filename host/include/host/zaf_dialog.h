#pragma once
// The host's command and notification framework and a headless dialog toolkit: a widget
// tree that the plug-in builds and that the host (or a test) walks and operates.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "zaf_api.h"
#include "zaf_string.h"

// Widget styles.
constexpr std::uint32_t ZAF_STYLE_PLAIN = 0x0;
constexpr std::uint32_t ZAF_STYLE_GRID = 0x1;          // pages and frames: children on a grid
constexpr std::uint32_t ZAF_STYLE_PASSWORD = 0x40000;  // editors: input is masked
constexpr std::uint32_t ZAF_STYLE_DIR_CHOOSER = 0x10000200;

// Check states: anything other than ZAF_CHECKED counts as unchecked.
constexpr std::uint32_t ZAF_CHECKED = 0x40000;
constexpr std::uint32_t ZAF_UNCHECKED = 0x80000;

// Sensitivity and visibility values.
constexpr int ZAF_SENSITIVE = 8;     // the widget and all inside it are usable
constexpr int ZAF_INSENSITIVE = 16;  // greyed out, with all inside it
constexpr int ZAF_VISIBLE = 2;

// Grid justifications, passed through to the layout.
constexpr std::uint32_t ZAF_JUSTIFY_FILL = 0x1E;
constexpr std::uint32_t ZAF_JUSTIFY_LABEL = 0x7A;

// A kind of event a widget sends. Each widget owns its notifications, so a notification's
// address tells both the kind and the sender.
class ZAF_API ZAFNotification {
 public:
  explicit ZAFNotification(const char* kind) : kind_(kind) {}
  const char* GetKind() const { return kind_; }

 private:
  const char* kind_;
};

// A command: something with a father, a resource name and notification callbacks. A
// notification sent by a command reaches the callbacks registered on it and on each of its
// fathers in turn, up the chain.
class ZAF_API ZAFCommand : public ZAFObject {
 public:
  // A callback is a member operation of a class derived from ZAFCommand, cast to this type
  // (static_cast<ZAFCommand::Callback>(&Derived::OnSomething)); it runs on the command it
  // was registered on.
  using Callback = void (ZAFCommand::*)(ZAFCommand* publisher, ZAFNotification* notification,
                                        void* data);

  explicit ZAFCommand(ZAFCommand* father = nullptr, const ZAFString& name = ZAFString());
  // The same, taking over a name made for it (a widget's name given as a literal).
  ZAFCommand(ZAFCommand* father, ZAFString&& name);
  ZAFCommand(const ZAFCommand& other);
  ZAFCommand& operator=(const ZAFCommand& other);
  ~ZAFCommand() override;

  ZAFCommand* GetFather() const { return father_; }
  // Makes `father` the next command up the notification chain.
  void SetFather(ZAFCommand* father) { father_ = father; }
  const ZAFString& GetResourceName() const { return name_; }

  // Registers `callback` on this command: each time `publisher` sends `notification`, the
  // callback runs on this command with publisher, notification and `data`.
  void AddAnalyseNotificationCB(ZAFCommand* publisher, ZAFNotification* notification,
                                Callback callback, void* data);

  // Sends `notification` from this command up its father chain. Widgets whose delayed
  // destruction is requested meanwhile are destroyed when the outermost Publish has ended.
  void Publish(ZAFNotification* notification);

 private:
  struct Registration {
    ZAFCommand* publisher;
    ZAFNotification* notification;
    Callback callback;
    void* data;
  };
  // Runs the callbacks registered here for this publisher and notification.
  void Analyse(ZAFCommand* publisher, ZAFNotification* notification);

  ZAFCommand* father_ = nullptr;
  ZAFString name_;
  std::vector<Registration> registrations_;
};

// A side of a widget along its grid row.
enum class ZAFRowSide { Left, Right };

struct ZAFGridConstraints {
  std::uint16_t row = 0;
  std::uint16_t column = 0;
  std::uint16_t columnSpan = 1;
  std::uint16_t rowSpan = 1;
  std::uint32_t justification = 0;
};

// The base of every widget. A widget made with a parent is owned by that parent: it must be
// made with `new` and is destroyed with its parent (or by RequestDelayedDestruction). Its
// father starts as its parent. A widget made without a parent is the root of a tree and keeps
// what belongs to the whole tree.
class ZAF_API ZAFDialog : public ZAFCommand {
 public:
  ZAFDialog(ZAFDialog* parent, const ZAFString& name, std::uint32_t style);
  // The same, taking over a name made for it (a widget's name given as a literal).
  ZAFDialog(ZAFDialog* parent, ZAFString&& name, std::uint32_t style);
  ZAFDialog(const ZAFDialog&) = delete;
  ZAFDialog& operator=(const ZAFDialog&) = delete;
  // Destroys the children, then leaves the parent.
  ~ZAFDialog() override;

  // The toolkit's class name, for instance "ZAFDlgEditor".
  // Defined in the library for every widget class, so the classes' type information lives in
  // the library alone and modules that make widgets do not export copies of it.
  virtual const char* GetClassName() const;

  ZAFDialog* GetParent() const { return parent_; }
  const std::vector<ZAFDialog*>& GetChildren() const { return children_; }
  // The order of making within the tree: each widget gets a larger index than every widget
  // of its tree made before it.
  std::uint64_t GetCreationIndex() const { return creationIndex_; }
  std::uint32_t GetStyle() const { return style_; }

  // This widget or the first descendant (depth first, in creation order) of that name.
  ZAFDialog* FindByName(const char* name);
  const ZAFDialog* FindByName(const char* name) const;
  // The first widget below this one, in creation order, that is a `Widget` named `name`;
  // null when there is none.
  template <typename Widget>
  Widget* FindDescendantOfType(const char* name);
  template <typename Widget>
  const Widget* FindDescendantOfType(const char* name) const;

  // Every widget below this one in the order they were made. A widget made late under an
  // early parent (a directory chooser) comes after everything made before it.
  std::vector<ZAFDialog*> GetDescendants();
  std::vector<const ZAFDialog*> GetDescendants() const;
  // Calls `visit` with each widget below this one, in creation order. The widgets are listed
  // before the first call: widgets that `visit` makes are not visited, and `visit` must not
  // destroy any.
  template <typename Visit>
  void ForEachDescendant(Visit&& visit);
  template <typename Visit>
  void ForEachDescendant(Visit&& visit) const;
  // The same, for the widgets that are a `Widget`.
  template <typename Widget, typename Visit>
  void ForEachDescendantOfType(Visit&& visit);
  template <typename Widget, typename Visit>
  void ForEachDescendantOfType(Visit&& visit) const;

  // The nearest widget of the same parent on `side` of this one in its grid row (the label
  // left of an editor, the editor left of a browse button); null when this widget or every
  // widget on that side has no grid place.
  ZAFDialog* GetRowNeighbour(ZAFRowSide side);
  const ZAFDialog* GetRowNeighbour(ZAFRowSide side) const;
  // That neighbour when it is a `Widget`, else null.
  template <typename Widget>
  Widget* GetRowNeighbourOfType(ZAFRowSide side);
  template <typename Widget>
  const Widget* GetRowNeighbourOfType(ZAFRowSide side) const;

  void SetTitle(const ZAFUnicodeString& title);
  // The same, taking over a title made for the widget.
  void SetTitle(ZAFUnicodeString&& title);
  const ZAFUnicodeString& GetTitle() const { return title_; }
  bool HasTitle() const { return hasTitle_; }

  void SetSensitivity(int sensitivity) { sensitivity_ = sensitivity; }
  // The value last set on this widget, if any.
  std::optional<int> GetSensitivity() const { return sensitivity_; }
  // False when this widget or one of its parents is greyed out (ZAF_INSENSITIVE).
  bool IsUsable() const;

  void SetVisibility(int visibility) { visibility_ = visibility; }
  std::optional<int> GetVisibility() const { return visibility_; }

  void SetGridConstraints(std::uint16_t row, std::uint16_t column, std::uint16_t columnSpan,
                          std::uint16_t rowSpan, std::uint32_t justification);
  const std::optional<ZAFGridConstraints>& GetGridConstraints() const { return grid_; }
  // With flag 1 the row (column) takes the extra space of this widget's grid; 0 undoes it.
  void SetGridRowResizable(int index, int flag);
  void SetGridColumnResizable(int index, int flag);
  const std::vector<int>& GetResizableRows() const { return resizableRows_; }
  const std::vector<int>& GetResizableColumns() const { return resizableColumns_; }

  // Destroys this widget once the notification being sent now has reached every callback;
  // outside a notification, at once. Never during the notification.
  void RequestDelayedDestruction();

 private:
  // What a tree keeps once, in its root.
  struct Tree;

  const ZAFDialog* Root() const;
  // Joins the parent's children (or starts a tree) and takes the next creation index.
  void JoinTree();

  ZAFDialog* parent_;
  std::uint32_t style_;
  std::vector<ZAFDialog*> children_;
  ZAFUnicodeString title_;
  bool hasTitle_ = false;
  std::optional<int> sensitivity_;
  std::optional<int> visibility_;
  std::optional<ZAFGridConstraints> grid_;
  std::vector<int> resizableRows_;
  std::vector<int> resizableColumns_;
  // Set in the root of a tree only.
  std::unique_ptr<Tree> tree_;
  std::uint64_t creationIndex_ = 0;
};

template <typename Widget>
Widget* ZAFDialog::FindDescendantOfType(const char* name) {
  const ZAFDialog& self = *this;
  return const_cast<Widget*>(self.FindDescendantOfType<Widget>(name));
}

template <typename Widget>
const Widget* ZAFDialog::FindDescendantOfType(const char* name) const {
  for (const ZAFDialog* widget : GetDescendants()) {
    const auto* typed = dynamic_cast<const Widget*>(widget);
    if (typed != nullptr && name != nullptr && widget->GetResourceName() == name) {
      return typed;
    }
  }
  return nullptr;
}

template <typename Visit>
void ZAFDialog::ForEachDescendant(Visit&& visit) {
  for (ZAFDialog* widget : GetDescendants()) {
    visit(*widget);
  }
}

template <typename Visit>
void ZAFDialog::ForEachDescendant(Visit&& visit) const {
  for (const ZAFDialog* widget : GetDescendants()) {
    visit(*widget);
  }
}

template <typename Widget, typename Visit>
void ZAFDialog::ForEachDescendantOfType(Visit&& visit) {
  for (ZAFDialog* widget : GetDescendants()) {
    if (auto* typed = dynamic_cast<Widget*>(widget)) {
      visit(*typed);
    }
  }
}

template <typename Widget, typename Visit>
void ZAFDialog::ForEachDescendantOfType(Visit&& visit) const {
  for (const ZAFDialog* widget : GetDescendants()) {
    if (const auto* typed = dynamic_cast<const Widget*>(widget)) {
      visit(*typed);
    }
  }
}

template <typename Widget>
Widget* ZAFDialog::GetRowNeighbourOfType(ZAFRowSide side) {
  return dynamic_cast<Widget*>(GetRowNeighbour(side));
}

template <typename Widget>
const Widget* ZAFDialog::GetRowNeighbourOfType(ZAFRowSide side) const {
  return dynamic_cast<const Widget*>(GetRowNeighbour(side));
}

// The host's container of tab pages; the root of the plug-in's widget tree.
class ZAF_API ZAFDlgTabContainer : public ZAFDialog {
 public:
  explicit ZAFDlgTabContainer(ZAFDialog* parent = nullptr, const ZAFString& name = "TabContainer",
                              std::uint32_t style = ZAF_STYLE_PLAIN)
      : ZAFDialog(parent, name, style) {}
  const char* GetClassName() const override;
};

class ZAF_API ZAFDlgTabPage : public ZAFDialog {
 public:
  using ZAFDialog::ZAFDialog;
  const char* GetClassName() const override;
};

class ZAF_API ZAFDlgFrame : public ZAFDialog {
 public:
  using ZAFDialog::ZAFDialog;
  const char* GetClassName() const override;
};

class ZAF_API ZAFDlgLabel : public ZAFDialog {
 public:
  using ZAFDialog::ZAFDialog;
  const char* GetClassName() const override;
};

class ZAF_API ZAFDlgEditor : public ZAFDialog {
 public:
  using ZAFDialog::ZAFDialog;
  const char* GetClassName() const override;

  // `flag` is 1 from field transfer and 0 from a browse result; neither sends a notification.
  void SetText(const ZAFUnicodeString& text, int flag);
  // The text itself, not a copy: the editor's callers mostly read it once.
  const ZAFUnicodeString& GetText() const { return text_; }
  bool IsMasked() const { return (GetStyle() & ZAF_STYLE_PASSWORD) != 0; }

  // The operator types `text` over the editor's content.
  void Type(const ZAFUnicodeString& text) { text_ = text; }

 private:
  ZAFUnicodeString text_;
};

class ZAF_API ZAFDlgPushButton : public ZAFDialog {
 public:
  using ZAFDialog::ZAFDialog;
  const char* GetClassName() const override;

  ZAFNotification* GetPushBActivateNotification() { return &activate_; }
  // The operator presses the button: sends its activate notification.
  void Press() { Publish(&activate_); }

 private:
  ZAFNotification activate_{"PushBActivate"};
};

class ZAF_API ZAFDlgCheckButton : public ZAFDialog {
 public:
  using ZAFDialog::ZAFDialog;
  const char* GetClassName() const override;

  // Sets the state without a notification; `flag` is always 1.
  void SetState(std::uint32_t state, int flag);
  std::uint32_t GetState() const { return state_; }
  bool IsChecked() const { return state_ == ZAF_CHECKED; }

  ZAFNotification* GetChkBModifyNotification() { return &modify_; }
  // The operator checks or unchecks the button: the state changes and the modify
  // notification is sent.
  void Toggle();

 private:
  std::uint32_t state_ = ZAF_UNCHECKED;
  ZAFNotification modify_{"ChkBModify"};
};

// A directory chooser.
class ZAF_API ZAFDlgFile : public ZAFDialog {
 public:
  using ZAFDialog::ZAFDialog;
  const char* GetClassName() const override;

  void SetDirectory(const ZAFUnicodeString& directory) { directory_ = directory; }
  ZAFUnicodeString GetDirectory() const { return directory_; }

  ZAFNotification* GetDiaOKNotification() { return &ok_; }
  ZAFNotification* GetDiaCANCELNotification() { return &cancel_; }

  // The operator closes the chooser with OK on `directory`, or with Cancel. The chooser may
  // be destroyed by the time these return: do not use it afterwards.
  void CloseOK(const ZAFUnicodeString& directory);
  void CloseCancel() { Publish(&cancel_); }

 private:
  ZAFUnicodeString directory_;
  ZAFNotification ok_{"DiaOK"};
  ZAFNotification cancel_{"DiaCANCEL"};
};

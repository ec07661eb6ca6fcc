#pragma once
// The host's command and notification framework and a headless dialog toolkit: a widget
// tree that the plug-in builds and that the host (or a test) walks and operates.

#include <cstdint>
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

  // Sends `notification` from this command up its father chain.
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

struct ZAFGridConstraints {
  std::uint16_t row = 0;
  std::uint16_t column = 0;
  std::uint16_t columnSpan = 1;
  std::uint16_t rowSpan = 1;
  std::uint32_t justification = 0;
};

// The base of every widget. A widget made with a parent is owned by that parent: it must be
// made with `new` and is destroyed with its parent (or by RequestDelayedDestruction). Its
// father starts as its parent.
class ZAF_API ZAFDialog : public ZAFCommand {
 public:
  ZAFDialog(ZAFDialog* parent, const ZAFString& name, std::uint32_t style);
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

  void SetTitle(const ZAFUnicodeString& title);
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

  // Destroys this widget once the notification being handled now has been handled by every
  // callback; outside a notification, at once. Never during the notification.
  void RequestDelayedDestruction();

 protected:
  // Sends `notification` as an operator action: the widgets whose destruction was requested
  // meanwhile are destroyed when the outermost action has been handled.
  void SendAction(ZAFNotification* notification);

 private:
  ZAFDialog* Root();

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
  // Kept by the root of a tree: the depth of operator actions in progress, and the widgets
  // waiting to be destroyed when the outermost one ends.
  int actionDepth_ = 0;
  std::vector<ZAFDialog*> doomed_;
  // Kept by the root: the creation index of the next widget of the tree.
  std::uint64_t nextCreationIndex_ = 1;
  std::uint64_t creationIndex_ = 0;
};

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
  ZAFUnicodeString GetText() const { return text_; }
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
  void Press() { SendAction(&activate_); }

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
  void CloseCancel() { SendAction(&cancel_); }

 private:
  ZAFUnicodeString directory_;
  ZAFNotification ok_{"DiaOK"};
  ZAFNotification cancel_{"DiaCANCEL"};
};

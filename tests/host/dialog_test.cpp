// The notification chain, widget ownership and delayed destruction.

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "host/zaf_dialog.h"

namespace {

// Stands for the plug-in: a command whose callbacks record what reached them and may act.
class Listener : public ZAFCommand {
 public:
  struct Call {
    std::string callback;
    ZAFCommand* publisher;
    ZAFNotification* notification;
    void* data;
  };

  void OnFirst(ZAFCommand* publisher, ZAFNotification* notification, void* data) {
    calls.push_back({"first", publisher, notification, data});
    if (firstAction) {
      firstAction();
    }
  }
  void OnSecond(ZAFCommand* publisher, ZAFNotification* notification, void* data) {
    calls.push_back({"second", publisher, notification, data});
    if (secondAction) {
      secondAction();
    }
  }

  void Listen(ZAFCommand* publisher, ZAFNotification* notification, bool first = true,
              void* data = nullptr) {
    AddAnalyseNotificationCB(
        publisher, notification,
        static_cast<Callback>(first ? &Listener::OnFirst : &Listener::OnSecond), data);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Call& call : calls) {
      names.push_back(call.callback);
    }
    return names;
  }

  std::vector<Call> calls;
  std::function<void()> firstAction;
  std::function<void()> secondAction;
};

// A chooser that counts its destructions.
class CountedChooser : public ZAFDlgFile {
 public:
  CountedChooser(ZAFDialog* parent, int* destructions)
      : ZAFDlgFile(parent, "Chooser", ZAF_STYLE_DIR_CHOOSER), destructions_(destructions) {}
  ~CountedChooser() override { ++*destructions_; }

 private:
  int* destructions_;
};

// A form like the plug-in's: container > page (father: the listener) > frame > widgets.
class DialogTest : public ::testing::Test {
 protected:
  DialogTest() {
    container_ = new ZAFDlgTabContainer();
    page_ = new ZAFDlgTabPage(container_, "Page", ZAF_STYLE_GRID);
    page_->SetFather(&listener_);
    frame_ = new ZAFDlgFrame(page_, "Frame", ZAF_STYLE_GRID);
    button_ = new ZAFDlgPushButton(frame_, "Button", ZAF_STYLE_PLAIN);
    check_ = new ZAFDlgCheckButton(frame_, "Check", ZAF_STYLE_PLAIN);
  }
  ~DialogTest() override { delete container_; }

  Listener listener_;
  ZAFDlgTabContainer* container_;
  ZAFDlgTabPage* page_;
  ZAFDlgFrame* frame_;
  ZAFDlgPushButton* button_;
  ZAFDlgCheckButton* check_;
};

TEST_F(DialogTest, NotificationReachesARegistrationSeveralFathersUp) {
  int marker = 0;
  listener_.Listen(button_, button_->GetPushBActivateNotification(), true, &marker);
  button_->Press();
  ASSERT_EQ(listener_.calls.size(), 1U);
  EXPECT_EQ(listener_.calls[0].publisher, button_);
  EXPECT_EQ(listener_.calls[0].notification, button_->GetPushBActivateNotification());
  EXPECT_EQ(listener_.calls[0].data, &marker);
}

TEST_F(DialogTest, OnlyMatchingRegistrationsRunInRegistrationOrder) {
  listener_.Listen(button_, button_->GetPushBActivateNotification(), false);
  listener_.Listen(check_, check_->GetChkBModifyNotification(), true);   // other publisher
  listener_.Listen(button_, check_->GetChkBModifyNotification(), true);  // other notification
  listener_.Listen(button_, button_->GetPushBActivateNotification(), true);
  button_->Press();
  EXPECT_EQ(listener_.Names(), (std::vector<std::string>{"second", "first"}));
}

TEST_F(DialogTest, RegistrationsOnEveryCommandOfTheChainRunFromPublisherUp) {
  Listener inner;
  Listener outer;
  inner.SetFather(&outer);
  auto* command = new ZAFCommand(&inner, "Command");
  std::vector<std::string> order;
  inner.firstAction = [&order] { order.push_back("inner"); };
  outer.firstAction = [&order] { order.push_back("outer"); };
  ZAFNotification notification("Custom");
  outer.Listen(command, &notification);
  inner.Listen(command, &notification);
  command->Publish(&notification);
  EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
  delete command;
}

TEST_F(DialogTest, CallbackMayRegisterMoreWhichRunFromTheNextNotification) {
  listener_.firstAction = [this] {
    listener_.Listen(button_, button_->GetPushBActivateNotification(), false);
  };
  listener_.Listen(button_, button_->GetPushBActivateNotification(), true);
  button_->Press();
  EXPECT_EQ(listener_.Names(), (std::vector<std::string>{"first"}));
  listener_.firstAction = nullptr;
  button_->Press();
  EXPECT_EQ(listener_.Names(), (std::vector<std::string>{"first", "first", "second"}));
}

TEST_F(DialogTest, ToggleChangesStateThenNotifies) {
  std::uint32_t stateSeen = 0;
  listener_.firstAction = [&] { stateSeen = check_->GetState(); };
  listener_.Listen(check_, check_->GetChkBModifyNotification());
  check_->Toggle();
  EXPECT_EQ(stateSeen, ZAF_CHECKED);
  check_->SetState(0x12345, 1);
  EXPECT_FALSE(check_->IsChecked()) << "unknown states count as unchecked";
  EXPECT_EQ(listener_.calls.size(), 1U) << "SetState sends nothing";
}

TEST_F(DialogTest, ChooserDestroyedByItsOwnOkCallbackGoesAfterEveryCallback) {
  int destructions = 0;
  auto* chooser = new CountedChooser(page_, &destructions);
  bool aliveInSecond = false;
  std::string directorySeen;
  listener_.firstAction = [&] {
    directorySeen = chooser->GetDirectory().str();
    chooser->RequestDelayedDestruction();
  };
  listener_.secondAction = [&] { aliveInSecond = destructions == 0; };
  listener_.Listen(chooser, chooser->GetDiaOKNotification(), true);
  listener_.Listen(chooser, chooser->GetDiaOKNotification(), false);
  chooser->CloseOK("/opt/qim");
  EXPECT_EQ(directorySeen, "/opt/qim");
  EXPECT_TRUE(aliveInSecond);
  EXPECT_EQ(destructions, 1);
  EXPECT_EQ(page_->FindByName("Chooser"), nullptr) << "it left its parent";
  EXPECT_EQ(page_->GetChildren().size(), 1U);
}

TEST_F(DialogTest, DestructionWaitsForTheOutermostAction) {
  int destructions = 0;
  auto* chooser = new CountedChooser(page_, &destructions);
  int destructionsAfterInnerAction = -1;
  listener_.firstAction = [&] {  // the button opens and closes the chooser at once
    chooser->CloseOK("/tmp");
    destructionsAfterInnerAction = destructions;
  };
  listener_.secondAction = [&] { chooser->RequestDelayedDestruction(); };
  listener_.Listen(button_, button_->GetPushBActivateNotification(), true);
  listener_.Listen(chooser, chooser->GetDiaOKNotification(), false);
  button_->Press();
  EXPECT_EQ(destructionsAfterInnerAction, 0);
  EXPECT_EQ(destructions, 1);
}

TEST_F(DialogTest, DestructionOutsideAnyNotificationIsImmediate) {
  int destructions = 0;
  auto* chooser = new CountedChooser(page_, &destructions);
  chooser->RequestDelayedDestruction();
  EXPECT_EQ(destructions, 1);
}

TEST_F(DialogTest, BarePublishAlsoDefersDestruction) {
  int destructions = 0;
  auto* chooser = new CountedChooser(page_, &destructions);
  int destructionsInSecond = -1;
  listener_.firstAction = [&] { chooser->RequestDelayedDestruction(); };
  listener_.secondAction = [&] { destructionsInSecond = destructions; };
  listener_.Listen(chooser, chooser->GetDiaCANCELNotification(), true);
  listener_.Listen(chooser, chooser->GetDiaCANCELNotification(), false);
  chooser->Publish(chooser->GetDiaCANCELNotification());
  EXPECT_EQ(destructionsInSecond, 0);
  EXPECT_EQ(destructions, 1);
}

TEST_F(DialogTest, DoomedChildAndDoomedParentAreEachDestroyedOnce) {
  int destructions = 0;
  auto* chooser = new CountedChooser(page_, &destructions);
  auto* inner = new CountedChooser(chooser, &destructions);
  listener_.firstAction = [&] {
    inner->RequestDelayedDestruction();
    chooser->RequestDelayedDestruction();
    chooser->RequestDelayedDestruction();  // twice is still once
  };
  listener_.Listen(chooser, chooser->GetDiaOKNotification());
  chooser->CloseOK("/");
  EXPECT_EQ(destructions, 2);
}

TEST_F(DialogTest, RootDoomedDuringItsOwnActionIsDestroyedAfterwards) {
  int destructions = 0;
  auto* root = new CountedChooser(nullptr, &destructions);
  new CountedChooser(root, &destructions);
  listener_.firstAction = [&] { root->RequestDelayedDestruction(); };
  listener_.Listen(root, root->GetDiaOKNotification());
  root->SetFather(&listener_);
  root->CloseOK("/");
  EXPECT_EQ(destructions, 2);
}

TEST_F(DialogTest, DestroyedPublisherNoLongerTriggersItsRegistrations) {
  // A new widget at the address of a destroyed one must not set off the old callbacks.
  alignas(CountedChooser) unsigned char storage[sizeof(CountedChooser)];
  int destructions = 0;
  auto* first = ::new (storage) CountedChooser(nullptr, &destructions);
  first->SetFather(&listener_);
  listener_.Listen(first, first->GetDiaOKNotification());
  first->~CountedChooser();
  auto* second = ::new (storage) CountedChooser(nullptr, &destructions);
  second->SetFather(&listener_);
  second->CloseOK("/");
  EXPECT_TRUE(listener_.calls.empty());
  second->~CountedChooser();
}

TEST_F(DialogTest, CopiedCommandKeepsFatherNameAndRegistrations) {
  Listener original;
  original.SetFather(&listener_);
  original.Listen(button_, button_->GetPushBActivateNotification());
  Listener copy(original);
  EXPECT_EQ(copy.GetFather(), &listener_);
  frame_->SetFather(&copy);
  button_->Press();
  EXPECT_EQ(copy.calls.size(), 1U);
  EXPECT_TRUE(original.calls.empty());
}

// ---- Tree ----

TEST_F(DialogTest, ParentDestroysChildrenAndDestroyedChildLeavesParent) {
  int destructions = 0;
  auto* chooser = new CountedChooser(frame_, &destructions);
  new CountedChooser(chooser, &destructions);
  delete button_;
  EXPECT_EQ(frame_->GetChildren(), (std::vector<ZAFDialog*>{check_, chooser}));
  delete frame_;
  EXPECT_EQ(destructions, 2);
  EXPECT_TRUE(page_->GetChildren().empty());
}

TEST_F(DialogTest, FindByNameSearchesDepthFirstInCreationOrder) {
  auto* later = new ZAFDlgFrame(page_, "Later", ZAF_STYLE_GRID);
  auto* duplicateDeep = new ZAFDlgLabel(frame_, "Twin", ZAF_STYLE_PLAIN);
  new ZAFDlgLabel(later, "Twin", ZAF_STYLE_PLAIN);
  EXPECT_EQ(container_->FindByName("Twin"), duplicateDeep);
  EXPECT_EQ(container_->FindByName("Page"), page_);
  EXPECT_EQ(frame_->FindByName("Later"), nullptr) << "only this widget and below";
  EXPECT_EQ(container_->FindByName(nullptr), nullptr);
}

TEST_F(DialogTest, UsableUnlessItOrAParentIsInsensitive) {
  EXPECT_TRUE(button_->IsUsable());
  page_->SetSensitivity(ZAF_INSENSITIVE);
  EXPECT_FALSE(button_->IsUsable());
  button_->SetSensitivity(ZAF_SENSITIVE);
  EXPECT_FALSE(button_->IsUsable()) << "a greyed-out parent wins";
  page_->SetSensitivity(ZAF_SENSITIVE);
  EXPECT_TRUE(button_->IsUsable());
}

TEST_F(DialogTest, ResizableIndexesAreAddedOnceAndRemoved) {
  page_->SetGridRowResizable(2, 1);
  page_->SetGridRowResizable(2, 1);
  page_->SetGridRowResizable(5, 1);
  page_->SetGridRowResizable(2, 0);
  EXPECT_EQ(page_->GetResizableRows(), (std::vector<int>{5}));
  frame_->SetGridColumnResizable(1, 1);
  frame_->SetGridColumnResizable(1, 1);
  EXPECT_EQ(frame_->GetResizableColumns(), (std::vector<int>{1}));
  frame_->SetGridColumnResizable(1, 0);
  EXPECT_TRUE(frame_->GetResizableColumns().empty());
}

}  // namespace

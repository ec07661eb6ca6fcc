// The backend of `wassetup ui` driving the live plug-in as the page does (the server itself is
// tried in ui_server_test.cpp).

#include <gtest/gtest.h>

#include "tool_runner.h"
#include "ui/backend.h"

namespace qimtest {
namespace {

using Json = nlohmann::ordered_json;

// The backend on a live session with the real module, as the page's calls reach it.
class UiBackendTest : public ::testing::Test {
 protected:
  UiBackendTest() {
    options_.pluginPath = QIM_MODULE_PATH;
    options_.catalogDir = QIM_SOURCE_CATALOG_DIR;
    options_.prefsDir = dir_.File("prefs");
    session_ = std::make_unique<wassetup::Session>(options_);
    backend_ = std::make_unique<wassetup::UiBackend>(*session_);
  }

  Json Widget(const std::string& name) {
    const Json form = backend_->Form().body;
    for (const Json& widget : form["widgets"]) {
      if (widget["name"] == name) {
        return widget;
      }
    }
    return Json();
  }

  // The page's request naming the widget (and the text typed into it).
  nlohmann::json Request(const std::string& name, const std::string& text = "") {
    return {{"id", Widget(name)["id"].get<std::uint64_t>()}, {"text", text}};
  }

  TempDir dir_;
  wassetup::GlobalOptions options_;
  std::unique_ptr<wassetup::Session> session_;
  std::unique_ptr<wassetup::UiBackend> backend_;
};

TEST_F(UiBackendTest, UncheckingTheEnableBoxGreysTheFramesWhichTakeNoInput) {
  ASSERT_EQ(backend_->Toggle(Request("EnableQimPlugIn")).status, 200);
  EXPECT_EQ(Widget("EnableQimPlugIn")["state"], "unchecked");
  for (const char* frame : {"QimSetupFrame", "DatabaseFrame", "MessageQueuesFrame"}) {
    EXPECT_EQ(Widget(frame)["usable"], false) << frame;
  }
  EXPECT_EQ(backend_->Type(Request("SMTPEditor", "x")).status, 409);
}

TEST_F(UiBackendTest, BrowseOkFillsTheEditorOfItsRowAndCancelDoesNot) {
  const Json before = Widget("MQSEditor")["text"];
  ASSERT_EQ(backend_->Press(Request("BrowseMQS")).status, 200);
  ASSERT_EQ(backend_->CloseChooser(nlohmann::json::object(), false).status, 200);
  EXPECT_EQ(Widget("MQSEditor")["text"], before);

  ASSERT_EQ(backend_->Press(Request("BrowseMQS")).status, 200);
  const Json chooser = backend_->Form().body["chooser"];
  ASSERT_TRUE(chooser.is_object());
  const nlohmann::json ok = {{"id", chooser["id"].get<std::uint64_t>()}, {"path", dir_.path()}};
  ASSERT_EQ(backend_->CloseChooser(ok, true).status, 200);
  EXPECT_EQ(Widget("MQSEditor")["text"], dir_.path());
}

TEST_F(UiBackendTest, ValidateNamesThePageOfTheFirstBlankField) {
  session_->plugin().SetUserInterfaceFields(
      MakeList({"qimdirrt", "mqpass", "databasePassword", "smtp", "nuvserver", "qimip", "nuvip",
                "fmcip"}),
      MakeList({dir_.path().c_str(), "m", "d", "mail", "nuv", "1", "2", "3"}));
  EXPECT_EQ(backend_->Validate().body["valid"], true);
  ASSERT_EQ(backend_->Type(Request("DatabasePortEditor", "")).status, 200);
  const Json verdict = backend_->Validate().body;
  EXPECT_EQ(verdict["page"]["name"], "QIMDatabasePage");
  EXPECT_NE(verdict["text"].get<std::string>().find("Database port"), npos) << verdict;
}

TEST_F(UiBackendTest, APasswordTypedReachesThePlugInButIsNeverSent) {
  ASSERT_EQ(backend_->Type(Request("DatabasePasswordEditor", "hunter2-secret")).status, 200);
  EXPECT_EQ(Widget("DatabasePasswordEditor")["text"], "********");
  for (const wassetup::UiReply& reply :
       {backend_->Form(), backend_->Plan(), backend_->Validate()}) {
    EXPECT_EQ(reply.body.dump().find("hunter2-secret"), npos) << reply.body.dump();
  }
  ASSERT_EQ(backend_->Save().status, 200);
  EXPECT_NE(ReadFile(session_->preferenceFile()).find("\"hunter2-secret\""), npos);
}

}  // namespace
}  // namespace qimtest

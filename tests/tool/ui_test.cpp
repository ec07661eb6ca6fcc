// The backend of `wassetup ui` on the live plug-in, for what the page cannot show: the browser
// tests (tests/browser/) drive the chooser, validation, the masked password and a deployment
// through the page; the server is tried in ui_server_test.cpp.

#include "backend_fixture.h"

namespace qimtest {
namespace {

using Json = nlohmann::ordered_json;

class UiBackendTest : public LiveSessionTest {};

// The page greys such widgets out; a call that acts on one all the same is refused.
TEST_F(UiBackendTest, AGreyedOutWidgetTakesNoActionAndStaysAsItWas) {
  ASSERT_EQ(backend_->Toggle(Request("EnableQimPlugIn")).status, 200);
  for (const wassetup::UiReply& reply :
       {backend_->Press(Request("BrowseQIMRT")), backend_->Toggle(Request("EnableCreateDatabase")),
        backend_->Type(Request("SMTPEditor", "x"))}) {
    EXPECT_EQ(reply.status, 409);
    EXPECT_THAT(reply.body["error"].get<std::string>(),
                HasSubstr(" is greyed out; checking EnableQimPlugIn"));
  }
  EXPECT_EQ(Widget("EnableQimPlugIn")["state"], "unchecked");
  EXPECT_EQ(Widget("EnableCreateDatabase")["state"], "unchecked");
  EXPECT_EQ(Widget("SMTPEditor")["text"], "");
  EXPECT_EQ(Widget("SMTPEditor")["parentId"], Widget("MessageQueuesFrame")["id"])
      << "the page places a widget by its parent's number";
}

// A password is masked by the field it is in, never by what it spells: a plain field that
// holds the same text shows it, and the dialog's plan, which stores nothing, is the command
// line's.
TEST_F(UiBackendTest, PlainFieldsShowWhatTheyHoldEvenWhenItIsThePassword) {
  ASSERT_EQ(backend_->Type(Request("DatabasePasswordEditor", "50000")).status, 200);
  ASSERT_EQ(backend_->Type(Request("SMTPEditor", "50000")).status, 200);
  EXPECT_EQ(Widget("DatabasePasswordEditor")["text"], "********");
  EXPECT_EQ(Widget("SMTPEditor")["text"], "50000");
  EXPECT_EQ(Widget("DatabasePortEditor")["text"], "50000");
  const Json plan = backend_->Plan().body;
  EXPECT_FALSE(FileExists(session_->preferenceFile())) << "the plan stored nothing";
  ASSERT_EQ(backend_->Save().status, 200);
  EXPECT_EQ(plan, Json::parse(sandbox_.Run({"plan", "--json"}).out));
}

}  // namespace
}  // namespace qimtest

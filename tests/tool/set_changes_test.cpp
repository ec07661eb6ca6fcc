// `set --dry-run --json` and `set --json`: which settings a set changes, with old and new
// values and passwords masked, what it stores (nothing on a dry run), and the document read
// from standard input so that no password is on a command line.

#include "tool_runner.h"

namespace qimtest {
namespace {

using Ordered = nlohmann::ordered_json;
using Settings = std::vector<std::pair<std::string, std::string>>;

const std::string kCanary = "Canary-51xQ-pass";
// A new mail server and password, and the queue manager's shipped name, and the changes they
// make to the stored settings.
const Settings kChanging = {
    {"smtp", " new.example.com "}, {"databasePassword", "second-" + kCanary}, {"qimmq", "QIMQM"}};
const char* const kChanges =
    R"([{"key":"databasePassword","old":"********","new":"********","secret":true},)"
    R"({"key":"smtp","old":"old.example.com","new":"new.example.com","secret":false}])";

// A document as `get --json` writes it, with these settings.
std::string SettingsDocument(const Settings& settings) {
  Ordered pairs = Ordered::array();
  for (const auto& [key, value] : settings) {
    pairs.push_back(Ordered{{"key", key}, {"value", value}});
  }
  return Ordered{{"format_version", "1.0"}, {"settings", pairs}}.dump();
}

// A stored password and mail server; the run-time folder is blank.
class SetChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sandbox.Run({"set", "databasePassword"}, kCanary + "\n").status, 0);
    ASSERT_EQ(sandbox.Run({"set", "smtp=old.example.com"}).status, 0);
    stored = ReadFile(sandbox.PreferenceFile());
  }

  // `command` --from - ARGS with `document` on stdin, which must succeed without showing the
  // password.
  ToolResult FromStdin(const char* command, const Args& extra, const std::string& document) {
    const ToolResult result = sandbox.Run(Joined({command, "--from", "-"}, extra), document);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out + result.err, Not(HasSubstr(kCanary)));
    return result;
  }
  Ordered SetJson(const Args& extra, const std::string& document) {
    return Ordered::parse(FromStdin("set", extra, document).out);
  }

  ToolSandbox sandbox;
  std::string stored;
};

// The verdict is the plug-in's on the form as the change would leave it: the blank run-time
// field first, or with a run-time folder the MQSeries password.
TEST_F(SetChangesTest, ADryRunListsTheChangesASetStoresMasksPasswordsAndGivesTheVerdict) {
  const std::string runtimeMissing = R"("title":"Run-time directory not found")";
  const struct {
    Settings settings;
    std::string changes;
    std::string validation;  // part of the verdict
    const char* reason;
  } cases[] = {
      {kChanging, kChanges, runtimeMissing,
       "qimmq holds its shipped value; blanks around the new smtp are not stored"},
      {{{"mqpass", "mq-" + kCanary}},
       R"([{"key":"mqpass","old":"","new":"********","secret":true}])",
       runtimeMissing,
       "a first password"},
      {{{"databasePassword", ""}},
       R"([{"key":"databasePassword","old":"********","new":"","secret":true}])",
       runtimeMissing,
       "a password cleared"},
      {{{"qimdirrt", sandbox.Path("no-such-folder")}},
       R"([{"key":"qimdirrt","old":"","new":")" + sandbox.Path("no-such-folder") +
           R"(","secret":false}])",
       R"({"valid":false,"page":"QIMMessageQueuesPage","title":"Missing setting",)"
       R"("text":"The field 'MQSeries password' must not be empty."})",
       "the verdict on the form as the change leaves it"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.reason);
    const Ordered preview = SetJson({"--dry-run", "--json"}, SettingsDocument(row.settings));
    EXPECT_EQ(preview["changes"].dump(), row.changes);
    EXPECT_THAT(preview["validation"].dump(), HasSubstr(row.validation));
    EXPECT_EQ(preview["dry_run"], true);
    EXPECT_EQ(preview["stored"], false);
    EXPECT_EQ(preview["settings_file"], sandbox.PreferenceFile());
    EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored) << "a dry run stores nothing";
  }
  const ToolResult text = FromStdin("set", {"--check"}, SettingsDocument({{"mqpass", kCanary}}));
  EXPECT_EQ(text.out, "mqpass:  -> ********\n");
  EXPECT_THAT(text.err, HasSubstr("1 setting would change; nothing stored"));
  EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored);

  // The set itself reports the changes it stores, and none when repeated.
  const Ordered applied = SetJson({"--json"}, SettingsDocument(kChanging));
  EXPECT_EQ(applied["changes"].dump(), kChanges);
  EXPECT_EQ(applied["stored"], true);
  EXPECT_THAT(sandbox.Run({"--show-secrets", "get"}).out,
              AllOf(HasSubstr("\ndatabasePassword=second-" + kCanary + "\n"),
                    HasSubstr("\nsmtp=new.example.com\n")));
  EXPECT_EQ(SetJson({"--dry-run", "--json"}, SettingsDocument(kChanging))["changes"].dump(), "[]");
}

TEST_F(SetChangesTest, PlanFromADocumentComposesThoseSettingsAndStoresNothing) {
  const std::string document =
      SettingsDocument({{"smtp", "new.example.com"}, {"databasePassword", "second-" + kCanary}});
  const std::string pending =
      Ordered::parse(FromStdin("plan", {"--json"}, document).out)["commands"].dump();
  EXPECT_THAT(pending, AllOf(HasSubstr("new.example.com"), Not(HasSubstr("old.example.com"))));
  EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored) << "nothing is stored";
  const std::string current =
      Ordered::parse(sandbox.Run({"plan", "--json"}).out)["commands"].dump();
  EXPECT_THAT(current, AllOf(HasSubstr("old.example.com"), Not(HasSubstr("new.example.com"))));
}

}  // namespace
}  // namespace qimtest

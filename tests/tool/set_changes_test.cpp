// `set --dry-run --json` and `set --json`: which settings a set changes, with old and new
// values and passwords masked, what it stores (nothing on a dry run), and the document read
// from standard input so that no password is on a command line.

#include <gtest/gtest.h>

#include "tool_runner.h"

namespace qimtest {
namespace {

using Ordered = nlohmann::ordered_json;

const std::string kCanary = "Canary-51xQ-pass";

// A document as `get --json` writes it, with these settings.
std::string SettingsDocument(const std::vector<std::pair<std::string, std::string>>& settings) {
  Ordered pairs = Ordered::array();
  for (const auto& [key, value] : settings) {
    pairs.push_back(Ordered{{"key", key}, {"value", value}});
  }
  return Ordered{{"format_version", "1.0"}, {"settings", pairs}}.dump();
}

class SetChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sandbox.Run({"set", "databasePassword"}, kCanary + "\n").status, 0);
    ASSERT_EQ(sandbox.Run({"set", "smtp=old.example.com"}).status, 0);
    stored = ReadFile(sandbox.PreferenceFile());
  }

  // set --from - ARGS with `document` on stdin; the JSON it prints.
  Ordered SetFromStdin(const Args& extra, const std::string& document) {
    Args arguments{"set", "--from", "-"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const ToolResult result = sandbox.Run(arguments, document);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ((result.out + result.err).find(kCanary), npos) << result.out << result.err;
    return Ordered::parse(result.out);
  }

  ToolSandbox sandbox;
  std::string stored;
};

TEST_F(SetChangesTest, DryRunListsOnlyRealChangesWithThePasswordMaskedAndStoresNothing) {
  const std::string document = SettingsDocument({{"smtp", " new.example.com "},
                                                 {"databasePassword", "second-" + kCanary},
                                                 {"qimmq", "QIMQM"}});
  const Ordered preview = SetFromStdin({"--dry-run", "--json"}, document);
  // qimmq already holds its shipped value; the blanks around the new smtp are not stored.
  EXPECT_EQ(preview["changes"].dump(),
            R"([{"key":"databasePassword","old":"********","new":"********","secret":true},)"
            R"({"key":"smtp","old":"old.example.com","new":"new.example.com","secret":false}])");
  EXPECT_EQ(preview["dry_run"], true);
  EXPECT_EQ(preview["stored"], false);
  EXPECT_EQ(preview["settings_file"], sandbox.PreferenceFile());
  EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored) << "a dry run stores nothing";

  const Ordered applied = SetFromStdin({"--json"}, document);
  EXPECT_EQ(applied["changes"], preview["changes"]) << "the real set reports the same changes";
  EXPECT_EQ(applied["stored"], true);
  const std::string got = sandbox.Run({"--show-secrets", "get"}).out;
  EXPECT_NE(got.find("\ndatabasePassword=second-" + kCanary + "\n"), npos) << got;
  EXPECT_NE(got.find("\nsmtp=new.example.com\n"), npos) << got;

  EXPECT_EQ(SetFromStdin({"--dry-run", "--json"}, document)["changes"].dump(), "[]")
      << "applying the same settings again changes nothing";
}

TEST_F(SetChangesTest, APasswordSetOrClearedIsNamedButNeverShown) {
  struct Case {
    const char* reason;
    std::string key;
    std::string value;
    std::string expected;
  };
  const Case cases[] = {
      {"a first password", "mqpass", "mq-" + kCanary,
       R"([{"key":"mqpass","old":"","new":"********","secret":true}])"},
      {"a password cleared", "databasePassword", "",
       R"([{"key":"databasePassword","old":"********","new":"","secret":true}])"},
  };
  for (const Case& row : cases) {
    const Ordered preview =
        SetFromStdin({"--dry-run", "--json"}, SettingsDocument({{row.key, row.value}}));
    EXPECT_EQ(preview["changes"].dump(), row.expected) << row.reason;
  }
  const ToolResult text =
      sandbox.Run({"set", "--from", "-", "--check"}, SettingsDocument({{"mqpass", kCanary}}));
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out, "mqpass:  -> ********\n");
  EXPECT_NE(text.err.find("1 setting would change; nothing stored"), npos) << text.err;
  EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored);
}

TEST_F(SetChangesTest, TheDocumentCarriesThePlugInsVerdictOnTheFormAsTheChangeLeavesIt) {
  // The stored form has a blank run-time field, which the plug-in reports first; the verdict
  // is on the form as the change leaves it, where the MQSeries password comes first.
  const Ordered blankRuntime =
      SetFromStdin({"--dry-run", "--json"}, SettingsDocument({{"databasePort", "1"}}));
  EXPECT_EQ(blankRuntime["validation"]["title"], "Run-time directory not found");
  const Ordered invalid = SetFromStdin(
      {"--dry-run", "--json"}, SettingsDocument({{"qimdirrt", sandbox.Path("no-such-folder")}}));
  EXPECT_EQ(invalid["validation"].dump(),
            R"({"valid":false,"page":"QIMMessageQueuesPage","title":"Missing setting",)"
            R"("text":"The field 'MQSeries password' must not be empty."})");
  EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored);
}

// The commands of `plan --json` as one text, to look for the values they carry.
std::string CommandsText(const ToolResult& plan) {
  EXPECT_EQ(plan.status, 0) << plan.err;
  return Ordered::parse(plan.out)["commands"].dump();
}

TEST_F(SetChangesTest, PlanFromADocumentComposesThoseSettingsAndStoresNothing) {
  const std::string document =
      SettingsDocument({{"smtp", "new.example.com"}, {"databasePassword", "second-" + kCanary}});
  const ToolResult pending = sandbox.Run({"plan", "--from", "-", "--json"}, document);
  const std::string pendingCommands = CommandsText(pending);
  EXPECT_NE(pendingCommands.find("new.example.com"), npos) << pendingCommands;
  EXPECT_EQ(pendingCommands.find("old.example.com"), npos) << pendingCommands;
  EXPECT_EQ((pending.out + pending.err).find(kCanary), npos) << "the password stays masked";
  EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored) << "nothing is stored";

  const std::string storedCommands = CommandsText(sandbox.Run({"plan", "--json"}));
  EXPECT_NE(storedCommands.find("old.example.com"), npos) << storedCommands;
  EXPECT_EQ(storedCommands.find("new.example.com"), npos) << storedCommands;
}

TEST(SetChangesFreshFolderTest, ADryRunOnAFreshFolderMakesNoFile) {
  ToolSandbox sandbox;
  const ToolResult result =
      sandbox.Run({"set", "--from", "-", "--dry-run", "--json"}, SettingsDocument({{"smtp", "a"}}));
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Ordered::parse(result.out)["changes"].dump(),
            R"([{"key":"smtp","old":"","new":"a","secret":false}])");
  EXPECT_FALSE(FileExists(sandbox.Path("prefs"))) << "not even the preference folder";
}

}  // namespace
}  // namespace qimtest

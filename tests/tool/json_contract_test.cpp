// The --json documents: the keys of every object, in order, as scripts that read them expect;
// and the plug-in's trace lines of test-harness mode kept out of a document written to a file.

#include <sys/stat.h>

#include <set>

#include <gtest/gtest.h>

#include "tests/tool/tool_runner.h"

namespace qimtest {
namespace {

using Ordered = nlohmann::ordered_json;
using Keys = std::vector<std::string>;

Keys KeysOf(const Ordered& object) {
  Keys keys;
  for (const auto& item : object.items()) {
    keys.push_back(item.key());
  }
  return keys;
}

const Keys kWidgetKeys = {"name",        "type",   "parent",        "style",
                          "title",       "text",   "state",         "grid",
                          "sensitivity", "usable", "resizableRows", "resizableColumns"};
const Keys kGridKeys = {"row", "column", "columnSpan", "rowSpan", "justification"};
const Keys kDataSourceKeys = {"count", "Host",     "Port",     "DatabaseName",
                              "User",  "Password", "JndiName", "JdbcProvider"};

// The keys of a plan command depend on its kind.
Keys CommandKeys(const std::string& kind) {
  if (kind == "java") {
    return {"tag", "kind", "options", "class", "arguments", "line"};
  }
  if (kind == "script") {
    return {"tag", "kind", "script", "arguments", "line"};
  }
  return {"tag", "kind", "arguments", "line"};
}

class JsonContractTest : public ::testing::Test {
 protected:
  Ordered Document(const std::vector<std::string>& arguments, int status = 0) {
    const ToolResult result = sandbox.Run(arguments);
    EXPECT_EQ(result.status, status) << result.err;
    const Ordered document = Ordered::parse(result.out, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << result.out;
    return document;
  }

  ToolSandbox sandbox;
};

TEST_F(JsonContractTest, TopLevelKeysOfEveryDocument) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    Keys keys;
  } documents[] = {
      {{"show", "--json"}, 0, {"format_version", "widgets"}},
      {{"get", "--json"}, 0, {"format_version", "settings"}},
      {{"validate", "--json"}, 1, {"format_version", "valid", "page", "title", "text"}},
      {{"plan", "--json"},
       0,
       {"format_version", "tags", "commands", "dataSource", "javaVariables"}},
  };
  for (const auto& expected : documents) {
    const Ordered document = Document(expected.arguments, expected.status);
    EXPECT_EQ(KeysOf(document), expected.keys) << expected.arguments[0];
    EXPECT_EQ(document["format_version"], "1.0") << expected.arguments[0];
  }
}

TEST_F(JsonContractTest, ValidFormHasOnlyTheVerdict) {
  mkdir(sandbox.Path("runtime").c_str(), 0700);
  ASSERT_EQ(sandbox
                .Run({"set", "qimdirrt=" + sandbox.Path("runtime"), "mqpass=m", "smtp=mail",
                      "databasePassword=d", "nuvserver=nuv", "qimip=1", "nuvip=2", "fmcip=3"})
                .status,
            0);
  const Ordered verdict = Document({"validate", "--json"});
  EXPECT_EQ(KeysOf(verdict), (Keys{"format_version", "valid"}));
  EXPECT_EQ(verdict["valid"], true);
}

TEST_F(JsonContractTest, EveryWidgetHasTheSameKeysInCreationOrder) {
  const Ordered document = Document({"show", "--json"});
  ASSERT_EQ(document["widgets"].size(), 77u);
  for (const Ordered& widget : document["widgets"]) {
    EXPECT_EQ(KeysOf(widget), kWidgetKeys) << widget["name"];
    if (!widget["grid"].is_null()) {
      EXPECT_EQ(KeysOf(widget["grid"]), kGridKeys) << widget["name"];
    }
  }
}

TEST_F(JsonContractTest, SettingsAreThirtyThreeKeyValuePairs) {
  const Ordered document = Document({"get", "--json"});
  ASSERT_EQ(document["settings"].size(), 33u);
  for (const Ordered& setting : document["settings"]) {
    EXPECT_EQ(KeysOf(setting), (Keys{"key", "value"}));
    EXPECT_TRUE(setting["value"].is_string()) << setting["key"];
  }
}

TEST_F(JsonContractTest, PlanCommandsOfEachKindDataSourceAndVariables) {
  // Oracle leaves the DB2-only commands with nothing to run, so all three kinds appear.
  const Ordered plan = Document({"--db-product", "Oracle", "plan", "--json"});
  std::set<std::string> kinds;
  ASSERT_EQ(plan["commands"].size(), plan["tags"].size());
  for (const Ordered& command : plan["commands"]) {
    const std::string kind = command["kind"];
    kinds.insert(kind);
    EXPECT_EQ(KeysOf(command), CommandKeys(kind)) << command["tag"];
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"java", "script", "none"}));
  EXPECT_EQ(KeysOf(plan["dataSource"]), kDataSourceKeys);
  ASSERT_FALSE(plan["javaVariables"].empty());
  for (const Ordered& variable : plan["javaVariables"]) {
    EXPECT_EQ(KeysOf(variable), (Keys{"name", "value"}));
  }
}

TEST_F(JsonContractTest, TraceLinesOfTheHarnessModeStayOutOfTheOutputFile) {
  const std::map<std::string, std::string> harness = {{"YTQ_RT_OUT", "harness"}};
  for (const char* command : {"show", "get", "validate", "plan"}) {
    const std::string file = sandbox.Path(std::string(command) + ".json");
    const ToolResult result = sandbox.Run({"--output", file, command, "--json"}, "", harness);
    EXPECT_NE(result.out.find("Inside Constructor"), std::string::npos)
        << command << ": the trace lines go to stdout";
    const Ordered document = Ordered::parse(ReadFile(file), nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << command << ":\n" << ReadFile(file);
    EXPECT_EQ(KeysOf(document).front(), "format_version") << command;
  }
}

}  // namespace
}  // namespace qimtest

// wassetup through the real binary and the real module: loading, usage, the settings as the
// operator changes them, and the --json documents.

#include <sys/stat.h>

#include "tool_runner.h"

namespace qimtest {
namespace {

using Ordered = nlohmann::ordered_json;

class WassetupTest : public ::testing::Test {
 protected:
  ToolSandbox sandbox;
};

TEST_F(WassetupTest, HelpListsEveryCommand) {
  const ToolResult result = sandbox.Run({"--help"});
  EXPECT_EQ(result.status, 0);
  for (const char* command :
       {"info", "show", "get", "set", "toggle", "browse", "validate", "plan", "deploy", "ui"}) {
    EXPECT_NE(result.out.find("\n  " + std::string(command) + " "), npos) << command;
  }
}

// A module that is no regular file is refused before it is opened: a FIFO would block.
TEST_F(WassetupTest, BadUsageExitsWith2InOneLineAndLeavesTheStoredFileAsItWas) {
  ASSERT_EQ(sandbox.Run({"set", "databasePort=50001"}).status, 0);
  WriteFile(sandbox.Path("junk.so"), "not a module");
  ASSERT_EQ(mkfifo(sandbox.Path("module.fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(sandbox.Path("module.dir").c_str(), 0700), 0);
  const std::string stored = ReadFile(sandbox.PreferenceFile());
  WriteFile(sandbox.Path("text.json"), "{ this is not json");
  WriteFile(sandbox.Path("shape.json"), R"({"format_version": "1.0", "settings": [1, 2]})");
  WriteFile(sandbox.Path("key.json"),
            R"({"format_version": "1.0", "settings": [{"key": "bogus", "value": "1"}]})");
  const std::string unknownKey =
      R"({"format_version": "1.0", "settings": [{"key": "smtp", "value": "x"}, )"
      R"({"key": "bogus", "value": "1"}]})";
  const struct {
    Args arguments;
    std::string named;  // what the line must name
    const char* reason;
    std::string input = "";  // on standard input
  } cases[] = {
      {{"--plugin", sandbox.Path("missing.so"), "info"}, sandbox.Path("missing.so"), "no module"},
      {{"--plugin", sandbox.Path("junk.so"), "info"}, sandbox.Path("junk.so"), "no shared object"},
      {{"--plugin", ZAFHOST_PATH, "info"}, ZAFHOST_PATH, "a shared object without the factory"},
      {{"--plugin", sandbox.Path("module.fifo"), "info"}, sandbox.Path("module.fifo"), "a FIFO"},
      {{"--plugin", sandbox.Path("module.dir"), "info"}, sandbox.Path("module.dir"), "a folder"},
      {{"--no-such-option", "show"}, "--no-such-option", "unknown option"},
      {{"frobnicate"}, "'frobnicate'", "unknown command"},
      {{"--plugin"}, "--plugin", "an option without its value"},
      {{"--separator", "ab", "show"}, "'ab'", "a malformed option value"},
      {{"deploy", "--start-at", "no_such_tag"},
       "'no_such_tag' is not a command of the plan; the commands are: qim_copy, java_qim, ",
       "an unknown step, with the steps there are"},
      {{"set", "databasePort=1", "bogus=1"},
       "'bogus'; the settings are: enablePlugIn, enableCT, ",
       "an unknown key among good ones, with the valid keys"},
      {{"deploy", "--log", sandbox.Path("none/deploy.log")},
       "the folder '" + sandbox.Path("none") + "' does not exist",
       "a log in a folder that does not exist"},
      {{"deploy", "--log", sandbox.Path(std::string(300, 'l'))},
       "--log: cannot write",
       "a log the system cannot open"},
      {{"set", "--from", "text.json"}, "text.json", "a document that is not JSON"},
      {{"set", "--from", "shape.json"}, "shape.json", "a document of the wrong shape"},
      {{"set", "--from", "key.json"}, "'bogus'", "a document with an unknown key"},
      {{"set", "--from", "-", "--json"},
       "unknown setting 'bogus'",
       "a document with an unknown key on stdin",
       unknownKey},
      {{"set", "--from", "-", "--json"},
       "standard input is not a JSON document",
       "a document on stdin that is not JSON",
       "{nope"},
  };
  for (const auto& bad : cases) {
    std::vector<Args> runs{bad.arguments};
    // plan --from reads the same documents as set --from and refuses them the same way.
    if (bad.arguments.size() > 2 && bad.arguments[0] == "set" && bad.arguments[1] == "--from") {
      runs.push_back(bad.arguments);
      runs.back()[0] = "plan";
    }
    for (const Args& arguments : runs) {
      SCOPED_TRACE(arguments[0] + ": " + bad.reason);
      const ToolResult result = sandbox.Finish(sandbox.Start(arguments, ".run", bad.input), ".run",
                                               std::chrono::seconds(10));
      EXPECT_EQ(result.status, 2);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(CountLines(result.err), 1) << result.err;
      EXPECT_THAT(result.err, HasSubstr(bad.named));
      EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored);
    }
  }
}

TEST_F(WassetupTest, BrowseWithOkWritesTheRowAndCancelDoesNot) {
  ASSERT_EQ(sandbox.Run({"set", "qimdirrt=/start here"}).status, 0);
  const ToolResult ok = sandbox.Run({"browse", "BrowseQIMRT", "/chosen/dir"});
  EXPECT_EQ(ok.out, "started in: /start here\nQIMRTEditor: /chosen/dir\n") << ok.err;
  const ToolResult cancel = sandbox.Run({"browse", "BrowseQIMRT", "--cancel"});
  EXPECT_EQ(cancel.out, "started in: /chosen/dir\nQIMRTEditor: /chosen/dir\n") << cancel.err;
}

// Scripts read the documents by their keys in order. In test-harness mode the plug-in's trace
// lines go to stdout and must not reach a document written with --output; and it traces each
// store of its settings: a command stores them once when it reads the form, composing java_qim
// once more, and nothing else may (a probe of the form that stores, or a plan composed twice,
// would).
TEST_F(WassetupTest, JsonDocumentsKeepTheirKeysInOrderAndTheFormIsStoredOncePerRead) {
  ASSERT_EQ(sandbox.Run({"set", "qimdirrt=/srv/qim/runtime", "databasePassword=pw"}).status, 0);
  const struct {
    Args command;
    int stores;                                             // at most
    std::vector<std::pair<const char*, std::string>> keys;  // of the values at JSON pointers
  } cases[] = {
      {{"show"},
       2,
       {{"", "format_version widgets"},
        {"/widgets/0",
         "name type parent style title text state grid sensitivity usable resizableRows "
         "resizableColumns"},
        {"/widgets/3/grid", "row column columnSpan rowSpan justification"}}},
      {{"get"}, 2, {{"", "format_version settings"}, {"/settings/0", "key value"}}},
      {{"--separator", "/", "validate"}, 2, {{"", "format_version valid page title text"}}},
      {{"info"}, 2, {{"", "format_version symbolic_name javaVariables"}}},
      {{"plan"},
       3,
       {{"", "format_version tags commands dataSource javaVariables"},
        {"/commands/1", "tag kind options class arguments line file_changes"},
        {"/dataSource", "count Host Port DatabaseName User Password JndiName JdbcProvider"}}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.command.back());
    const ToolResult result =
        sandbox.Run(Joined(Joined({"--output", "doc.json"}, row.command), {"--json"}), "",
                    {{"YTQ_RT_OUT", "harness"}});
    EXPECT_LT(result.status, 2) << result.err;
    EXPECT_THAT(result.out, HasSubstr("Inside Constructor")) << "no trace lines";
    EXPECT_LE(Occurrences(result.out, "Inside WritePrefToRepository"), row.stores) << result.out;
    const Ordered document = Ordered::parse(ReadFile(sandbox.Path("doc.json")), nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << ReadFile(sandbox.Path("doc.json"));
    for (const auto& [pointer, keys] : row.keys) {
      std::string found;
      for (const auto& item : document.at(Ordered::json_pointer(pointer)).items()) {
        found += (found.empty() ? "" : " ") + item.key();
      }
      EXPECT_EQ(found, keys) << pointer;
    }
  }
  // The plan, the last document: its tags are its commands', in their order; a command is a
  // Java class or a script.
  const Ordered plan = Ordered::parse(ReadFile(sandbox.Path("doc.json")));
  Ordered tags = Ordered::array();
  std::set<std::string> kinds;
  for (const Ordered& command : plan.at("commands")) {
    tags.push_back(command.at("tag"));
    kinds.insert(command.at("kind").get<std::string>());
  }
  EXPECT_EQ(plan.at("tags"), tags);
  EXPECT_EQ(kinds, (std::set<std::string>{"java", "script"}));
}

}  // namespace
}  // namespace qimtest

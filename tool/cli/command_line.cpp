// The command line of wassetup and wassetup-ui: its options and commands, the parse, and the
// dispatch of the command named to its subcommand on a session.

#include "cli/command_line.h"

#include <functional>
#include <iostream>
#include <stdexcept>

#include <CLI/CLI.hpp>

#include "cli/named_on_line.h"
#include "cli/subcommands.h"
#include "core/file_checks.h"
#include "core/output_streams.h"
#include "core/safe_text.h"
#include "core/session.h"
#include "host/platform/environment.h"
#include "host/platform/files.h"
#include "host/platform/program.h"
#include "host/platform/user_folders.h"

namespace wassetup {

namespace {

// Everything the command line holds once parsed.
struct CommandLine {
  GlobalOptions options;
  bool json = false;
  SetOptions set;
  std::string planFrom;  // plan --from: a settings document applied in memory
  std::string toggleName;
  BrowseOptions browse;
  DeployOptions deploy;
  std::string javaLauncher;
  std::string scriptDirectory;
  UiOptions ui;
};

constexpr const char* kHelpText = "Print this help message and exit";

// Paths and names must not be empty: an empty value would silently mean the default.
const CLI::Validator kNotEmpty(
    [](std::string& value) { return value.empty() ? std::string("must not be empty") : ""; }, "",
    "not empty");

// Option `name`, defined when the arguments can name it; null when it is not.
template <typename Value>
CLI::Option* AddOption(CLI::App& app, const NamedOnLine& named, const char* name, Value& value,
                       const char* help) {
  return named.Names(name) ? app.add_option(name, value, help) : nullptr;
}

// Flag `name`, defined when the arguments can name it.
void AddFlag(CLI::App& app, const NamedOnLine& named, const char* name, bool& value,
             const char* help) {
  if (named.Names(name)) {
    app.add_flag(name, value, help);
  }
}

// An option whose value must not be empty (kNotEmpty), defined when the arguments can name it.
void AddNonEmpty(CLI::App& app, const NamedOnLine& named, const char* name, std::string& value,
                 const char* help) {
  if (CLI::Option* option = AddOption(app, named, name, value, help)) {
    option->check(kNotEmpty);
  }
}

// --lock-timeout takes 0 to 86400 seconds. Written out rather than as CLI::Range, which formats
// its description through a string stream in every run; the description and the refusal are
// Range's own.
const CLI::Validator kLockTimeoutRange(
    [](std::string& input) {
      double seconds = 0;
      if (!CLI::detail::lexical_cast(input, seconds) || seconds < 0.0 || seconds > 86400.0) {
        return "Value " + input + " not in range " + std::to_string(0.0) + " to " +
               std::to_string(86400.0);
      }
      return std::string();
    },
    "FLOAT in [0 - 86400]");

std::string DefaultJavaLauncher() {
  const char* javaHome = zaf::platform::EnvironmentValue("JAVA_HOME");
  return javaHome != nullptr && *javaHome != '\0'
             ? zaf::platform::JoinPath(zaf::platform::JoinPath(javaHome, "bin"), "java")
             : std::string("java");
}

void AddHostOptions(CLI::App& app, const NamedOnLine& named, GlobalOptions& options) {
  AddNonEmpty(app, named, "--plugin", options.pluginPath,
              "The plug-in module to load (default: the module installed with the tool)");
  if (named.Names("--prefs-dir")) {
    // Where the settings are by default is the system's, asked for only when it can be shown.
    const std::string help = "Folder of the stored settings (default: " +
                             zaf::platform::UserSettingsFolderRule("wassetup") + ")";
    AddNonEmpty(app, named, "--prefs-dir", options.prefsDir, help.c_str());
  }
  AddNonEmpty(app, named, "--catalog-dir", options.catalogDir,
              "Folder of the message and resource catalogs (default: the shipped ones)");
  AddOption(app, named, "--db-product", options.host.databaseProduct,
            "The database product the server uses: \"IBM DB2\" (default) or \"Oracle\" "
            "(another is warned about: the plan then lacks the database commands)");
  AddOption(app, named, "--was-dir", options.host.wasDirectory,
            "The application server's directory (default of the WebSphere field)");
  AddOption(app, named, "--nuv-servlet", options.host.nuvServlet,
            "The NUV servlet (default of the NUV servlet field)");
  AddOption(app, named, "--separator", options.separator,
            "The directory separator of the paths the plug-in joins (default \\, the Windows "
            "form of every other command piece; with / validate and plan warn about "
            "folder settings written with \\)");
  AddFlag(app, named, "--show-secrets", options.showSecrets,
          "Print passwords as typed instead of ********");
  if (CLI::Option* timeout =
          AddOption(app, named, "--lock-timeout", options.lockTimeoutSeconds,
                    "Seconds a command that stores settings waits for the settings lock another "
                    "process holds before it gives up with exit status 2 (default 30)")) {
    timeout->check(kLockTimeoutRange);
  }
  AddNonEmpty(app, named, "--output", options.outputFile,
              "Write the --json document to FILE instead of stdout (a regular file is replaced, "
              "owner-only; a device or FIFO is written in place; a symbolic link is refused)");
}

// What can be told wrong before the module is loaded and anything is read or stored.
void CheckCommandLine(const CommandLine& line) {
  if (!line.options.outputFile.empty()) {
    if (!line.json) {
      throw ToolError(
          "--output takes the --json document of info, show, get, set, validate, plan or deploy; "
          "add --json");
    }
    RequireWritableFile(line.options.outputFile, "--output");
  }
  if (!line.options.catalogDir.empty()) {
    RequireFolder(line.options.catalogDir, "--catalog-dir");
  }
  if (!line.javaLauncher.empty()) {
    RequireProgram(line.javaLauncher, "--java");
  }
  if (!line.scriptDirectory.empty()) {
    RequireFolder(line.scriptDirectory, "--script-dir");
  }
}

// The options of a command, defined on it once it is named.
using DefineOptions = std::function<void(CLI::App& self, const NamedOnLine& named)>;

// Adds the command `name` when the arguments can name it. Its options (`define`) and its
// --help are defined only once it is named on the command line, before its arguments are
// parsed: a run pays for its own command's options alone. Its --help lists them, since help is
// answered after the parse.
void AddCommand(CLI::App& app, const NamedOnLine& named, const char* name, const char* description,
                DefineOptions define = {}) {
  if (!named.Names(name)) {
    return;
  }
  CLI::App* command = app.add_subcommand(name, description);
  command->preparse_callback([command, &named, define = std::move(define)](std::size_t) {
    if (named.Names(kHelpFlag)) {
      command->set_help_flag(kHelpFlag, kHelpText);
    }
    if (define) {
      define(*command, named);
    }
  });
}

// The options of a command whose one option is --json.
DefineOptions JsonOption(CommandLine& line, const char* help) {
  return [&line, help](CLI::App& self, const NamedOnLine& named) {
    AddFlag(self, named, "--json", line.json, help);
  };
}

void AddFormCommands(CLI::App& app, const NamedOnLine& named, CommandLine& line) {
  AddCommand(
      app, named, "info", "The plug-in's symbolic name and Java variables",
      JsonOption(line, "As a JSON document (an empty variable with the reason it is empty)"));
  AddCommand(app, named, "show", "The three pages of settings as the operator sees them",
             JsonOption(line, "As a JSON document"));
  AddCommand(app, named, "get", "The settings as KEY=VALUE lines (passwords as ********)",
             JsonOption(line,
                        "As a JSON document, which 'set --from' reads (a masked password keeps "
                        "the current one; --show-secrets exports it)"));
  AddCommand(app, named, "set",
             "Change settings: KEY=VALUE..., or one KEY read from stdin (no echo on a terminal),"
             " or --from FILE; then store them",
             [&line](CLI::App& self, const NamedOnLine& options) {
               self.add_option("assignments", line.set.assignments, "KEY=VALUE pairs, or one KEY");
               AddNonEmpty(self, options, "--from", line.set.fromFile,
                           "A document written by 'get --json'; '-' reads it from standard "
                           "input");
               AddFlag(self, options, "--dry-run,--check", line.set.dryRun,
                       "Report which settings would change, old and new values (passwords "
                       "masked), and store nothing");
               AddFlag(self, options, "--json", line.json,
                       "Report the changed settings and the plug-in's verdict as a JSON "
                       "document");
             });
  AddCommand(app, named, "toggle",
             "Check or uncheck a check button as the operator would, then store the settings",
             [&line](CLI::App& self, const NamedOnLine& /*options*/) {
               self.add_option("NAME", line.toggleName, "EnableQimPlugIn or EnableCreateDatabase")
                   ->required();
             });
  AddCommand(
      app, named, "browse",
      "Press a browse button, close its chooser with OK on DIR (or --cancel), then "
      "store the settings",
      [&line](CLI::App& self, const NamedOnLine& options) {
        self.add_option("BUTTON", line.browse.button, "For instance BrowseQIMRT")->required();
        auto* directory = self.add_option("DIR", line.browse.directory, "The directory to choose");
        // Without --cancel among the arguments there is nothing for DIR to exclude.
        if (options.Names("--cancel")) {
          auto* cancel =
              self.add_flag("--cancel", line.browse.cancel, "Close the chooser with Cancel");
          directory->excludes(cancel);
        }
      });
}

// The options of a deployment that change what it runs or where it keeps its record, as the
// resume command must repeat them: those given, and those whose default comes from the
// environment (the preference folder, $JAVA_HOME) as they were resolved.
std::vector<std::string> RunShapingArguments(const CommandLine& line, const GlobalOptions& used) {
  const GlobalOptions defaults;
  std::vector<std::string> arguments;
  const auto add = [&arguments](const char* option, const std::string& value) {
    arguments.insert(arguments.end(), {option, value});
  };
  if (!line.options.pluginPath.empty()) {
    add("--plugin", line.options.pluginPath);
  }
  add("--prefs-dir", used.prefsDir);
  if (!line.options.catalogDir.empty()) {
    add("--catalog-dir", line.options.catalogDir);
  }
  if (used.host.databaseProduct != defaults.host.databaseProduct) {
    add("--db-product", used.host.databaseProduct);
  }
  if (!used.host.wasDirectory.empty()) {
    add("--was-dir", used.host.wasDirectory);
  }
  if (!used.host.nuvServlet.empty()) {
    add("--nuv-servlet", used.host.nuvServlet);
  }
  if (used.separator != defaults.separator) {
    add("--separator", used.separator);
  }
  arguments.push_back("deploy");
  if (used.host.javaLauncher != defaults.host.javaLauncher) {
    add("--java", used.host.javaLauncher);
  }
  if (used.host.scriptDirectory != defaults.host.scriptDirectory) {
    add("--script-dir", used.host.scriptDirectory);
  }
  if (!line.deploy.logFile.empty()) {
    add("--log", line.deploy.logFile);
  }
  return arguments;
}

void AddDeploymentCommands(CLI::App& app, const NamedOnLine& named, CommandLine& line) {
  AddCommand(app, named, "validate", "Check the settings as the plug-in does",
             JsonOption(line, "As a JSON document"));
  AddCommand(app, named, "plan",
             "The ordered commands of the deployment, the data source and the Java variables",
             [&line](CLI::App& self, const NamedOnLine& options) {
               AddFlag(self, options, "--json", line.json, "As a JSON document");
               AddNonEmpty(self, options, "--from", line.planFrom,
                           "The plan of these settings (a document as 'get --json' writes it; "
                           "'-' reads it from standard input), applied in memory: nothing is "
                           "stored");
             });
  AddCommand(app, named, "deploy",
             "Validate, then run the plan's commands in order, stopping at the first failure",
             [&line](CLI::App& self, const NamedOnLine& options) {
               AddNonEmpty(self, options, "--java", line.javaLauncher,
                           "The Java launcher (default: $JAVA_HOME/bin/java, else java)");
               AddNonEmpty(self, options, "--script-dir", line.scriptDirectory,
                           "The folder the scripts are run from (default: the current folder)");
               AddNonEmpty(self, options, "--start-at", line.deploy.startAt,
                           "Resume at this command (its tag)");
               AddNonEmpty(self, options, "--log", line.deploy.logFile,
                           "Append what was run to FILE (a new one is owner-only; a symbolic "
                           "link is refused)");
               AddFlag(self, options, "--json", line.json,
                       "Write one JSON document of the run on stdout; progress goes to "
                       "stderr");
             });
}

// The dialog in the browser; the deployment it runs takes the options of `deploy`.
void AddUiCommand(CLI::App& app, const NamedOnLine& named, CommandLine& line) {
  AddCommand(app, named, "ui",
             "Serve the setup dialog to a browser on this machine (127.0.0.1, entered once with a "
             "secret code) until interrupted",
             [&line](CLI::App& self, const NamedOnLine& options) {
               if (CLI::Option* port = AddOption(self, options, "--port", line.ui.port,
                                                 "The port to listen on (default: a free one)")) {
                 port->check(CLI::Range(0, 65535));
               }
               AddFlag(self, options, "--no-open", line.ui.noOpen,
                       "Only print the secret address (it works once); open no browser");
               AddNonEmpty(
                   self, options, "--java", line.javaLauncher,
                   "The Java launcher of the deployment (default: $JAVA_HOME/bin/java, else java)");
               AddNonEmpty(self, options, "--script-dir", line.scriptDirectory,
                           "The folder the deployment's scripts are run from (default: the current "
                           "folder)");
             });
}

// A command of the tool: whether it only looks (decided here, once, from its command line: it
// holds for all the command does) and what it runs on the session.
struct Command {
  const char* name;
  Access (*access)(const CommandLine& line);
  Outcome (*run)(Session& session, const CommandLine& line);
};

Access Looks(const CommandLine& /*line*/) {
  return Access::kLook;
}

Access Changes(const CommandLine& /*line*/) {
  return Access::kChange;
}

// A command whose one option is --json.
template <Outcome (*Run)(Session&, bool)>
Outcome WithJson(Session& session, const CommandLine& line) {
  return Run(session, line.json);
}

const Command kCommands[] = {
    {"info", Looks, WithJson<RunInfo>},
    {"show", Looks, WithJson<RunShow>},
    {"get", Looks, WithJson<RunGet>},
    {"set",
     [](const CommandLine& line) { return line.set.dryRun ? Access::kLook : Access::kChange; },
     [](Session& session, const CommandLine& line) {
       return RunSet(session, line.set, line.json);
     }},
    {"toggle", Changes,
     [](Session& session, const CommandLine& line) { return RunToggle(session, line.toggleName); }},
    {"browse", Changes,
     [](Session& session, const CommandLine& line) { return RunBrowse(session, line.browse); }},
    {"validate", Looks, WithJson<RunValidate>},
    {"plan", Looks,
     [](Session& session, const CommandLine& line) {
       return RunPlan(session, line.json, line.planFrom);
     }},
    {"deploy", Changes,
     [](Session& session, const CommandLine& line) {
       DeployOptions options = line.deploy;
       options.json = line.json;
       options.runArguments = RunShapingArguments(line, session.options());
       return RunDeploy(session, options);
     }},
    // What `ui` runs depends on the program (UiCommand).
    {"ui", Changes, nullptr},
};

// Runs the command parsed: the checks that need no module, then the session (the module loaded
// and the form built), then the command. A negative answer with its reason is told on stderr.
Outcome Dispatch(const std::string& name, CommandLine& line, const UiCommand& ui) {
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (name == candidate.name) {
      command = &candidate;
    }
  }
  if (command == nullptr) {
    throw std::logic_error("no command " + name);
  }
  if (name == "browse" && line.browse.directory.empty() && !line.browse.cancel) {
    throw ToolError("browse needs a DIR to choose, or --cancel");
  }
  if (name == "ui" && ui.handOver != nullptr) {
    CheckCommandLine(line);
    ui.handOver();
  }
  line.options.host.javaLauncher =
      line.javaLauncher.empty() ? DefaultJavaLauncher() : line.javaLauncher;
  line.options.host.scriptDirectory = line.scriptDirectory.empty() ? "." : line.scriptDirectory;
  CheckCommandLine(line);
  Session session(line.options, command->access(line));
  Outcome outcome =
      command->run != nullptr ? command->run(session, line) : ui.serve(session, line.ui);
  if (!outcome.refusal().empty()) {
    std::cerr << "wassetup: " << Printable(outcome.refusal()) << '\n';
  }
  return outcome;
}

// One line on stderr for a command line that cannot be parsed.
int ReportParseError(const CLI::ParseError& error) {
  std::cerr << "wassetup: " << Printable(error.what()) << "; see 'wassetup --help'\n";
  return kExitUsage;
}

// No subcommand was recognised: name what was given instead, and the commands there are.
int ReportMissingCommand(CLI::App& app) {
  const std::vector<std::string> unknown = app.remaining();
  std::cerr << "wassetup: "
            << (unknown.empty() ? std::string("no command given")
                                : "unknown command or option '" + Printable(unknown.front()) + "'")
            << "; the commands are info, show, get, set, toggle, browse, validate, plan, deploy "
               "and ui; see 'wassetup --help'\n";
  return kExitUsage;
}

// CLI11's App without the --help that its public constructor defines at once: the tool defines
// its own after the commands, and only when the arguments may ask for it.
class ToolApp : public CLI::App {
 public:
  ToolApp(std::string description, std::string name)
      : CLI::App(std::move(description), std::move(name), nullptr) {}
};

int ParseAndRun(int argc, char** argv, const UiCommand& ui) {
  const NamedOnLine named(argc, argv);
  ToolApp app{
      "wassetup: prepares a site for QIM with the QIM setup plug-in.\n"
      "Every command loads the plug-in module and builds its form from the stored settings\n"
      "(or the installation defaults) before it runs.\n"
      "Exit status: 0 success, 1 a negative answer (input not valid, a command failed),\n"
      "2 bad usage or an unusable environment (bad option or value, a settings file that\n"
      "cannot be read or is not valid, a module that cannot be loaded, settings that cannot be\n"
      "stored, a settings lock held longer than --lock-timeout).",
      "wassetup"};
  app.require_subcommand(1);
  app.fallthrough();

  // The commands first, while the tool has no --help of its own to hand down to them: each
  // defines its own when it is named (AddCommand).
  CommandLine line;
  AddFormCommands(app, named, line);
  AddDeploymentCommands(app, named, line);
  AddUiCommand(app, named, line);
  if (named.Names(kHelpFlag)) {
    app.set_help_flag(kHelpFlag, kHelpText);
  }
  if (named.Names("--version")) {
    app.set_version_flag("--version", std::string("wassetup ") + QIM_VERSION);
  }
  AddHostOptions(app, named, line.options);
  try {
    app.parse(argc, argv);
    return Dispatch(app.get_subcommands().front()->get_name(), line, ui).exitStatus();
  } catch (const CLI::Success& request) {
    // --help and --version: their text on stdout, status 0.
    return app.exit(request);
  } catch (const CLI::RequiredError& error) {
    // The top level requires nothing but a subcommand.
    return app.get_subcommands().empty() ? ReportMissingCommand(app) : ReportParseError(error);
  } catch (const CLI::ParseError& error) {
    return ReportParseError(error);
  } catch (const ToolError& error) {
    std::cerr << "wassetup: " << Printable(error.what()) << '\n';
    return error.exitStatus();
  }
}

// Whatever else escapes a command (memory exhausted, a fault of ours) ends the tool with one
// line and status 2, never with a signal and a core dump.
int ParseAndRunGuarded(int argc, char** argv, const UiCommand& ui) {
  try {
    return ParseAndRun(argc, argv, ui);
  } catch (const std::exception& error) {
    std::cerr << "wassetup: internal error: " << Printable(error.what()) << '\n';
  } catch (...) {
    std::cerr << "wassetup: internal error\n";
  }
  return kExitUsage;
}

}  // namespace

// The arguments are UTF-8 on every system (zaf::platform::ProgramArguments).
int RunCommandLine(int argc, char** argv, const UiCommand& ui) {
  PrepareStandardStreams();
  char** arguments = zaf::platform::ProgramArguments(argc, argv);
  const int status = ParseAndRunGuarded(argc, arguments, ui);
  return FinishStandardOutput() ? status : kExitUsage;
}

}  // namespace wassetup

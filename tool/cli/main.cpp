// wassetup: the deployment tool that hosts the QIM setup plug-in. It loads the module, makes
// the plug-in, builds its form and drives its operations from the command line.

#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/subcommands.h"
#include "core/file_checks.h"
#include "core/session.h"
#include "ui/server.h"

namespace {

using namespace wassetup;

constexpr int kExitUsage = 2;

// Everything the command line holds once parsed.
struct CommandLine {
  GlobalOptions options;
  bool json = false;
  SetOptions set;
  std::string toggleName;
  BrowseOptions browse;
  DeployOptions deploy;
  std::string javaLauncher;
  std::string scriptDirectory;
  UiOptions ui;
};

// The subcommands, to tell which one was given.
struct Commands {
  CLI::App* info = nullptr;
  CLI::App* show = nullptr;
  CLI::App* get = nullptr;
  CLI::App* set = nullptr;
  CLI::App* toggle = nullptr;
  CLI::App* browse = nullptr;
  CLI::App* validate = nullptr;
  CLI::App* plan = nullptr;
  CLI::App* deploy = nullptr;
  CLI::App* ui = nullptr;
};

// Paths and names must not be empty: an empty value would silently mean the default.
const CLI::Validator kNotEmpty(
    [](std::string& value) { return value.empty() ? std::string("must not be empty") : ""; }, "",
    "not empty");

std::string DefaultJavaLauncher() {
  const char* javaHome = std::getenv("JAVA_HOME");
  return javaHome != nullptr && *javaHome != '\0' ? std::string(javaHome) + "/bin/java"
                                                  : std::string("java");
}

void AddHostOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option("--plugin", options.pluginPath,
                 "The plug-in module to load (default: the module installed with the tool)")
      ->check(kNotEmpty);
  app.add_option("--prefs-dir", options.prefsDir,
                 "Folder of the stored settings (default: $XDG_CONFIG_HOME/wassetup, else "
                 "~/.config/wassetup)")
      ->check(kNotEmpty);
  app.add_option("--catalog-dir", options.catalogDir,
                 "Folder of the message and resource catalogs (default: the shipped ones)")
      ->check(kNotEmpty);
  app.add_option("--db-product", options.host.databaseProduct,
                 "The database product the server uses: \"IBM DB2\" (default) or \"Oracle\"");
  app.add_option("--was-dir", options.host.wasDirectory,
                 "The application server's directory (default of the WebSphere field)");
  app.add_option("--nuv-servlet", options.host.nuvServlet,
                 "The NUV servlet (default of the NUV servlet field)");
  app.add_option("--separator", options.separator,
                 "The directory separator of the paths the plug-in joins (default /)");
  app.add_flag("--show-secrets", options.showSecrets,
               "Print passwords as typed instead of ********");
  app.add_option("--output", options.outputFile,
                 "Write the --json document to FILE instead of stdout")
      ->check(kNotEmpty);
}

void AddFormCommands(CLI::App& app, CommandLine& line, Commands& commands) {
  commands.info = app.add_subcommand("info", "The plug-in's symbolic name and Java variables");
  commands.show =
      app.add_subcommand("show", "The three pages of settings as the operator sees them");
  commands.show->add_flag("--json", line.json, "As a JSON document");
  commands.get =
      app.add_subcommand("get", "The settings as KEY=VALUE lines (this also stores them)");
  commands.get->add_flag("--json", line.json, "As a JSON document, which 'set --from' reads");

  commands.set = app.add_subcommand(
      "set",
      "Change settings: KEY=VALUE..., or one KEY read from stdin (no echo on a terminal),"
      " or --from FILE; then store them");
  commands.set->add_option("assignments", line.set.assignments, "KEY=VALUE pairs, or one KEY");
  commands.set
      ->add_option("--from", line.set.fromFile,
                   "A document written by 'get --json'; '-' reads it from standard input")
      ->check(kNotEmpty);
  commands.set->add_flag("--dry-run,--check", line.set.dryRun,
                         "Report which settings would change, old and new values (passwords "
                         "masked), and store nothing");
  commands.set->add_flag(
      "--json", line.json,
      "Report the changed settings and the plug-in's verdict as a JSON document");

  commands.toggle = app.add_subcommand(
      "toggle", "Check or uncheck a check button as the operator would, then store the settings");
  commands.toggle->add_option("NAME", line.toggleName, "EnableQimPlugIn or EnableCreateDatabase")
      ->required();

  commands.browse = app.add_subcommand(
      "browse",
      "Press a browse button, close its chooser with OK on DIR (or --cancel), then "
      "store the settings");
  commands.browse->add_option("BUTTON", line.browse.button, "For instance BrowseQIMRT")->required();
  auto* directory =
      commands.browse->add_option("DIR", line.browse.directory, "The directory to choose");
  auto* cancel =
      commands.browse->add_flag("--cancel", line.browse.cancel, "Close the chooser with Cancel");
  directory->excludes(cancel);
}

void AddDeploymentCommands(CLI::App& app, CommandLine& line, Commands& commands) {
  commands.validate = app.add_subcommand("validate", "Check the settings as the plug-in does");
  commands.validate->add_flag("--json", line.json, "As a JSON document");
  commands.plan = app.add_subcommand(
      "plan", "The ordered commands of the deployment, the data source and the Java variables");
  commands.plan->add_flag("--json", line.json, "As a JSON document");

  commands.deploy = app.add_subcommand(
      "deploy", "Validate, then run the plan's commands in order, stopping at the first failure");
  commands.deploy
      ->add_option("--java", line.javaLauncher,
                   "The Java launcher (default: $JAVA_HOME/bin/java, else java)")
      ->check(kNotEmpty);
  commands.deploy
      ->add_option("--script-dir", line.scriptDirectory,
                   "The folder the scripts are run from (default: the current folder)")
      ->check(kNotEmpty);
  commands.deploy->add_option("--start-at", line.deploy.startAt, "Resume at this command (its tag)")
      ->check(kNotEmpty);
  commands.deploy->add_option("--log", line.deploy.logFile, "Append what was run to FILE")
      ->check(kNotEmpty);
}

// The dialog in the browser; the deployment it runs takes the options of `deploy`.
void AddUiCommand(CLI::App& app, CommandLine& line, Commands& commands) {
  commands.ui = app.add_subcommand(
      "ui",
      "Serve the setup dialog to a browser on this machine (127.0.0.1, entered once with a "
      "secret code) until interrupted");
  commands.ui->add_option("--port", line.ui.port, "The port to listen on (default: a free one)")
      ->check(CLI::Range(0, 65535));
  commands.ui->add_flag("--no-open", line.ui.noOpen,
                        "Only print the secret address (it works once); open no browser");
  commands.ui
      ->add_option("--java", line.javaLauncher,
                   "The Java launcher of the deployment (default: $JAVA_HOME/bin/java, else java)")
      ->check(kNotEmpty);
  commands.ui
      ->add_option("--script-dir", line.scriptDirectory,
                   "The folder the deployment's scripts are run from (default: the current folder)")
      ->check(kNotEmpty);
}

// One line on stderr for a command line that cannot be parsed; help and version go to stdout.
int ReportParseError(CLI::App& app, const CLI::ParseError& error) {
  if (error.get_exit_code() == 0) {
    return app.exit(error);
  }
  std::string message = error.what();
  if (app.get_subcommands().empty() && message.find("subcommand") != std::string::npos) {
    const std::vector<std::string> unknown = app.remaining();
    message =
        (unknown.empty() ? std::string("no command given")
                         : "unknown command or option '" + unknown.front() + "'") +
        "; the commands are info, show, get, set, toggle, browse, validate, plan, deploy and ui";
  }
  std::cerr << "wassetup: " << message << "; see 'wassetup --help'\n";
  return kExitUsage;
}

// What can be told wrong before the module is loaded and anything is read or stored.
void CheckCommandLine(const CommandLine& line, const Commands& commands) {
  if (commands.browse->parsed() && line.browse.directory.empty() && !line.browse.cancel) {
    throw UsageError("browse needs a DIR to choose, or --cancel");
  }
  if (!line.options.outputFile.empty()) {
    if (!line.json) {
      throw UsageError(
          "--output takes the --json document of show, get, set, validate or plan; add --json");
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

int Dispatch(Session& session, const CommandLine& line, const Commands& commands) {
  if (commands.info->parsed())
    return RunInfo(session);
  if (commands.show->parsed())
    return RunShow(session, line.json);
  if (commands.get->parsed())
    return RunGet(session, line.json);
  if (commands.set->parsed())
    return RunSet(session, line.set, line.json);
  if (commands.toggle->parsed())
    return RunToggle(session, line.toggleName);
  if (commands.browse->parsed())
    return RunBrowse(session, line.browse);
  if (commands.validate->parsed())
    return RunValidate(session, line.json);
  if (commands.plan->parsed())
    return RunPlan(session, line.json);
  if (commands.deploy->parsed())
    return RunDeploy(session, line.deploy);
  if (commands.ui->parsed())
    return RunUi(session, line.ui);
  return kExitUsage;
}

int Run(CommandLine& line, const Commands& commands) {
  line.options.host.javaLauncher =
      line.javaLauncher.empty() ? DefaultJavaLauncher() : line.javaLauncher;
  line.options.host.scriptDirectory = line.scriptDirectory.empty() ? "." : line.scriptDirectory;
  try {
    CheckCommandLine(line, commands);
    if (commands.ui->parsed()) {
      HandOverUi();
    }
    Session session(line.options);
    return Dispatch(session, line, commands);
  } catch (const UsageError& error) {
    std::cerr << "wassetup: " << error.what() << '\n';
  } catch (const LoadError& error) {
    std::cerr << "wassetup: " << error.what() << '\n';
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "wassetup: prepares a site for QIM with the QIM setup plug-in.\n"
      "Every command loads the plug-in module and builds its form from the stored settings\n"
      "(or the installation defaults) before it runs.\n"
      "Exit status: 0 success, 1 a negative answer (input not valid, a command failed),\n"
      "2 bad usage or an unusable environment (bad option or value, a settings file that\n"
      "cannot be read or is not valid, a module that cannot be loaded).",
      "wassetup"};
  app.set_version_flag("--version", std::string("wassetup ") + QIM_VERSION);
  app.require_subcommand(1);
  app.fallthrough();

  CommandLine line;
  Commands commands;
  AddHostOptions(app, line.options);
  AddFormCommands(app, line, commands);
  AddDeploymentCommands(app, line, commands);
  AddUiCommand(app, line, commands);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return ReportParseError(app, error);
  }
  return Run(line, commands);
}

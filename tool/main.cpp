// wassetup: the deployment tool that hosts the QIM setup plug-in. It loads the module, makes
// the plug-in, builds its form and drives its operations from the command line.

#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include "tool/commands.h"
#include "tool/session.h"

namespace {

using namespace wassetup;

constexpr int kExitUsage = 2;

std::string DefaultJavaLauncher() {
  const char* javaHome = std::getenv("JAVA_HOME");
  return javaHome != nullptr && *javaHome != '\0' ? std::string(javaHome) + "/bin/java"
                                                  : std::string("java");
}

void AddHostOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option("--plugin", options.pluginPath,
                 "The plug-in module to load (default: the module installed with the tool)");
  app.add_option("--prefs-dir", options.prefsDir,
                 "Folder of the stored settings (default: $XDG_CONFIG_HOME/wassetup, else "
                 "~/.config/wassetup)");
  app.add_option("--catalog-dir", options.catalogDir,
                 "Folder of the message and resource catalogs (default: the shipped ones)");
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
                 "Write the --json document to FILE instead of stdout");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "wassetup: prepares a site for QIM with the QIM setup plug-in.\n"
      "Every command loads the plug-in module and builds its form from the stored settings\n"
      "(or the installation defaults) before it runs.\n"
      "Exit status: 0 success, 1 a negative answer (input not valid, a command failed),\n"
      "2 bad usage or an unusable environment.",
      "wassetup"};
  app.set_version_flag("--version", std::string("wassetup ") + QIM_VERSION);
  app.require_subcommand(1);
  app.fallthrough();

  GlobalOptions options;
  AddHostOptions(app, options);

  bool json = false;
  auto* info = app.add_subcommand("info", "The plug-in's symbolic name and Java variables");
  auto* show = app.add_subcommand("show", "The three pages of settings as the operator sees them");
  show->add_flag("--json", json, "As a JSON document");
  auto* get = app.add_subcommand("get", "The settings as KEY=VALUE lines (this also stores them)");
  get->add_flag("--json", json, "As a JSON document, which 'set --from' reads");

  SetOptions setOptions;
  auto* set = app.add_subcommand(
      "set",
      "Change settings: KEY=VALUE..., or one KEY read from stdin (no echo on a terminal),"
      " or --from FILE; then store them");
  set->add_option("assignments", setOptions.assignments, "KEY=VALUE pairs, or one KEY");
  set->add_option("--from", setOptions.fromFile, "A document written by 'get --json'");

  std::string toggleName;
  auto* toggle = app.add_subcommand(
      "toggle", "Check or uncheck a check button as the operator would, then store the settings");
  toggle->add_option("NAME", toggleName, "EnableQimPlugIn or EnableCreateDatabase")->required();

  BrowseOptions browseOptions;
  auto* browse = app.add_subcommand(
      "browse",
      "Press a browse button, close its chooser with OK on DIR (or --cancel), then "
      "store the settings");
  browse->add_option("BUTTON", browseOptions.button, "For instance BrowseQIMRT")->required();
  auto* directory = browse->add_option("DIR", browseOptions.directory, "The directory to choose");
  auto* cancel =
      browse->add_flag("--cancel", browseOptions.cancel, "Close the chooser with Cancel");
  directory->excludes(cancel);

  auto* validate = app.add_subcommand("validate", "Check the settings as the plug-in does");
  validate->add_flag("--json", json, "As a JSON document");
  auto* plan = app.add_subcommand(
      "plan", "The ordered commands of the deployment, the data source and the Java variables");
  plan->add_flag("--json", json, "As a JSON document");

  DeployOptions deployOptions;
  std::string javaLauncher;
  std::string scriptDirectory = ".";
  auto* deploy = app.add_subcommand(
      "deploy", "Validate, then run the plan's commands in order, stopping at the first failure");
  deploy->add_option("--java", javaLauncher,
                     "The Java launcher (default: $JAVA_HOME/bin/java, else java)");
  deploy->add_option("--script-dir", scriptDirectory,
                     "The folder the scripts are run from (default: the current folder)");
  deploy->add_option("--start-at", deployOptions.startAt, "Resume at this command (its tag)");
  deploy->add_option("--log", deployOptions.logFile, "Append what was run to FILE");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : kExitUsage;
  }
  if (browse->parsed() && browseOptions.directory.empty() && !browseOptions.cancel) {
    std::cerr << "wassetup: browse needs a DIR to choose, or --cancel\n";
    return kExitUsage;
  }

  options.host.javaLauncher = javaLauncher.empty() ? DefaultJavaLauncher() : javaLauncher;
  options.host.scriptDirectory = scriptDirectory;
  try {
    Session session(options);
    if (info->parsed())
      return RunInfo(session);
    if (show->parsed())
      return RunShow(session, json);
    if (get->parsed())
      return RunGet(session, json);
    if (set->parsed())
      return RunSet(session, setOptions);
    if (toggle->parsed())
      return RunToggle(session, toggleName);
    if (browse->parsed())
      return RunBrowse(session, browseOptions);
    if (validate->parsed())
      return RunValidate(session, json);
    if (plan->parsed())
      return RunPlan(session, json);
    if (deploy->parsed())
      return RunDeploy(session, deployOptions);
  } catch (const UsageError& error) {
    std::cerr << "wassetup: " << error.what() << '\n';
    return kExitUsage;
  } catch (const LoadError& error) {
    std::cerr << "wassetup: " << error.what() << '\n';
    return kExitUsage;
  }
  return kExitUsage;
}

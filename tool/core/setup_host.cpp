#include "core/setup_host.h"

#include <iostream>

#include "host/platform/files.h"
#include "host/platform/shell_quote.h"

namespace wassetup {

std::vector<std::string> ToStrings(const ZAFListValZAFUnicodeString& list) {
  std::vector<std::string> strings;
  strings.reserve(static_cast<std::size_t>(list.Size()));
  for (int position = 1; position <= list.Size(); ++position) {
    strings.push_back(list[position].str());
  }
  return strings;
}

int SetupHost::GetPlatformName(ZAFUnicodeString& platform) {
  platform = "linux";
  return 0;
}

int SetupHost::GetDatabaseSettings(WASDatabaseSettings& settings) {
  settings.DatabaseProduct = settings_.databaseProduct;
  return 0;
}

int SetupHost::GetServerSettings(WASServerSettings& settings) {
  settings.InstallDirectory = settings_.wasDirectory;
  settings.NuvServlet = settings_.nuvServlet;
  return 0;
}

int SetupHost::ShowStatus(const ZAFUnicodeString& text) {
  std::cerr << text << '\n';
  return 0;
}

int SetupHost::BuildJavaCommand(const ZAFListValZAFUnicodeString& options,
                                const ZAFUnicodeString& className,
                                const ZAFListValZAFUnicodeString& arguments,
                                ZAFUnicodeString& commandLine) {
  ComposedCommand command;
  command.kind = ComposedCommand::Kind::kJava;
  command.options = ToStrings(options);
  command.className = className.str();
  command.arguments = ToStrings(arguments);
  command.argv.reserve(2 + command.options.size() + command.arguments.size());
  command.argv.push_back(settings_.javaLauncher);
  command.argv.insert(command.argv.end(), command.options.begin(), command.options.end());
  command.argv.push_back(command.className);
  command.argv.insert(command.argv.end(), command.arguments.begin(), command.arguments.end());
  command.line = zaf::platform::ShellCommandLine(command.argv);
  commandLine = command.line;
  Deliver(std::move(command));
  return 0;
}

int SetupHost::BuildScriptCommand(const ZAFUnicodeString& script,
                                  const ZAFListValZAFUnicodeString& arguments,
                                  ZAFUnicodeString& commandLine) {
  ComposedCommand command;
  command.kind = ComposedCommand::Kind::kScript;
  command.script = script.str();
  command.arguments = ToStrings(arguments);
  command.argv.reserve(1 + command.arguments.size());
  // Scripts come with the installation and are looked up in the host's script folder; the
  // path always holds a folder part, so running it never searches PATH.
  command.argv.push_back(zaf::platform::JoinPath(settings_.scriptDirectory, command.script));
  command.argv.insert(command.argv.end(), command.arguments.begin(), command.arguments.end());
  command.line = zaf::platform::ShellCommandLine(command.argv);
  commandLine = command.line;
  Deliver(std::move(command));
  return 0;
}

void SetupHost::Deliver(ComposedCommand command) {
  if (composing_ != nullptr) {
    *composing_ = std::move(command);
  }
}

ComposedCommand SetupHost::Compose(WASSetupUIPlugIn& plugin, const void* tag) {
  ComposedCommand composed;
  composing_ = &composed;
  // The slot points into this frame: it goes when the frame does, even on an exception.
  struct EndOfCompose {
    ComposedCommand*& slot;
    ~EndOfCompose() { slot = nullptr; }
  } end{composing_};
  ZAFUnicodeString line;
  plugin.GetCommandString(tag, line);
  if (line.IsEmpty()) {
    return ComposedCommand();
  }
  return composed;  // moved out, not copied as a branch of ?: would be
}

}  // namespace wassetup

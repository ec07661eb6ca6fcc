#include "bench/bench_support.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "host/zaf_host.h"

namespace qimbench {

namespace {

void AppendWords(std::string& line, const ZAFListValZAFUnicodeString& words) {
  for (int position = 1; position <= words.Size(); ++position) {
    line += ' ';
    line += words[position].str();
  }
}

}  // namespace

int ComposingHost::GetDatabaseSettings(WASDatabaseSettings& settings) {
  settings.DatabaseProduct = "IBM DB2";
  return 0;
}

int ComposingHost::BuildJavaCommand(const ZAFListValZAFUnicodeString& options,
                                    const ZAFUnicodeString& className,
                                    const ZAFListValZAFUnicodeString& arguments,
                                    ZAFUnicodeString& commandLine) {
  std::string line = "java";
  AppendWords(line, options);
  line += ' ';
  line += className.str();
  AppendWords(line, arguments);
  commandLine = std::move(line);
  return 0;
}

int ComposingHost::BuildScriptCommand(const ZAFUnicodeString& script,
                                      const ZAFListValZAFUnicodeString& arguments,
                                      ZAFUnicodeString& commandLine) {
  std::string line = script.str();
  AppendWords(line, arguments);
  commandLine = std::move(line);
  return 0;
}

int NullRepository::ReadPreference(const ZAFString& /*name*/, int* /*values*/, int /*count*/) {
  return -1;
}

int NullRepository::ReadPreference(const ZAFString& /*name*/, ZAFUnicodeString** /*values*/,
                                   int /*count*/) {
  return -1;
}

int NullRepository::WritePreference(const ZAFString& /*name*/, const int* /*values*/,
                                    int /*count*/) {
  return 0;
}

int NullRepository::WritePreference(const ZAFString& /*name*/,
                                    const ZAFUnicodeString* const* /*values*/, int /*count*/) {
  return 0;
}

int NullRepository::SaveRepository(void* /*reserved*/) {
  return 0;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qimbench.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder");
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedHost::ScopedHost(const std::string& preferenceDirectory,
                       ZAFSysPreferenceRepository* repository) {
  zaf::ResetHost();
  zaf::SetCatalogDirectory(kCatalogDirectory);
  zaf::SetPreferenceDirectory(preferenceDirectory);
  zaf::SetDiagnosticSink([this](const std::string& /*line*/) { ++diagnostics_; });
  if (repository != nullptr) {
    zaf::SetPreferenceRepositoryProvider(
        [repository](const std::string& /*name*/) { return repository; });
  }
}

ScopedHost::~ScopedHost() {
  zaf::ResetHost();
}

std::size_t RunPlan(WASSetupUIPlugIn& plugin) {
  ZAFRawCollPV tags;
  plugin.GetCommandTags(tags);
  std::size_t length = 0;
  ZAFUnicodeString commandLine;
  for (int position = 1; position <= tags.Size(); ++position) {
    plugin.GetCommandString(tags[position], commandLine);
    length += commandLine.str().size();
  }
  return length;
}

}  // namespace qimbench

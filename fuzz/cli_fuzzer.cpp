// Fuzzes wassetup's command line end to end: the input becomes a few stored settings, an
// environment, host options and a command with their values (any bytes), and a forked wassetup
// runs them in a scratch folder. Whatever the bytes, the tool must end by exiting with 0, 1 or
// 2, never by a signal (a sanitizer finding aborts it); a --json document it writes must parse;
// its text output must hold no control character but the line end.
//
// Only commands that run nothing are driven (deploy runs programs, ui serves a dialog); paths
// given to the tool stay inside the scratch folder.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "test_support.h"

namespace {

using Names = std::vector<std::string>;

// The folder every run works in.
std::string scratch;

// The commands driven; any other first word gets "show" put before it.
const Names kCommands = {"info", "show", "get", "set", "toggle", "browse", "validate", "plan"};
const Names kEnvironment = {"JAVA_HOME", "NO_COLOR", "LANG", "LC_ALL", "HOME"};
// Options whose value names a file or folder: their values are kept inside the scratch folder.
const Names kPathOptions = {"--output", "--catalog-dir", "--plugin",     "--from", "--prefs-dir",
                            "--log",    "--java",        "--script-dir", "HOME"};

bool Among(const Names& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string InsideScratch(std::string value) {
  for (std::size_t at; (at = value.find("..")) != std::string::npos;)
    value.replace(at, 2, "__");
  return "./f-" + value;
}

// A stray word must not run programs, serve a dialog, or name a path outside the scratch
// folder through an option (path options come as "O:" fields only).
bool Harmless(const std::string& word) {
  return word != "deploy" && word != "ui" &&
         std::none_of(kPathOptions.begin(), kPathOptions.end(),
                      [&word](const std::string& path) { return word.rfind(path, 0) == 0; });
}

// The input is fields separated by NUL bytes, each tagged by its first two bytes:
//   "S:KEY=VALUE"   a setting stored first with `set`;
//   "E:NAME=VALUE"  an environment variable (of kEnvironment);
//   "O:--OPT=VALUE" a host option and its value (a path value is kept in the scratch folder);
//   "F:--FLAG"      a host option without a value;
//   "C:WORD"        the next word of the command (the first should be one of kCommands).
// Other fields are ignored, so the seeds read as what they test.
struct Decoded {
  Names stored{"set"};
  Names command;
  std::map<std::string, std::string> environment;  // of the command only
  bool json = false;
};

Decoded Decode(const std::string& input) {
  Decoded decoded;
  Names words;
  std::istringstream fields(input);
  for (std::string field; std::getline(fields, field, '\0');) {
    if (field.size() < 2 || field[1] != ':')
      continue;
    const std::string body = field.substr(2);
    const std::size_t equals = body.find('=');
    const std::string name = body.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : body.substr(equals + 1);
    if (field[0] == 'S') {
      decoded.stored.push_back(body);
    } else if (field[0] == 'E' && Among(kEnvironment, name)) {
      decoded.environment[name] =
          Among(kPathOptions, name) ? scratch + "/" + InsideScratch(value) : value;
    } else if (field[0] == 'O') {
      decoded.command.push_back(name);
      decoded.command.push_back(Among(kPathOptions, name) ? InsideScratch(value) : value);
    } else if ((field[0] == 'F' || field[0] == 'C') && Harmless(body)) {
      (field[0] == 'F' ? decoded.command : words).push_back(body);
    }
  }
  if (words.empty() || !Among(kCommands, words.front()))
    words.insert(words.begin(), "show");
  decoded.json = Among(words, "--json");
  decoded.command.insert(decoded.command.end(), words.begin(), words.end());
  return decoded;
}

// Runs wassetup with `arguments` in the scratch folder (this process's working folder), with
// `environment` set, requires that it end by exiting with 0, 1 or 2, and gives its status and
// what it wrote to standard output.
int Execute(const Names& arguments, const std::map<std::string, std::string>& environment,
            std::string& out) {
  Names argv{WASSETUP_PATH, "--prefs-dir", scratch + "/prefs"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::unique_ptr<qimtest::ScopedEnv>> scoped;
  for (const auto& [name, value] : environment)
    scoped.push_back(std::make_unique<qimtest::ScopedEnv>(name, value));
  const qimtest::Ran ran = qimtest::Execute(argv);
  Require(ran.ending.rfind("exited ", 0) == 0, "the tool exits, never ends by a signal");
  const int status = std::atoi(ran.ending.c_str() + 7);
  Require(status <= 2, "the exit status is 0, 1 or 2");
  out = ran.out;
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static const qimtest::TempDir folder;  // under $TMPDIR, removed at the exit
  scratch = folder.path();
  std::filesystem::current_path(scratch);
  // A sanitizer finding in the tool ends it with SIGABRT, which is what this harness checks.
  setenv("ASAN_OPTIONS", "abort_on_error=1:detect_leaks=1", 1);
  setenv("UBSAN_OPTIONS", "halt_on_error=1:abort_on_error=1:print_stacktrace=1", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each input starts from an empty folder: no settings, no file an earlier run wrote.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(scratch, ignored))
    std::filesystem::remove_all(entry.path(), ignored);
  const Decoded decoded = Decode(std::string(reinterpret_cast<const char*>(data), size));
  std::string out;
  if (decoded.stored.size() > 1)
    Execute(decoded.stored, {}, out);
  if (Execute(decoded.command, decoded.environment, out) == 0 && decoded.json && !out.empty())
    Require(!nlohmann::json::parse(out, nullptr, false).is_discarded(), "a --json document parses");
  Require(decoded.json ||
              std::none_of(out.begin(), out.end(),
                           [](unsigned char c) { return (c < 0x20 && c != '\n') || c == 0x7F; }),
          "text output holds no control character");
  return 0;
}

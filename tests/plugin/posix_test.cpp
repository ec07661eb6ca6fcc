// The plug-in where its tests rest on POSIX: the module loaded through dlopen (the host's
// loader), and the variable that switches test-harness mode, read in fresh processes (fork,
// execve, setenv). A build without POSIX leaves this file out; win32_test.cpp is the Windows
// side of the loader.

#include <sys/wait.h>
#include <unistd.h>

#include "host/platform/module.h"
#include "plugin_fixture.h"

namespace qimtest {

// Through the host's loader, which is dlopen here: the factory makes the plug-in, or nothing
// when the allocator fails; a missing symbol or module comes with the loader's reason.
TEST(ModuleTest, ExportedFactoryMakesThePlugInOrNullWhenTheAllocatorFails) {
  zaf::platform::LoadedModule module(QIM_MODULE_PATH);
  ASSERT_TRUE(module.IsLoaded()) << module.Error();
  const auto factory =
      reinterpret_cast<WASSetupUIPlugInFactory>(module.Symbol("fctCreateWASSetupUIPlugIn"));
  ASSERT_NE(factory, nullptr) << module.Error();
  WASSetupUIPlugIn* plugin = factory();
  ASSERT_NE(plugin, nullptr);
  ZAFUnicodeString name;
  plugin->GetSymbolicName(name);
  EXPECT_EQ(name, "QimSetup");
  delete plugin;
  const ZAFObject::Allocator previous =
      ZAFObject::SetAllocator([](std::size_t) -> void* { return nullptr; });
  EXPECT_EQ(factory(), nullptr);
  ZAFObject::SetAllocator(previous);
  EXPECT_EQ(module.Symbol("NoSuchSymbol"), nullptr);
  EXPECT_NE(module.Error().find("NoSuchSymbol"), std::string::npos) << module.Error();
  EXPECT_NE(zaf::platform::LoadedModule(TempDir().File("None.so")).Error().find("None.so"),
            std::string::npos);
}

// What a plug-in made in a fresh process with `environment` (the whole of it) writes to
// standard output.
std::string TraceOfAFreshProcess(const std::vector<std::string>& environment) {
  int ends[2];
  if (::pipe(ends) != 0)
    return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(ends[1], STDOUT_FILENO);
    ::close(ends[0]);
    std::vector<char*> envp;
    for (const std::string& variable : environment)
      envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    char* const argv[] = {const_cast<char*>(QIM_HARNESS_PROBE_PATH), nullptr};
    ::execve(QIM_HARNESS_PROBE_PATH, argv, envp.data());
    ::_exit(127);
  }
  ::close(ends[1]);
  std::string trace;
  char buffer[256];
  for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
    trace.append(buffer, static_cast<std::size_t>(got));
  ::close(ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? trace : "the probe failed";
}

TEST(HarnessVariableTest, OnlyTheExactNameDefinedSwitchesTheModeWhateverItsValue) {
  const std::tuple<Texts, bool, const char*> rows[] = {
      {{}, false, "unset: the plug-in as a host runs it"},
      {{"YTQ_RT_OUT="}, true, "defined but empty still counts"},
      {{"YTQ_RT_OUT=harness"}, true, "any value"},
      {{"YTQ_RT_OUT=0"}, true, "a value that reads as no is still a definition"},
      {{"YTQ_RT_OUT=false"}, true, "even \"false\""},
      {{"ytq_rt_out=1"}, false, "the name is compared with its letter case"},
      {{"YTQ_RT_OUTPUT=1", "YTQ_RT_OU=1"}, false, "longer or shorter names do not count"},
  };
  for (const auto& [environment, harness, why] : rows) {
    EXPECT_EQ(TraceOfAFreshProcess(environment),
              harness ? "Inside Constructor \nInside destructor.... \n" : "")
        << why;
  }
}

// Test-harness mode is decided by the first construction of the process, so this runs in a
// fresh process (gtest's "threadsafe" death tests re-run the program for the statement). The
// process exits with 0 when the traces of two constructions are `expected`: the first made
// with "YTQ_RT_OUT" as it is, the second after setting it to "1".
[[noreturn]] void ExitOnTraces(const std::string& expected) {
  std::string traces;
  for (int construction = 0; construction < 2; ++construction) {
    ::testing::internal::CaptureStdout();
    { QimSetupPlugIn plugin; }
    traces += ::testing::internal::GetCapturedStdout() + "/";
    setenv("YTQ_RT_OUT", "1", 1);
  }
  std::exit(traces == expected ? 0 : 1);
}

TEST(HarnessModeTest, TheVariableIsReadOnlyByTheFirstConstruction) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(ExitOnTraces("//"), ::testing::ExitedWithCode(0), "");
}

}  // namespace qimtest

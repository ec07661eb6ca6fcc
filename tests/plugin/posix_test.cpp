// The plug-in where its tests rest on POSIX: the module loaded through dlopen (the host's
// loader), and the variable that switches test-harness mode, read in fresh processes (env -i,
// setenv). A build without POSIX leaves this file out; win32_test.cpp is the Windows
// side of the loader.

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

// What the probe writes to standard output in a fresh process with each environment (the whole of
// it): its two plug-ins, the second made after it set "YTQ_RT_OUT" itself, which must not
// matter, since the mode is decided by the first construction of the process.
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
  const std::string object = "Inside Constructor \nInside destructor.... \n";
  for (const auto& [environment, harness, why] : rows) {
    Texts argv = {"env", "-i"};
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.push_back(QIM_HARNESS_PROBE_PATH);
    const Ran ran = Execute(argv);
    EXPECT_EQ(ran.ending + ran.out, "exited 0" + (harness ? object + object : "")) << why;
  }
}

}  // namespace qimtest

// The plug-in object itself: the module's exports, copies, messages and test-harness mode.

#include <dlfcn.h>

#include "plugin_fixture.h"

namespace qimtest {

TEST(ModuleTest, ExportedFactoryMakesThePlugInOrNullWhenTheAllocatorFails) {
  void* module = dlopen(QIM_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  const auto factory =
      reinterpret_cast<WASSetupUIPlugInFactory>(dlsym(module, "fctCreateWASSetupUIPlugIn"));
  ASSERT_NE(factory, nullptr);
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
  dlclose(module);
}

class PlugInObjectTest : public PlugInTest {};

TEST_F(PlugInObjectTest, CopiesShareWidgetsRepositoryAndHost) {
  TestablePlugIn copy(plugin), assigned;
  assigned = plugin;
  for (TestablePlugIn* other : {&copy, &assigned}) {
    EXPECT_TRUE(other->GetHost() == &host && other->Repository == plugin.Repository &&
                plugin.Repository != nullptr);
    other->SetUserInterfaceFields(MakeList({"qimdirrt"}), MakeList({"/changed"}));
    EXPECT_EQ(Editor("QIMRTEditor")->GetText(), "/changed") << "the original's widget";
    Fill("QIMRTEditor=");
  }
}

TEST_F(PlugInObjectTest, BeforeAnyCommandJavaVariablesHoldOneEmptyValueAndTheRestIsLeftAlone) {
  ZAFListValZAFUnicodeString names = MakeList({"old", "entries"}), values = MakeList({"x"});
  plugin.GetJavaVariables(names, values);
  EXPECT_EQ(Pairs(names, values), "ws.ext.dirs=");
  ZAFUnicodeString first = "one", second = " two ";
  plugin.GetEarCreationParameters(first, second);
  plugin.GetEnvironmentVariables(names, values);
  EXPECT_EQ(Pairs(names, values) + "," + first.str() + "," + second.str(),
            "ws.ext.dirs=,one, two ");
}

TEST(PlugInMessageTest, MessagesFillTheirParameterAndFallBackToTheKey) {
  const auto message = [](const std::string& catalogs, const char* key) {
    ScopedHost scopedHost(catalogs);
    ZAFUnicodeString parameter = "Database port", text;
    TestablePlugIn().GetMessage(key, text, &parameter, 1);
    return text.str();
  };
  EXPECT_EQ(message(QIM_SOURCE_CATALOG_DIR, "BlankField.Text"),
            "The field 'Database port' must not be empty.");
  EXPECT_EQ(message(QIM_SOURCE_CATALOG_DIR, "No.Such.Key"), "No.Such.Key");
  EXPECT_EQ(message(TempDir().path(), "BlankField.Text"), "BlankField.Text") << "no catalog";
}

// Test-harness mode is decided by the first construction of the process, so this runs in a
// fresh process (gtest's "threadsafe" death tests re-run the program for the statement). The
// process exits with 0 when the traces of two constructions are `expected`: the first made
// with "YTQ_RT_OUT" as it is, the second after setting it to "1". The values the variable may
// have are the table of HarnessVariableTest.
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

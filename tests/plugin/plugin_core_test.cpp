// The plug-in object itself: the module's exports, copies, messages and test-harness mode.

#include <dlfcn.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/support/testable_plugin.h"

namespace qimtest {
namespace {

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module = dlopen(QIM_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    factory = reinterpret_cast<WASSetupUIPlugInFactory>(dlsym(module, "fctCreateWASSetupUIPlugIn"));
    ASSERT_NE(factory, nullptr);
  }
  void TearDown() override {
    if (module != nullptr) {
      dlclose(module);
    }
  }

  void* module = nullptr;
  WASSetupUIPlugInFactory factory = nullptr;
};

TEST_F(ModuleTest, FactoryMakesThePlugInThroughTheExportedName) {
  WASSetupUIPlugIn* plugin = factory();
  ASSERT_NE(plugin, nullptr);
  ZAFUnicodeString name;
  plugin->GetSymbolicName(name);
  EXPECT_EQ(name, "QimSetup");
  EXPECT_EQ(plugin->GetHost(), nullptr);
  delete plugin;

  auto marker = reinterpret_cast<int (*)()>(dlsym(module, "CORVANTA_ZEB2_INTERNAL_QimPlugIn"));
  ASSERT_NE(marker, nullptr);
  EXPECT_EQ(marker(), 1);
}

TEST_F(ModuleTest, FactoryYieldsNullWhenTheHostAllocatorFails) {
  const ZAFObject::Allocator previous =
      ZAFObject::SetAllocator([](std::size_t) -> void* { return nullptr; });
  WASSetupUIPlugIn* plugin = factory();
  ZAFObject::SetAllocator(previous);
  EXPECT_EQ(plugin, nullptr);
}

class PlugInObjectTest : public BuiltPlugInTest {};

TEST_F(PlugInObjectTest, CopiesShareWidgetsRepositoryAndHost) {
  Editor("QIMRTEditor")->SetText("/shared", 1);
  TestablePlugIn copy(plugin);
  TestablePlugIn assigned;
  assigned = plugin;

  for (TestablePlugIn* other : {&copy, &assigned}) {
    EXPECT_EQ(other->GetHost(), &host);
    EXPECT_EQ(other->Repository, plugin.Repository);
    EXPECT_NE(other->Repository, nullptr);
    EXPECT_EQ(other->HarnessFlag, "false");
    ZAFListValZAFUnicodeString keys;
    ZAFListValZAFUnicodeString values;
    other->GetUserInterfaceFields(keys, values);
    EXPECT_EQ(values[9], "/shared") << "the copy reads the original's widgets";
  }
  // A change through the copy shows in the original's form.
  copy.SetUserInterfaceFields(MakeList({"qimdirrt"}), MakeList({"/changed"}));
  EXPECT_EQ(Editor("QIMRTEditor")->GetText(), "/changed");
}

TEST_F(PlugInObjectTest, JavaVariablesBeforeAnyCommandHoldOneEmptyValue) {
  ZAFListValZAFUnicodeString names = MakeList({"old", "entries"});
  ZAFListValZAFUnicodeString values = MakeList({"x"});
  plugin.GetJavaVariables(names, values);
  EXPECT_EQ(ToVector(names), std::vector<std::string>{"ws.ext.dirs"});
  EXPECT_EQ(ToVector(values), std::vector<std::string>{""});
}

TEST_F(PlugInObjectTest, EarParametersAndEnvironmentVariablesAreLeftAlone) {
  ZAFUnicodeString first = "one";
  ZAFUnicodeString second = " two ";
  plugin.GetEarCreationParameters(first, second);
  EXPECT_EQ(first, "one");
  EXPECT_EQ(second, " two ");
  ZAFListValZAFUnicodeString names = MakeList({"A"});
  ZAFListValZAFUnicodeString values = MakeList({"1", "2"});
  plugin.GetEnvironmentVariables(names, values);
  EXPECT_EQ(ToVector(names), std::vector<std::string>{"A"});
  EXPECT_EQ(ToVector(values), (std::vector<std::string>{"1", "2"}));
}

TEST(PlugInMessageTest, MessagesFillTheirParameterAndFallBackToTheKey) {
  TempDir emptyCatalogs;
  const struct {
    std::string catalogs;
    const char* key;
    const char* expected;
  } cases[] = {
      {QIM_SOURCE_CATALOG_DIR, "BlankField.Text", "The field 'Database port' must not be empty."},
      {QIM_SOURCE_CATALOG_DIR, "No.Such.Key", "No.Such.Key"},
      {emptyCatalogs.path(), "BlankField.Text", "BlankField.Text"},
  };
  for (const auto& message : cases) {
    ScopedHost scopedHost(message.catalogs);
    TestablePlugIn plugin;
    ZAFUnicodeString parameter = "Database port";
    ZAFUnicodeString text;
    plugin.GetMessage(message.key, text, &parameter, 1);
    EXPECT_EQ(text, message.expected) << message.key << " in " << message.catalogs;
  }
}

// Test-harness mode is decided by the first construction of the process, so these run in a
// fresh process each (gtest's "threadsafe" death tests re-run the program for the statement).
class HarnessModeTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

  // The trace the plug-in writes while one object is made.
  static std::string TraceOfConstruction() {
    ::testing::internal::CaptureStdout();
    { QimSetupPlugIn plugin; }
    return ::testing::internal::GetCapturedStdout();
  }
};

TEST_F(HarnessModeTest, AnEmptyValueStillMeansTestHarnessMode) {
  EXPECT_EXIT(
      {
        setenv("YTQ_RT_OUT", "", 1);
        std::exit(TraceOfConstruction() == "Inside Constructor \nInside destructor.... \n" ? 0
                                                                                          : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(HarnessModeTest, TheVariableIsReadOnlyByTheFirstConstruction) {
  EXPECT_EXIT(
      {
        const std::string first = TraceOfConstruction();
        setenv("YTQ_RT_OUT", "1", 1);
        const std::string later = TraceOfConstruction();
        std::exit(first.empty() && later.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qimtest

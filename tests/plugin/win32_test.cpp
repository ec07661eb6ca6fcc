// The module as Windows loads it: LoadLibraryExW finds it and what it needs (the host library
// and the C++ runtime beside the programs), GetProcAddress its factory, and each failure of
// the loader comes with the system's reason and code. Windows builds only.

#include <gmock/gmock.h>

#include <memory>

#include "host/platform/module.h"
#include "plugin_fixture.h"

namespace qimtest {

using ::testing::HasSubstr;

TEST(Win32ModuleTest, TheFactoryIsFoundAndTheLoaderSaysWhatIsMissing) {
  zaf::platform::LoadedModule module(QIM_MODULE_PATH);
  ASSERT_TRUE(module.IsLoaded()) << module.Error();
  const auto factory =
      reinterpret_cast<WASSetupUIPlugInFactory>(module.Symbol(kWASSetupUIPlugInFactoryName));
  ASSERT_NE(factory, nullptr) << module.Error();
  EXPECT_NE(std::unique_ptr<WASSetupUIPlugIn>(factory()), nullptr);
  EXPECT_EQ(module.Symbol("DllMain"), nullptr) << "the entry point is not exported";
  EXPECT_THAT(module.Error(), HasSubstr("(error 127)"));
  EXPECT_THAT(zaf::platform::LoadedModule(TempDir().File("None.dll")).Error(),
              HasSubstr("(error 126)"));
}

}  // namespace qimtest

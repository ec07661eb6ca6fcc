// Path joins, environment values, file copies and directory checks.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "host/zaf_host.h"
#include "host/zaf_system.h"
#include "tests/support/test_support.h"

namespace {

struct JoinCase {
  char separator;
  const char* directory;
  const char* name;
  const char* expected;
  const char* why;
};

// Names the case in test output (the bytes of the struct would include padding).
void PrintTo(const JoinCase& c, std::ostream* out) {
  *out << c.why;
}

class MakePathTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(MakePathTest, JoinsWithTheHostSeparator) {
  const JoinCase& c = GetParam();
  const qimtest::ScopedHost host(QIM_SOURCE_CATALOG_DIR, "", c.separator);
  char* path = nullptr;
  ASSERT_EQ(ZAFMakePath(c.directory, c.name, &path), 0);
  ASSERT_NE(path, nullptr);
  EXPECT_STREQ(path, c.expected) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakePathTest,
    ::testing::Values(
        JoinCase{'/', "/opt/qim", "bin", "/opt/qim/bin", "plain join"},
        JoinCase{'/', "/opt/qim/", "bin", "/opt/qim/bin", "no second separator"},
        JoinCase{'/', "", "bin", "bin", "empty directory: never from the root"},
        JoinCase{'/', "/opt", "", "/opt/", "empty name: directory and separator"},
        JoinCase{'/', "/", "etc", "/etc", "root directory"},
        JoinCase{'\\', "C:\\QIM", "bin", "C:\\QIM\\bin", "other separator"},
        JoinCase{'\\', "C:\\QIM\\", "bin", "C:\\QIM\\bin", "ends with that separator"},
        JoinCase{'\\', "C:/QIM/", "bin", "C:/QIM/\\bin", "only the host separator counts"},
        JoinCase{'\\', "", "bin", "bin", "empty directory with other separator"},
        JoinCase{'\\', "D:", "", "D:\\", "empty name with other separator"}));

TEST(MakePathArgumentsTest, NullArgumentFailsWithNullResult) {
  char* path = reinterpret_cast<char*>(&path);
  EXPECT_LT(ZAFMakePath(nullptr, "a", &path), 0);
  EXPECT_EQ(path, nullptr);
  path = reinterpret_cast<char*>(&path);
  EXPECT_LT(ZAFMakePath("a", nullptr, &path), 0);
  EXPECT_EQ(path, nullptr);
  EXPECT_LT(ZAFMakePath("a", "b", nullptr), 0);
}

TEST(MakePathArgumentsTest, ResultStaysValidForTheNextJoins) {
  const qimtest::ScopedHost host;
  char* first = nullptr;
  ASSERT_EQ(ZAFMakePath("dir", "first", &first), 0);
  std::vector<char*> later(63);
  for (char*& path : later) {
    ASSERT_EQ(ZAFMakePath("another/longer/directory", "name", &path), 0);
  }
  EXPECT_STREQ(first, "dir/first");
  EXPECT_STREQ(later.front(), "another/longer/directory/name");
}

TEST(EnvironmentTest, ValueIsAMallocedCopy) {
  ASSERT_EQ(::setenv("QIM_HOST_TEST_VAR", "value 1", 1), 0);
  char* value = nullptr;
  ASSERT_EQ(ZAFGetEnvValue("QIM_HOST_TEST_VAR", &value), 0);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "value 1");
  EXPECT_NE(value, ZAFGetEnv("QIM_HOST_TEST_VAR")) << "a copy, not the environment's own";
  std::free(value);

  ::unsetenv("QIM_HOST_TEST_VAR");
  value = reinterpret_cast<char*>(&value);
  EXPECT_LT(ZAFGetEnvValue("QIM_HOST_TEST_VAR", &value), 0);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(ZAFGetEnv("QIM_HOST_TEST_VAR"), nullptr);
  EXPECT_EQ(ZAFGetEnv(nullptr), nullptr);
}

class FileServicesTest : public ::testing::Test {
 protected:
  qimtest::TempDir folder_;
};

TEST_F(FileServicesTest, CopyCreatesAndOverwritesOnlyWhenAllowed) {
  const std::string from = folder_.File("from.txt");
  const std::string to = folder_.File("to.txt");
  qimtest::WriteFile(from, "new content");
  ASSERT_EQ(ZAFFCopy(from.c_str(), to.c_str(), 0), 0) << "a missing target is made";
  EXPECT_EQ(qimtest::ReadFile(to), "new content");

  qimtest::WriteFile(to, "old content");
  EXPECT_LT(ZAFFCopy(from.c_str(), to.c_str(), 0), 0);
  EXPECT_EQ(qimtest::ReadFile(to), "old content") << "overwrite 0 keeps the target";

  ASSERT_EQ(ZAFFCopy(from.c_str(), to.c_str(), 1), 0);
  EXPECT_EQ(qimtest::ReadFile(to), "new content");
}

TEST_F(FileServicesTest, FailedCopyLeavesTargetAndNoTemporaryBehind) {
  const std::string to = folder_.File("to.txt");
  qimtest::WriteFile(to, "kept");
  EXPECT_LT(ZAFFCopy(folder_.File("missing").c_str(), to.c_str(), 1), 0);
  EXPECT_LT(ZAFFCopy(folder_.path().c_str(), to.c_str(), 1), 0) << "a folder is no file";
  EXPECT_LT(ZAFFCopy(nullptr, to.c_str(), 1), 0);
  EXPECT_EQ(qimtest::ReadFile(to), "kept");
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(FileServicesTest, OpenFileAndDirectory) {
  const std::string file = folder_.File("f.txt");
  qimtest::WriteFile(file, "x");
  ZAFFILE handle = nullptr;
  ASSERT_EQ(ZAFFOpen(file.c_str(), "r", &handle), 0);
  EXPECT_EQ(ZAFFClose(handle), 0);
  EXPECT_LT(ZAFFOpen(folder_.File("missing").c_str(), "r", &handle), 0);
  EXPECT_EQ(handle, nullptr);

  ZAFDIR directory;
  EXPECT_EQ(ZAFOpenDirectory(folder_.path().c_str(), &directory), 0);
  EXPECT_EQ(directory.isOpen, 1);
  EXPECT_LT(ZAFOpenDirectory(file.c_str(), &directory), 0) << "a file is no directory";
  EXPECT_EQ(directory.isOpen, 0);
  EXPECT_LT(ZAFOpenDirectory(folder_.File("missing").c_str(), &directory), 0);
  EXPECT_LT(ZAFOpenDirectory(nullptr, &directory), 0);
}

}  // namespace

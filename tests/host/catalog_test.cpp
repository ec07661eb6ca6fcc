// Catalog files: parsing with warnings, escapes, placeholders, fallbacks and the cache.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "host/catalog_file.h"
#include "host/zaf_catalog.h"
#include "host/zaf_host.h"
#include "tests/support/test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(ParseCatalogTest, ReadsEntriesTrimsAndUnescapes) {
  const zaf::ParsedCatalog parsed = zaf::ParseCatalog(
      "# comment\n"
      "   # indented comment\n"
      "\n"
      " \t \n"
      "Plain = QIM Setup\n"
      "\tTabbed\t=\ttext\t\r\n"
      "Escapes = \\sa\\tb\\nc\\\\d\\s\n"
      "Other = C:\\dir\\x %1\n"
      "TrailingBackslash = end\\\n"
      "Equals = a = b\n"
      "Empty =\n"
      "NoNewline = last",
      "t.cat");
  EXPECT_TRUE(parsed.isCatalog);
  EXPECT_TRUE(parsed.warnings.empty()) << parsed.warnings.front();
  const zaf::CatalogEntries& entries = parsed.entries;
  EXPECT_EQ(entries.at("Plain"), "QIM Setup");
  EXPECT_EQ(entries.at("Tabbed"), "text") << "tabs and the CR of CRLF are dropped";
  EXPECT_EQ(entries.at("Escapes"), " a\tb\nc\\d ");
  EXPECT_EQ(entries.at("Other"), "C:\\dir\\x %1") << "other backslashes stay as they stand";
  EXPECT_EQ(entries.at("TrailingBackslash"), "end\\");
  EXPECT_EQ(entries.at("Equals"), "a = b") << "split at the first '='";
  EXPECT_EQ(entries.at("Empty"), "");
  EXPECT_EQ(entries.at("NoNewline"), "last");
  EXPECT_EQ(entries.size(), 8U);
}

TEST(ParseCatalogTest, BadLinesWarnOnceEachAndGoodLinesStay) {
  const zaf::ParsedCatalog parsed = zaf::ParseCatalog(
      "Good = 1\n"
      "no equals sign\n"  // line 2: no '='
      " = no key\n"       // line 3: empty key
      "two words = x\n"   // line 4: blank in key
      "Bad = \xFF\xFE\n"  // line 5: invalid UTF-8
      "Also = 2\n",
      "QimSetupPlugIn.cat");
  EXPECT_TRUE(parsed.isCatalog);
  EXPECT_EQ(parsed.entries.size(), 2U);
  EXPECT_EQ(parsed.entries.at("Also"), "2");
  ASSERT_EQ(parsed.warnings.size(), 4U);
  EXPECT_THAT(parsed.warnings[0], StartsWith("QimSetupPlugIn.cat:2: ignored: "));
  EXPECT_THAT(parsed.warnings[1], StartsWith("QimSetupPlugIn.cat:3: ignored: "));
  EXPECT_THAT(parsed.warnings[2], StartsWith("QimSetupPlugIn.cat:4: ignored: "));
  EXPECT_THAT(parsed.warnings[3], StartsWith("QimSetupPlugIn.cat:5: ignored: "));
}

TEST(ParseCatalogTest, RepeatedKeyKeepsTheLastWithAWarning) {
  const zaf::ParsedCatalog parsed = zaf::ParseCatalog("K = first\nK = second\n", "t.cat");
  EXPECT_EQ(parsed.entries.at("K"), "second");
  ASSERT_EQ(parsed.warnings.size(), 1U);
  EXPECT_THAT(parsed.warnings[0], StartsWith("t.cat:2: "));
  EXPECT_THAT(parsed.warnings[0], HasSubstr("line 1"));
}

TEST(ParseCatalogTest, BinaryJunkIsNoCatalogWithOneWarning) {
  using namespace std::string_literals;
  for (const std::string& junk : {"\x7F"
                                  "ELF\x02\x01\x00\x00\nA = b\n"s,
                                  "\xFF\xFE\n\x80\x81\n\xC0\xC1\n"s}) {
    const zaf::ParsedCatalog parsed = zaf::ParseCatalog(junk, "junk.cat");
    EXPECT_FALSE(parsed.isCatalog);
    EXPECT_TRUE(parsed.entries.empty());
    EXPECT_EQ(parsed.warnings.size(), 1U);
  }
}

// ---- Placeholders ----

struct PlaceholderCase {
  const char* text;
  int count;
  const char* expected;
  const char* why;
};

// Names the case in test output (the bytes of the struct would include padding).
void PrintTo(const PlaceholderCase& c, std::ostream* out) {
  *out << c.why;
}

class PlaceholderTest : public ::testing::TestWithParam<PlaceholderCase> {};

TEST_P(PlaceholderTest, FillsInOnePass) {
  const ZAFUnicodeString parameters[] = {"A", "%1", "C"};
  const PlaceholderCase& c = GetParam();
  EXPECT_EQ(zaf::FillPlaceholders(c.text, parameters, c.count), c.expected) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlaceholderTest,
    ::testing::Values(PlaceholderCase{"%1-%3", 3, "A-C", "plain"},
                      PlaceholderCase{"%3%1", 3, "CA", "any order"},
                      PlaceholderCase{"[%2]", 3, "[%1]",
                                      "a parameter holding %1 is not filled again"},
                      PlaceholderCase{"100%%", 3, "100%", "%% is a percent sign"},
                      PlaceholderCase{"%%1", 3, "%1", "%% then 1, not a placeholder"},
                      PlaceholderCase{"%3 %4 %9", 3, "C %4 %9", "beyond count stays"},
                      PlaceholderCase{"%1 %2", 1, "A %2", "count limits the parameters"},
                      PlaceholderCase{"%0 %a %", 3, "%0 %a %", "not placeholders"},
                      PlaceholderCase{"%10", 3, "A0", "one digit only"},
                      PlaceholderCase{"%1", -2, "%1", "negative count is no parameters"}));

TEST(PlaceholderNullTest, NullParametersWithCountAreNoParameters) {
  EXPECT_EQ(zaf::FillPlaceholders("%1 %%", nullptr, 3), "%1 %");
}

// ---- Catalog service ----

class CatalogServiceTest : public ::testing::Test {
 protected:
  CatalogServiceTest() : host_(folder_.path()) {
    zaf::SetDiagnosticSink([this](const std::string& line) { warnings_.push_back(line); });
  }

  void WriteCatalog(const std::string& name, const std::string& text) {
    qimtest::WriteFile(folder_.File(name + ".cat"), text);
  }

  qimtest::TempDir folder_;
  qimtest::ScopedHost host_;
  std::vector<std::string> warnings_;
};

TEST_F(CatalogServiceTest, BuildMessageFillsOrFallsBack) {
  WriteCatalog("Msgs", "Hello = Hello, %1! (%2)\n");
  const ZAFUnicodeString name[] = {"Ann"};
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Msgs", "Hello", name, 1, "fallback").str(),
            "Hello, Ann! (%2)");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Msgs", "Missing", name, 1, "fallback %1").str(),
            "fallback %1");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("NoSuch", "Hello", name, 1, "fb").str(), "fb");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Msgs", "Hello", nullptr, 2, "fb").str(),
            "Hello, %1! (%2)");
  EXPECT_TRUE(warnings_.empty()) << "a missing catalog is not worth a warning";
}

TEST_F(CatalogServiceTest, WarningsOfABadFileComeOnceAndNameTheFile) {
  WriteCatalog("Mixed", "Good = yes\nbroken line\n");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Mixed", "Good", nullptr, 0, "no").str(), "yes");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Mixed", "Good", nullptr, 0, "no").str(), "yes");
  ASSERT_EQ(warnings_.size(), 1U);
  EXPECT_THAT(warnings_[0], HasSubstr("Mixed.cat:2: ignored: "));
}

TEST_F(CatalogServiceTest, CatalogIsReadOnceUntilTheFolderIsSetAgain) {
  WriteCatalog("Cached", "K = old\n");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Cached", "K", nullptr, 0, "").str(), "old");
  WriteCatalog("Cached", "K = new\n");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Cached", "K", nullptr, 0, "").str(), "old");
  zaf::SetCatalogDirectory(folder_.path());
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Cached", "K", nullptr, 0, "").str(), "new");
}

TEST_F(CatalogServiceTest, UnusableCatalogsWarnOnceAndCountAsMissing) {
  ASSERT_EQ(::mkdir(folder_.File("Folder.cat").c_str(), 0700), 0);
  WriteCatalog("Junk", std::string("\0\1\2\3 = \xFF", 8));
  for (const char* name : {"Folder", "Junk"}) {
    warnings_.clear();
    EXPECT_EQ(ZAFMsgCatalog::BuildMessage(name, "K", nullptr, 0, "fb").str(), "fb") << name;
    EXPECT_EQ(ZAFMsgCatalog::BuildMessage(name, "K", nullptr, 0, "fb").str(), "fb") << name;
    ZAFRscCatalog resources;
    EXPECT_EQ(resources.LoadRscCatalog(name, nullptr), 0) << name;
    ASSERT_EQ(warnings_.size(), 1U) << name;
    EXPECT_THAT(warnings_[0], HasSubstr(std::string(name) + ".cat")) << name;
  }
}

TEST_F(CatalogServiceTest, CatalogWithoutReadPermissionWarnsOnce) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not stop root from reading";
  }
  WriteCatalog("Locked", "K = v\n");
  ASSERT_EQ(::chmod(folder_.File("Locked.cat").c_str(), 0), 0);
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Locked", "K", nullptr, 0, "fb").str(), "fb");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Locked", "K", nullptr, 0, "fb").str(), "fb");
  ASSERT_EQ(warnings_.size(), 1U);
  EXPECT_THAT(warnings_[0], HasSubstr("Locked.cat"));
}

TEST_F(CatalogServiceTest, ResourceCatalogGivesTextsAndLeavesValueOnMiss) {
  WriteCatalog("Rsc", "Title = Browse...\n");
  ZAFRscCatalog resources;
  ZAFString value("unchanged");
  EXPECT_LT(resources.GetCatalogRsc("Title", value, nullptr, 0), 0) << "nothing loaded yet";
  EXPECT_NE(resources.LoadRscCatalog("Rsc", nullptr), 0);
  EXPECT_EQ(resources.GetCatalogRsc("Title", value, nullptr, 0), 0);
  EXPECT_EQ(value.str(), "Browse...");
  value = "unchanged";
  EXPECT_LT(resources.GetCatalogRsc("Nothing", value, nullptr, 0), 0);
  EXPECT_EQ(value.str(), "unchanged");
  EXPECT_EQ(resources.LoadRscCatalog("Absent", nullptr), 0);
}

}  // namespace

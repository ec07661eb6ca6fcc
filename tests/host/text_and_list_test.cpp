// Strings (null versus empty, stripping, code-point length), 1-based lists and the
// host allocator.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <stdexcept>

#include "host/zaf_dialog.h"
#include "host/zaf_list.h"
#include "host/zaf_string.h"
#include "tests/support/test_support.h"

namespace {

TEST(UnicodeStringTest, NullDiffersFromEmptyOnlyInNullnessComparisonAndPointer) {
  const ZAFUnicodeString null(static_cast<const char*>(nullptr));
  const ZAFUnicodeString empty;
  EXPECT_TRUE(null.IsNull());
  EXPECT_FALSE(empty.IsNull());
  EXPECT_TRUE(null.IsEmpty());
  EXPECT_EQ(static_cast<const char*>(null), nullptr);
  EXPECT_STREQ(static_cast<const char*>(empty), "");
  EXPECT_STREQ(null.c_str(), "");

  EXPECT_TRUE(null == static_cast<const char*>(nullptr));
  EXPECT_FALSE(null == "");
  EXPECT_FALSE(empty == static_cast<const char*>(nullptr));
  EXPECT_TRUE(empty == "");
  EXPECT_FALSE(null == empty);
  EXPECT_TRUE(null == ZAFUnicodeString(static_cast<const char*>(nullptr)));
  EXPECT_EQ(null.GetLengthInChar(), 0);
}

TEST(UnicodeStringTest, AssigningANullPointerMakesNullAndTextMakesItNonNull) {
  ZAFUnicodeString text("abc");
  text = static_cast<const char*>(nullptr);
  EXPECT_TRUE(text.IsNull());
  text = "x";
  EXPECT_FALSE(text.IsNull());
  EXPECT_TRUE(text == "x");
}

TEST(UnicodeStringTest, ConcatenationNeverGivesNull) {
  const ZAFUnicodeString null(static_cast<const char*>(nullptr));
  EXPECT_FALSE((null + null).IsNull());
  EXPECT_FALSE((null + static_cast<const char*>(nullptr)).IsNull());
  EXPECT_FALSE((static_cast<const char*>(nullptr) + null).IsNull());
  EXPECT_TRUE(("a" + null + "b") == "ab");
}

struct StripCase {
  const char* text;
  int mode;
  char32_t character;
  const char* expected;
  const char* why;
};

// Names the case in test output (the bytes of the struct would include padding).
void PrintTo(const StripCase& c, std::ostream* out) {
  *out << c.why;
}

class StripTest : public ::testing::TestWithParam<StripCase> {};

TEST_P(StripTest, RemovesWholeCharactersAtTheNamedEnds) {
  const StripCase& c = GetParam();
  const ZAFUnicodeString stripped = ZAFUnicodeString(c.text).Strip(c.mode, c.character);
  EXPECT_EQ(stripped.str(), c.expected) << c.why;
  EXPECT_FALSE(stripped.IsNull());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StripTest,
    ::testing::Values(StripCase{"  a b  ", ZAF_STRIP_BOTH, U' ', "a b", "inner blanks stay"},
                      StripCase{"  a  ", ZAF_STRIP_LEADING, U' ', "a  ", "leading only"},
                      StripCase{"  a  ", ZAF_STRIP_TRAILING, U' ', "  a", "trailing only"},
                      StripCase{"    ", ZAF_STRIP_BOTH, U' ', "", "all blanks"},
                      StripCase{"", ZAF_STRIP_BOTH, U' ', "", "empty stays empty"},
                      StripCase{"\xC3\xA9\xC3\xA9x\xC3\xA9", ZAF_STRIP_BOTH, U'\u00E9', "x",
                                "two-byte character"},
                      StripCase{"\xE2\x82\xAC"
                                "a\xE2\x82\xAC",
                                ZAF_STRIP_BOTH, U'\u20AC', "a", "three-byte euro sign"},
                      StripCase{"\xF0\x9F\x98\x80"
                                "a",
                                ZAF_STRIP_LEADING, U'\U0001F600', "a", "four-byte character"},
                      StripCase{"\xC3\xA9", ZAF_STRIP_BOTH, U'\u00C3', "\xC3\xA9",
                                "a code point never matches the lead byte of another"},
                      StripCase{"a\xC3\xA9", ZAF_STRIP_TRAILING, U'\xA9', "a\xC3\xA9",
                                "U+00A9 is not the continuation byte A9"},
                      StripCase{"xax", ZAF_STRIP_BOTH, char32_t{0xD800}, "xax",
                                "a surrogate has no encoding: nothing to strip"}));

TEST(UnicodeStringTest, StripOfNullGivesEmpty) {
  const ZAFUnicodeString stripped =
      ZAFUnicodeString(static_cast<const char*>(nullptr)).Strip(ZAF_STRIP_BOTH, U' ');
  EXPECT_FALSE(stripped.IsNull());
  EXPECT_TRUE(stripped.IsEmpty());
}

TEST(UnicodeStringTest, LengthCountsCodePointsAndEachInvalidByteOnce) {
  EXPECT_EQ(ZAFUnicodeString("abc").GetLengthInChar(), 3);
  EXPECT_EQ(ZAFUnicodeString("\xC3\xA9t\xC3\xA9").GetLengthInChar(), 3);
  EXPECT_EQ(ZAFUnicodeString("\xF0\x9F\x98\x80").GetLengthInChar(), 1);
  EXPECT_EQ(ZAFUnicodeString("\xFF\xFE").GetLengthInChar(), 2);
  EXPECT_EQ(ZAFUnicodeString("a\xE2\x82").GetLengthInChar(), 3) << "cut-short sequence";
  EXPECT_EQ(ZAFUnicodeString("\xC0\x80").GetLengthInChar(), 2) << "overlong form";
  EXPECT_EQ(ZAFUnicodeString("\xED\xA0\x80").GetLengthInChar(), 3) << "encoded surrogate";
}

TEST(StringTest, NullPointerGivesEmptyName) {
  const ZAFString name(static_cast<const char*>(nullptr));
  EXPECT_STREQ(name.CastToCharPtr(), "");
  EXPECT_TRUE(name == static_cast<const char*>(nullptr));
  EXPECT_TRUE(name == "");
  EXPECT_EQ(ZAFString("abc").GetLengthInChar(), 3);
}

// ---- Lists ----

TEST(ListTest, PositionsCountFromOneAndOutsideThrows) {
  ZAFListValZAFUnicodeString list = qimtest::MakeList({"a", "b"});
  EXPECT_EQ(list[1].str(), "a");
  EXPECT_EQ(list[2].str(), "b");
  EXPECT_THROW(list[0], std::out_of_range);
  EXPECT_THROW(list[3], std::out_of_range);
  EXPECT_THROW(list[-1], std::out_of_range);
  const ZAFListValZAFUnicodeString empty;
  EXPECT_THROW(empty[1], std::out_of_range);
}

TEST(ListTest, ArrayGivesWritablePointersIntoTheList) {
  ZAFListValZAFUnicodeString list = qimtest::MakeList({"a", "b", "c"});
  ZAFUnicodeString* pointers[3] = {};
  list.Array(pointers);
  *pointers[0] = "x";
  *pointers[2] = "z";
  EXPECT_EQ(qimtest::ToVector(list), (std::vector<std::string>{"x", "b", "z"}));

  const ZAFListValZAFUnicodeString& constant = list;
  const ZAFUnicodeString* constPointers[3] = {};
  constant.Array(constPointers);
  EXPECT_EQ(constPointers[1], &list[2]);
}

TEST(ListTest, RemoveAllEmptiesAndReturnsOne) {
  ZAFListValZAFUnicodeString list = qimtest::MakeList({"a"});
  EXPECT_EQ(list.RemoveAll(), 1);
  EXPECT_EQ(list.Size(), 0);

  ZAFRawCollPV pointers;
  int item = 0;
  EXPECT_EQ(pointers.Append(&item), 1);
  EXPECT_EQ(pointers[1], &item);
  EXPECT_THROW(pointers[2], std::out_of_range);
  EXPECT_EQ(pointers.RemoveAll(), 1);
  EXPECT_EQ(pointers.Size(), 0);
}

// ---- Allocator ----

int constructions = 0;

class CountedObject : public ZAFObject {
 public:
  CountedObject() { ++constructions; }
};

void* FailingAllocator(std::size_t /*size*/) {
  return nullptr;
}

TEST(ObjectTest, FailingAllocatorGivesNullWithoutConstruction) {
  constructions = 0;
  ZAFObject::SetAllocator(&FailingAllocator);
  CountedObject* object = new CountedObject;
  auto* widget = new ZAFDlgLabel(nullptr, "label", ZAF_STYLE_PLAIN);
  EXPECT_EQ(ZAFObject::SetAllocator(nullptr), &FailingAllocator) << "null restores malloc";
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(widget, nullptr);
  EXPECT_EQ(constructions, 0);

  CountedObject* restored = new CountedObject;
  ASSERT_NE(restored, nullptr);
  EXPECT_EQ(constructions, 1);
  delete restored;
}

}  // namespace

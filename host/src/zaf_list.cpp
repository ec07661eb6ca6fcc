// The host's lists, indexed from 1 as the host's callers expect; a bad position throws
// instead of touching memory that is not there.

#include "host/zaf_list.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace {

// Lists of settings hold a few dozen texts (the form's 33 settings; its defaults and stored
// settings, read into one pair of lists, 59): starting with room for 64 spares them every
// reallocation of growing one element at a time, each of which moves all the texts.
constexpr std::size_t kInitialListCapacity = 64;

void MakeRoomOnFirstAppend(std::vector<ZAFUnicodeString>& items) {
  if (items.capacity() == 0) {
    items.reserve(kInitialListCapacity);
  }
}

// The 0-based index of a 1-based `position` in a list of `size` elements.
std::size_t CheckedIndex(int position, std::size_t size) {
  if (position < 1 || static_cast<std::size_t>(position) > size) {
    throw std::out_of_range("list position " + std::to_string(position) + " outside 1.." +
                            std::to_string(size));
  }
  return static_cast<std::size_t>(position) - 1;
}

}  // namespace

// ---- ZAFListValZAFUnicodeString ----

int ZAFListValZAFUnicodeString::Append(const ZAFUnicodeString& text) {
  MakeRoomOnFirstAppend(items_);
  items_.push_back(text);
  return 1;
}

int ZAFListValZAFUnicodeString::Append(ZAFUnicodeString&& text) {
  MakeRoomOnFirstAppend(items_);
  items_.push_back(std::move(text));
  return 1;
}

ZAFUnicodeString& ZAFListValZAFUnicodeString::operator[](int position) {
  return items_[CheckedIndex(position, items_.size())];
}

const ZAFUnicodeString& ZAFListValZAFUnicodeString::operator[](int position) const {
  return items_[CheckedIndex(position, items_.size())];
}

int ZAFListValZAFUnicodeString::RemoveAll() {
  items_.clear();
  return 1;
}

void ZAFListValZAFUnicodeString::Array(ZAFUnicodeString** pointers) {
  for (std::size_t index = 0; index < items_.size(); ++index) {
    pointers[index] = &items_[index];
  }
}

void ZAFListValZAFUnicodeString::Array(const ZAFUnicodeString** pointers) const {
  for (std::size_t index = 0; index < items_.size(); ++index) {
    pointers[index] = &items_[index];
  }
}

// ---- ZAFRawCollPV ----

int ZAFRawCollPV::Append(const void* pointer) {
  items_.push_back(pointer);
  return 1;
}

const void* ZAFRawCollPV::operator[](int position) const {
  return items_[CheckedIndex(position, items_.size())];
}

int ZAFRawCollPV::RemoveAll() {
  items_.clear();
  return 1;
}

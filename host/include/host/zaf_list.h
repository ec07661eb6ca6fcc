#pragma once
// The host's list types: a list of ZAFUnicodeString indexed from 1, and a list of untyped
// pointers.

#include <vector>

#include "zaf_api.h"
#include "zaf_string.h"

class ZAF_API ZAFListValZAFUnicodeString {
 public:
  // Appends a copy of `text`; always returns 1.
  int Append(const ZAFUnicodeString& text);
  // Appends a temporary by moving it in, without a copy; always returns 1.
  int Append(ZAFUnicodeString&& text);
  int Size() const { return static_cast<int>(items_.size()); }

  // Positions count from 1 to Size(). A position outside that range is a programming error:
  // it throws std::out_of_range rather than touching memory that is not there.
  ZAFUnicodeString& operator[](int position);
  const ZAFUnicodeString& operator[](int position) const;

  // Empties the list; always returns 1.
  int RemoveAll();

  // Fills the caller's array of Size() entries with pointers to the elements, in order. A
  // callee may write through them into the list's own elements.
  void Array(ZAFUnicodeString** pointers);
  void Array(const ZAFUnicodeString** pointers) const;

 private:
  std::vector<ZAFUnicodeString> items_;
};

class ZAF_API ZAFRawCollPV {
 public:
  // Appends the pointer; always returns 1.
  int Append(const void* pointer);
  int Size() const { return static_cast<int>(items_.size()); }
  // Positions count from 1, as in ZAFListValZAFUnicodeString; out of range throws.
  const void* operator[](int position) const;
  // Empties the list; always returns 1.
  int RemoveAll();

 private:
  std::vector<const void*> items_;
};

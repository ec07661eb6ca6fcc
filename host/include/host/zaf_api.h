#pragma once
// The host's root class with its allocator, and the export mark ZAF_API of the host library.

#include <cstddef>

#include "host/zaf_export.h"

// The root of every object that the host destroys (the plug-in, the widgets). Such objects
// come from the host's base allocator; a failed allocation yields null instead of throwing,
// so `new` of a ZAFObject must always be checked.
class ZAF_API ZAFObject {
 public:
  using Allocator = void* (*)(std::size_t size);

  ZAFObject() = default;
  ZAFObject(const ZAFObject&) = default;
  ZAFObject& operator=(const ZAFObject&) = default;
  virtual ~ZAFObject();

  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* memory) noexcept;

  // Replaces the allocator behind operator new (tests use one that fails); returns the one
  // it replaces. Null restores the default, which is malloc.
  static Allocator SetAllocator(Allocator allocator);
};

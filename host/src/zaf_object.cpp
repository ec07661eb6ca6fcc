// The host's root class: objects the host destroys come from a replaceable allocator, and a
// failed allocation yields null so that `new` of such an object can be checked.

#include <atomic>
#include <cstdlib>

#include "host/zaf_api.h"

namespace {

void* DefaultAllocate(std::size_t size) {
  return std::malloc(size);
}

// Swapped by tests that make allocation fail; atomic so a swap is seen whole. Whatever it
// returns is released with free by operator delete, so a replacement must hand out memory
// from malloc (or nothing).
std::atomic<ZAFObject::Allocator> currentAllocator{&DefaultAllocate};

}  // namespace

ZAFObject::~ZAFObject() = default;

void* ZAFObject::operator new(std::size_t size) noexcept {
  // malloc(0) may return null on success; objects are never empty, but ask for one byte anyway.
  return currentAllocator.load()(size == 0 ? 1 : size);
}

void ZAFObject::operator delete(void* memory) noexcept {
  std::free(memory);
}

ZAFObject::Allocator ZAFObject::SetAllocator(Allocator allocator) {
  return currentAllocator.exchange(allocator != nullptr ? allocator : &DefaultAllocate);
}

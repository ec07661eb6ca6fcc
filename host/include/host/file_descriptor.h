#pragma once
// Owns one open POSIX file descriptor and closes it when it goes, so no path forgets a close.
// The host's POSIX file services use it, and so may the programs that link the host on POSIX
// (the Win32 build neither defines nor uses it).

#include <utility>

#include "host/zaf_export.h"

namespace zaf {

class ZAF_API FileDescriptor {
 public:
  FileDescriptor() = default;
  // Takes `descriptor` over; a negative one is none.
  explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : descriptor_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return descriptor_; }
  bool IsOpen() const { return descriptor_ >= 0; }
  explicit operator bool() const { return IsOpen(); }

  // Closes the descriptor held, if any, and takes `descriptor` over.
  void Reset(int descriptor = -1);
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(descriptor_, -1); }

 private:
  int descriptor_ = -1;
};

}  // namespace zaf

#pragma once
// Writing a whole buffer to a descriptor, for the POSIX implementations.

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace zaf::platform {

// Writes all `size` bytes of `data`, again after an interrupted or partial write. False (errno
// set) when a write fails.
inline bool WriteAll(int descriptor, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = ::write(descriptor, data, size);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    data += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace zaf::platform

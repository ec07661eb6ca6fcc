#pragma once
// Writing a whole buffer to a handle, for the Win32 implementations.

#include <windows.h>

#include <algorithm>
#include <cstddef>

namespace zaf::platform {

// Writes all `size` bytes of `data`, in pieces WriteFile takes; false (GetLastError() tells
// why) when a write fails or writes nothing.
inline bool WriteAll(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1U << 20));
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace zaf::platform

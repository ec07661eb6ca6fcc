#pragma once
// Small helpers over the POSIX file calls that the host's file services share.

#include <cstddef>

namespace zaf {

// Writes all of `size` bytes, resuming after interruptions and short writes; false on error
// (errno tells why).
bool WriteAll(int descriptor, const char* data, std::size_t size);

}  // namespace zaf

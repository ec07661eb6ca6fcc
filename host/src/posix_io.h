#pragma once
// Small helpers over the POSIX file calls that the host's file services share.

#include <sys/types.h>

#include <cstddef>

namespace zaf {

// Writes all of `size` bytes, resuming after interruptions and short writes; false on error
// (errno tells why).
bool WriteAll(int descriptor, const char* data, std::size_t size);

// read(2), resumed after interruptions: the bytes read, 0 at the end, or -1 on error.
ssize_t ReadResuming(int descriptor, char* buffer, std::size_t size);

}  // namespace zaf

#include "core/file_descriptor.h"

#include <fcntl.h>
#include <unistd.h>

namespace wassetup {

void FileDescriptor::Reset(int descriptor) {
  if (descriptor_ >= 0) {
    // A close interrupted by a signal has still released the descriptor on Linux: retrying
    // could close one that another thread has opened meanwhile.
    ::close(descriptor_);
  }
  descriptor_ = descriptor;
}

bool OpenPipe(FileDescriptor& readEnd, FileDescriptor& writeEnd) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return false;
  }
  readEnd.Reset(ends[0]);
  writeEnd.Reset(ends[1]);
  return true;
}

}  // namespace wassetup

// Environment, path, file and directory services. File copies go through a temporary file
// beside the target so that a target is never seen half written; while the host records a dry
// run they are recorded instead.

#include "host/zaf_system.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "host/platform/environment.h"
#include "host/platform/files.h"
#include "host/zaf_host.h"

namespace {

constexpr int kBadArgument = -1;
constexpr int kSystemFailure = -2;
constexpr int kTargetExists = -3;

// ---- Joins ----

// The last results of ZAFMakePath on this thread; callers copy a result before making the
// 64th next one, so the ring lets them skip releasing it. Every slot has its first bytes in
// one block, made at the thread's first join, so that the joins of ordinary paths allocate
// nothing of their own; a longer join goes into a string of its slot, which keeps its buffer.
constexpr std::size_t kJoinRingSize = 64;
constexpr std::size_t kJoinSlotBytes = 256;
struct JoinRing {
  // Not filled first: a slot's bytes are written by the join that uses it.
  std::unique_ptr<char[]> block{new char[kJoinRingSize * kJoinSlotBytes]};
  std::array<std::string, kJoinRingSize> longer;
  std::size_t next = 0;
};
thread_local JoinRing joinRing;

// A dry run's copy: the source must be a regular file that opens for reading, as for a real
// copy; then the copy is recorded instead of made.
int RecordCopy(const char* from, const char* to) {
  if (!zaf::platform::IsReadableRegularFile(from)) {
    return kSystemFailure;
  }
  zaf::RecordChange({zaf::FileChange::Kind::kCopy, from, to});
  return 0;
}

// Only "r" and "rb" open a file without the right to change it.
bool IsReadMode(const char* mode) {
  return std::strcmp(mode, "r") == 0 || std::strcmp(mode, "rb") == 0;
}

}  // namespace

const char* ZAFGetEnv(const char* name) {
  return name == nullptr ? nullptr : zaf::platform::EnvironmentValue(name);
}

int ZAFGetEnvValue(const char* name, char** value) {
  if (value == nullptr) {
    return kBadArgument;
  }
  *value = nullptr;
  const char* found = ZAFGetEnv(name);
  if (found == nullptr) {
    return kBadArgument;
  }
  const std::size_t size = std::strlen(found) + 1;
  *value = static_cast<char*>(std::malloc(size));
  if (*value == nullptr) {
    return kSystemFailure;
  }
  std::memcpy(*value, found, size);
  return 0;
}

int ZAFMakePath(const char* directory, const char* name, char** path) {
  if (path == nullptr) {
    return kBadArgument;
  }
  *path = nullptr;
  if (directory == nullptr || name == nullptr) {
    return kBadArgument;
  }
  JoinRing& ring = joinRing;
  const std::size_t slot = ring.next;
  ring.next = (ring.next + 1) % kJoinRingSize;
  const char separator = zaf::GetPathSeparator();
  const std::size_t directoryLength = std::strlen(directory);
  const std::size_t nameLength = std::strlen(name);
  const std::size_t separatorLength =
      directoryLength != 0 && directory[directoryLength - 1] != separator ? 1 : 0;
  const std::size_t length = directoryLength + separatorLength + nameLength;
  char* joined = ring.block.get() + slot * kJoinSlotBytes;
  if (length >= kJoinSlotBytes) {
    std::string& longer = ring.longer[slot];
    longer.resize(length);
    joined = longer.data();
  }
  std::copy_n(directory, directoryLength, joined);
  if (separatorLength != 0) {
    joined[directoryLength] = separator;
  }
  std::copy_n(name, nameLength, joined + directoryLength + separatorLength);
  joined[length] = '\0';
  *path = joined;
  return 0;
}

int ZAFFOpen(const char* path, const char* mode, ZAFFILE* file) {
  if (file == nullptr) {
    return kBadArgument;
  }
  *file = nullptr;
  if (path == nullptr || mode == nullptr) {
    return kBadArgument;
  }
  if (zaf::IsRecording() && !IsReadMode(mode)) {
    return kBadArgument;
  }
  *file = zaf::platform::OpenStream(path, mode);
  return *file == nullptr ? kSystemFailure : 0;
}

int ZAFFClose(ZAFFILE file) {
  if (file == nullptr) {
    return kBadArgument;
  }
  return std::fclose(file) == 0 ? 0 : kSystemFailure;
}

int ZAFFCopy(const char* from, const char* to, int overwrite) {
  if (from == nullptr || to == nullptr || *from == '\0' || *to == '\0') {
    return kBadArgument;
  }
  if (overwrite == 0 && zaf::platform::PathExists(to)) {
    return kTargetExists;
  }
  if (zaf::IsRecording()) {
    return RecordCopy(from, to);
  }
  switch (zaf::platform::CopyFileThroughTemporary(from, to, overwrite != 0)) {
    case zaf::platform::CopyOutcome::kCopied:
      return 0;
    case zaf::platform::CopyOutcome::kTargetExists:
      return kTargetExists;
    case zaf::platform::CopyOutcome::kFailed:
      break;
  }
  return kSystemFailure;
}

int ZAFOpenDirectory(const char* path, ZAFDIR* directory) {
  if (directory != nullptr) {
    directory->isOpen = 0;
  }
  if (path == nullptr) {
    return kBadArgument;
  }
  if (!zaf::platform::CanOpenFolder(path)) {
    return kSystemFailure;
  }
  if (directory != nullptr) {
    directory->isOpen = 1;
  }
  return 0;
}

// Random bits on POSIX: getrandom(2), a cheaper source than a std::random_device in every run.

#include "host/platform/random.h"

#include <sys/random.h>

#include <random>

namespace zaf::platform {

std::uint64_t RandomBits() {
  std::uint64_t random = 0;
  if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    random = std::random_device()();
  }
  return random;
}

}  // namespace zaf::platform

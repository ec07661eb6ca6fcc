// Random bits on Windows: rand_s, the C runtime's door to the system's generator
// (RtlGenRandom), declared only when _CRT_RAND_S comes before the first <stdlib.h>.

#define _CRT_RAND_S

#include <stdlib.h>

#include "host/platform/random.h"

namespace zaf::platform {

std::uint64_t RandomBits() {
  unsigned int high = 0;
  unsigned int low = 0;
  ::rand_s(&high);
  ::rand_s(&low);
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace zaf::platform

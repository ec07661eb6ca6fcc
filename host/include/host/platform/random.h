#pragma once
// Random bits from the system, for texts that no value may hold by chance.

#include <cstdint>

#include "host/zaf_export.h"

namespace zaf::platform {

// 64 random bits: on POSIX from getrandom(2), on Windows from the system's generator behind
// std::random_device.
ZAF_API std::uint64_t RandomBits();

}  // namespace zaf::platform

#pragma once
// What every harness shares: the check that turns a broken rule into a crash libFuzzer reports.
// fuzz_support.cpp, linked into every harness, makes every sanitizer finding stop the run.

#include <cstdio>
#include <cstdlib>

namespace qimfuzz {

// Aborts with the rule's text when `condition` is false.
inline void Require(bool condition, const char* rule) {
  if (!condition) {
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::abort();
  }
}

}  // namespace qimfuzz

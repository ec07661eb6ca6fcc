#pragma once
// The check every harness shares: a broken rule aborts, so libFuzzer reports it like a crash.
// fuzz_support.cpp, linked into every harness, makes every sanitizer finding stop the run.

#include <cstdio>
#include <cstdlib>

inline void Require(bool condition, const char* rule) {
  if (!condition) {
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::abort();
  }
}

#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A broken invariant ends the run at once: libFuzzer keeps the input as a
// crash, and the seed run fails its test.
inline void fuzzCheck(bool holds, const char* invariant) {
  if (!holds) std::fprintf(stderr, "fuzz check failed: %s\n", invariant), std::abort();
}

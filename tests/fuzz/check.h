#pragma once
// Ends a fuzz run as a finding, naming the broken expectation in the log.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(ok)                             \
  do {                                             \
    if (!(ok)) {                                   \
      std::fprintf(stderr, "mismatch: %s\n", #ok); \
      std::abort();                                \
    }                                              \
  } while (false)

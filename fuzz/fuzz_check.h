#pragma once

// What a fuzz target demands of the code it drives. A broken demand stops the run with the
// reason, so that libFuzzer keeps the input that broke it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                   \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "%s:%d: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (false)

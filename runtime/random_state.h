// The state of a pseudo-random generator, for the runtime and for a caller
// that keeps generators of its own (the command-line tool, one per worker).
// Apart from runtime.h, so that only they compile the standard library's
// generator.
#pragma once

#include <random>

struct rt_random_state {
  std::mt19937 engine;
  bool seeded;  // zero-initialised: seeded at the first draw
};

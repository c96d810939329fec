// Runtime services that are the same on every platform: CRC-32 and the
// pseudo-random generator.

#include "runtime.h"

#include <random>
#include <zlib.h>

uint32_t rt_crc32_update(uint32_t crc, const void* data, int32_t count) {
  if (data == nullptr || count < 1) return crc;
  return static_cast<uint32_t>(
      crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(count)));
}

uint32_t rt_crc32(const void* data, int32_t count) { return rt_crc32_update(0, data, count); }

// The generator is the only state shared between calls of the engine.  The
// initial values it yields need to differ between files, not to be secret.
static std::mt19937 random_engine;
static bool random_seeded = false;

int32_t rt_random() {
  if (!random_seeded) {
    random_engine.seed(rt_tick_ms());
    random_seeded = true;
  }
  std::uniform_int_distribution<int32_t> range(0, 2147483647);
  return range(random_engine);
}

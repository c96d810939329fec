// Prints the cipher's known answers as the baseline (bench/baseline.cpp, a
// separate implementation written from the format's description) computes
// them, in the form tests/test_xtea.cpp and the comment in engine/xtea.cpp
// hold them.  The engine's own code takes no part:
//   build/native/bench/qelv_known_answers

#include <cstdio>
#include <cstring>

#include "bench.h"

static void print_hex(const char* what, const uint8_t* bytes, int count) {
  std::printf("%-44s ", what);
  for (int i = 0; i < count; i++) std::printf("%02x", bytes[i]);
  std::printf("\n");
}

int main() {
  uint8_t key[16] = {};
  uint8_t block[8] = {};
  baseline_encipher(key, block);
  print_hex("encipher, zero key, zero block", block, 8);

  memcpy(key, "pumpkinjar", 10);  // a text key: its bytes, zeros after
  memcpy(block, "Qelv1234", 8);
  baseline_encipher(key, block);
  print_hex("encipher, key \"pumpkinjar\", block \"Qelv1234\"", block, 8);

  const uint8_t iv[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  uint8_t cipher[16];
  baseline_cbc_encrypt(key, iv, reinterpret_cast<const uint8_t*>("abcdefghijklmnop"), cipher, 2);
  print_hex("CBC, key \"pumpkinjar\", iv 00..07, \"a..p\"", cipher, 16);
  return 0;
}

// Runtime services that are the same on every platform: start and stop,
// memory blocks over the platform's allocator, the table of open files,
// CRC-32 and the pseudo-random generator.

#include "runtime.h"

#include <cstring>
#include <cpuid.h>
#include <libdeflate.h>
#include <random>
#include <zlib.h>

#include "crc32_fold.h"
#include "random_state.h"
#include "runtime_platform.h"

static intptr_t open_files[RT_MAX_OPEN_FILES];
// A slot taken by an open that has not finished yet; no open returns it.
static const intptr_t SLOT_CLAIMED = -2;

void rt_start() {
  for (intptr_t& h : open_files) h = RT_NO_HANDLE;
  rt_platform_start();
}

void rt_stop() {
  for (intptr_t& h : open_files) {
    if (h != RT_NO_HANDLE && h != SLOT_CLAIMED) rt_platform_close_left_open(h);
    h = RT_NO_HANDLE;
  }
  rt_platform_stop();
}

// The command-line tool runs engine calls on several threads at once, so a
// free slot is claimed with one atomic compare-and-exchange: no lock, and a
// caller on one thread (the module) wins the first free slot at its first
// try.  A slot is then used and given back by its one owner.
int rt_slot_claim() {
  for (int slot = 0; slot < RT_MAX_OPEN_FILES; slot++) {
    intptr_t expected = RT_NO_HANDLE;
    if (__atomic_compare_exchange_n(&open_files[slot], &expected, SLOT_CLAIMED, false,
                                    __ATOMIC_ACQ_REL, __ATOMIC_RELAXED))
      return slot;
  }
  return -1;
}

void rt_slot_release(int slot, intptr_t handle) {
  __atomic_store_n(&open_files[slot], handle, __ATOMIC_RELEASE);
}

// An atomic load: other threads claim other slots meanwhile.
intptr_t rt_slot_handle(int file) {
  if (file < 0 || file >= RT_MAX_OPEN_FILES) return RT_NO_HANDLE;
  intptr_t h = __atomic_load_n(&open_files[file], __ATOMIC_ACQUIRE);
  return h == SLOT_CLAIMED ? RT_NO_HANDLE : h;
}

int rt_open_file_count() {
  int n = 0;
  for (int file = 0; file < RT_MAX_OPEN_FILES; file++) n += rt_slot_handle(file) != RT_NO_HANDLE;
  return n;
}

static bool size_fits(int64_t size) { return size >= 0 && size <= INT32_MAX; }

// A header before each block records its size, so that growing can zero the
// added bytes; 16 bytes, so that the data keeps the alignment the
// allocator gives (16 bytes from glibc, 8 from the 32-bit Windows heap;
// the kernels load and store unaligned).
struct block_header {
  int64_t size;
  int64_t unused;
};

void* rt_block_alloc(int64_t size) {
  if (!size_fits(size)) return nullptr;
  auto* h = static_cast<block_header*>(
      rt_platform_alloc_zeroed(sizeof(block_header) + static_cast<size_t>(size)));
  if (h == nullptr) return nullptr;
  h->size = size;
  return h + 1;
}

void rt_block_free(void* block) {
  if (block != nullptr) rt_platform_free(static_cast<block_header*>(block) - 1);
}

void* rt_block_grow(void* block, int64_t new_size) {
  if (block == nullptr) return rt_block_alloc(new_size);
  if (!size_fits(new_size)) return nullptr;
  block_header* h = static_cast<block_header*>(block) - 1;
  const int64_t old_size = h->size;
  auto* n = static_cast<block_header*>(
      rt_platform_resize(h, sizeof(block_header) + static_cast<size_t>(new_size)));
  if (n == nullptr) return nullptr;
  if (new_size > old_size)
    memset(reinterpret_cast<char*>(n + 1) + old_size, 0, static_cast<size_t>(new_size - old_size));
  n->size = new_size;
  return n + 1;
}

uint64_t rt_saved_register_sets() {
  uint32_t low, high;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (static_cast<uint64_t>(high) << 32) | low;
}

static bool ask_crc32_fold() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_OSXSAVE) == 0 || (c & bit_PCLMUL) == 0)
    return false;
  // SSE, AVX, opmask, the upper halves of ZMM0-15 and ZMM16-31.
  if ((rt_saved_register_sets() & 0xE6) != 0xE6) return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX512F) != 0 &&
         (c & bit_VPCLMULQDQ) != 0;
}

// Asked once and kept: 0 not asked yet, 1 yes, 2 no.  Threads that ask at
// once get the same answer, so a relaxed atomic is all it needs.
static int crc32_fold_answer;

bool crc32_fold_usable() {
  int answer = __atomic_load_n(&crc32_fold_answer, __ATOMIC_RELAXED);
  if (answer == 0) {
    answer = ask_crc32_fold() ? 1 : 2;
    __atomic_store_n(&crc32_fold_answer, answer, __ATOMIC_RELAXED);
  }
  return answer == 1;
}

// The bulk folded 64 bytes at a time with the 512-bit carry-less multiply
// where the processor has it (crc32_fold.cpp: 53 GB/s on the development
// machine against libdeflate's 14 from 1 MiB in the caches, so that a
// decryption's CRC costs a twenty-fifth of its decipher's time instead of
// a seventh); libdeflate, which folds in 128-bit registers where it can,
// takes the last bytes and every count where the other cannot run.  zlib
// stays for combining CRCs, which libdeflate does not offer.
uint32_t rt_crc32_update(uint32_t crc, const void* data, int32_t count) {
  if (data == nullptr || count < 1) return crc;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  int32_t folded = 0;
  if (count >= CRC32_FOLD_LEAST && crc32_fold_usable()) {
    folded = count / CRC32_FOLD_UNIT * CRC32_FOLD_UNIT;
    crc = ~crc32_fold(~crc, p, folded);
  }
  return libdeflate_crc32(crc, p + folded, static_cast<size_t>(count - folded));
}

uint32_t rt_crc32(const void* data, int32_t count) { return rt_crc32_update(0, data, count); }

// Square-and-multiply over copies: power is the CRC of 2^j copies and
// power_op the operator that appends that many bytes.  zlib's lengths are
// 32-bit in a 32-bit build, so operators for longer runs are made by
// squaring: crc32_combine_op(a, 0, op) is a times op modulo the polynomial.
uint32_t rt_crc32_repeat(uint32_t crc, const void* data, int32_t count, uint64_t times) {
  if (data == nullptr || count < 1 || times == 0) return crc;
  uLong power = rt_crc32(data, count);
  uLong power_op = crc32_combine_gen(count);
  uLong result = crc;
  for (;;) {
    if (times & 1) result = crc32_combine_op(result, power, power_op);
    times >>= 1;
    if (times == 0) break;
    power = crc32_combine_op(power, power, power_op);
    power_op = crc32_combine_op(power_op, 0, power_op);
  }
  return static_cast<uint32_t>(result);
}

// The runtime's own generator is the only state shared between calls of
// the engine.  The initial values it yields need to differ between files,
// not to be secret.  Its caller is the module, on one thread; a draw that
// finds it busy (a caller that gave no generator of its own on a second
// thread) waits for it rather than share its state.
static rt_random_state own_random;
static int own_random_busy;

int32_t rt_random(rt_random_state* state) {
  bool own = state == nullptr;
  if (own) {
    while (__atomic_exchange_n(&own_random_busy, 1, __ATOMIC_ACQUIRE) != 0) {
    }
    state = &own_random;
  }
  if (!state->seeded) {
    // Generators seeded in the same millisecond still draw different values.
    static uint32_t seedings = 0;
    uint32_t n = __atomic_add_fetch(&seedings, 1, __ATOMIC_RELAXED);
    state->engine.seed(rt_tick_ms() ^ n * 0x9E3779B9u);
    state->seeded = true;
  }
  std::uniform_int_distribution<int32_t> range(0, 2147483647);
  int32_t value = range(state->engine);
  if (own) __atomic_store_n(&own_random_busy, 0, __ATOMIC_RELEASE);
  return value;
}

// A name no other call is using: the process id and a counter, stirred so
// that neighbouring names differ in every digit.  Not the engine's
// generator, whose draws belong to the initial values.
uint32_t rt_temp_name_value(uint32_t attempt) {
  static uint32_t counter = 0;
  uint32_t count = __atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED);  // calls on other threads
  uint32_t x = rt_process_id() * 0x9E3779B1u ^ count * 0x85EBCA77u ^ rt_tick_ms() ^
               attempt * 0xC2B2AE3Du;
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  return x ^ (x >> 12);
}

static const char temp_prefix[] = "~qelv-", temp_suffix[] = ".tmp";

void rt_temp_name(uint32_t value, char name[RT_TEMP_NAME_LENGTH + 1]) {
  static const char digits[] = "0123456789abcdef";
  memcpy(name, temp_prefix, 6);
  for (int i = 0; i < 8; i++) name[6 + i] = digits[(value >> (28 - 4 * i)) & 15];
  memcpy(name + 14, temp_suffix, 5);  // with its terminating zero
}

bool rt_is_temp_name(const char* name) {
  if (strlen(name) != RT_TEMP_NAME_LENGTH || memcmp(name, temp_prefix, 6) != 0 ||
      strcmp(name + 14, temp_suffix) != 0)
    return false;
  for (int i = 6; i < 14; i++)
    if (strchr("0123456789abcdef", name[i]) == nullptr) return false;
  return true;
}

// Puts names made by rt_temp_name after the folder_length bytes of path
// until make (1 made, 0 the name is taken, -1 failed) makes one: 1 made,
// else -1 with path emptied.
static int make_named(char* path, int capacity, int folder_length,
                      int (*make)(const char* path, intptr_t* handle), intptr_t* handle) {
  if (folder_length < 0 || folder_length + RT_TEMP_NAME_LENGTH >= capacity) {
    path[0] = '\0';
    return -1;
  }
  for (uint32_t attempt = 0; attempt < 64; attempt++) {
    rt_temp_name(rt_temp_name_value(attempt), path + folder_length);
    int made = make(path, handle);
    if (made > 0) return 1;
    if (made < 0) break;  // anything but a name taken already
  }
  path[0] = '\0';
  return -1;
}

// A new private file in the folder at the start of path: its slot, or -1.
static int create_in_folder(char* path, int capacity, int folder_length) {
  if (folder_length < 0 || folder_length + RT_TEMP_NAME_LENGTH >= capacity) return -1;
  int slot = rt_slot_claim();
  if (slot < 0) return -1;
  intptr_t handle = RT_NO_HANDLE;
  if (make_named(path, capacity, folder_length, rt_platform_create_private, &handle) > 0) {
    rt_slot_release(slot, handle);
    return slot;
  }
  rt_slot_release(slot, RT_NO_HANDLE);
  return -1;
}

int rt_temp_create(const char* target, char* temp_path, int temp_path_capacity,
                   bool follow_link) {
  return create_in_folder(temp_path, temp_path_capacity,
                          rt_platform_temp_folder(target, temp_path, temp_path_capacity, follow_link));
}

int rt_spool_create(char* path, int capacity) {
  if (!rt_spool_folder(path, capacity)) {
    path[0] = '\0';
    return -1;
  }
  int file = create_in_folder(path, capacity, static_cast<int>(strlen(path)));
  if (file < 0) path[0] = '\0';
  return file;
}

static int make_private_folder(const char* path, intptr_t*) {
  return rt_platform_make_folder(path, true);
}

bool rt_spool_folder_make(char* path, int capacity) {
  if (!rt_spool_folder(path, capacity)) {
    path[0] = '\0';
    return false;
  }
  return make_named(path, capacity, static_cast<int>(strlen(path)), make_private_folder,
                    nullptr) > 0;
}

int rt_folder_make(const char* path) { return rt_platform_make_folder(path, false); }

bool rt_same_file(const char* a, const char* b) {
  uint64_t va, fa, vb, fb;
  return rt_file_identity(a, &va, &fa) && rt_file_identity(b, &vb, &fb) && va == vb && fa == fb;
}

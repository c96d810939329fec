// encrypt_file, decrypt_file and verify_file.  Each works through the file a
// piece at a time, so that memory does not grow with the file: a piece is
// read, transformed while it is in the cache, added to the CRC and written.
// Output is written only through output_commit.h, which replaces it whole
// or not at all.

#include "engine.h"

#include <cstdint>
#include <cstring>

#include "../runtime/runtime.h"
#include "bytes.h"
#include "cbc.h"
#include "file_format.h"
#include "output_commit.h"
#include "xtea.h"

const char result_ok[] = "OK";
const char result_refused[] = "Error, no valid key, filename or file doesn't exist!";
const char result_crc_failure[] = "CRC Failure, data may be corrupt";
const char result_read_error[] = "Error, could not read the file!";
const char result_write_error[] = "Error, could not write the output file!";
const char result_too_large[] = "Error, the file is too large!";
const char result_not_encrypted[] = "Error, not a valid encrypted file!";
const char engine_cancelled[] = "Error, cancelled";

// The working set of a call: one piece (two with the worker).  1 MiB
// measured best of 256 KiB to 2 MiB in both builds once pieces sit at the
// data's offset within a cache line: few enough system calls (under Wine
// each costs more), still in the processor's caches between the read and
// the CRC.
static const int32_t PIECE_BYTES = ENGINE_PIECE_BYTES;
static_assert(PIECE_BYTES % 8 == 0, "pieces hold whole blocks");

// True when the text holds a character other than the space (code 32), that
// is, when trimming spaces from both ends leaves something.
static bool has_non_space(const char* text) {
  for (; *text != '\0'; text++)
    if (*text != ' ') return true;
  return false;
}

// One atomic addition per piece: the tool's progress line reads the count on
// another thread, and an addition needs no lock.
static uint32_t bytes_worked;

static void count_worked(int32_t length) {
  __atomic_fetch_add(&bytes_worked, static_cast<uint32_t>(length), __ATOMIC_RELAXED);
}

uint32_t engine_bytes_worked() { return __atomic_load_n(&bytes_worked, __ATOMIC_RELAXED); }

// Set by the tool's interrupt handling from another thread; read once per
// piece.
static int cancel_requested;

void engine_cancel(bool cancel) {
  __atomic_store_n(&cancel_requested, cancel ? 1 : 0, __ATOMIC_RELAXED);
}

static bool cancelled() { return __atomic_load_n(&cancel_requested, __ATOMIC_RELAXED) != 0; }

// The temporary files being written, so that the tool can remove what an
// interrupt leaves: a slot is claimed with an atomic exchange (0 free, 1
// being filled, 2 holding a path) by the thread whose call owns it.
static char temp_paths[ENGINE_TEMP_SLOTS][RT_PATH_CAPACITY];
static int temp_state[ENGINE_TEMP_SLOTS];

static int temp_note(const output_file& out) {
  for (int slot = 0; slot < ENGINE_TEMP_SLOTS; slot++) {
    int expected = 0;
    if (!__atomic_compare_exchange_n(&temp_state[slot], &expected, 1, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED))
      continue;
    memcpy(temp_paths[slot], out.temp_path, RT_PATH_CAPACITY);
    __atomic_store_n(&temp_state[slot], 2, __ATOMIC_RELEASE);
    return slot;
  }
  return -1;  // more calls than slots: only the tool's interrupt would miss it
}

static void temp_forget(int slot) {
  if (slot >= 0) __atomic_store_n(&temp_state[slot], 0, __ATOMIC_RELEASE);
}

bool engine_temp_file(int slot, char* path, int capacity) {
  if (slot < 0 || slot >= ENGINE_TEMP_SLOTS || capacity < 1 ||
      __atomic_load_n(&temp_state[slot], __ATOMIC_ACQUIRE) != 2)
    return false;
  int n = 0;
  while (n < capacity - 1 && n < RT_PATH_CAPACITY - 1 && temp_paths[slot][n] != '\0') {
    path[n] = temp_paths[slot][n];
    n++;
  }
  path[n] = '\0';
  return n > 0;
}

// output_begin, output_commit and output_discard with the temporary file
// noted in the list above while it exists.
struct noted_output {
  output_file file;
  int slot;
};

static bool noted_begin(noted_output* out, const char* target, int64_t length) {
  out->slot = -1;
  if (!output_begin(&out->file, target, length)) return false;
  out->slot = temp_note(out->file);
  return true;
}

static bool noted_commit(noted_output* out, const char* target) {
  bool committed = output_commit(&out->file, target);
  temp_forget(out->slot);
  return committed;
}

static void noted_discard(noted_output* out) {
  output_discard(&out->file);
  temp_forget(out->slot);
}

// The piece's buffer has room to put the piece at the same place within a
// cache line as the file data read into it.  The system's copy out of the
// file cache runs at a third of its speed on some processors (an AMD EPYC
// here: 3 GB/s against 12) when the copy's target lies a few bytes after
// its source within a line, and the body starts FILE_HEADER_SIZE bytes into
// an encrypted file.
enum { LINE_BYTES = 64 };

static void* piece_alloc() { return rt_block_alloc(PIECE_BYTES + LINE_BYTES); }

// The piece within block for reads that start at file_offset (and go on in
// whole pieces, which keep the same place within a line).
static uint8_t* piece_in(void* block, int64_t file_offset) {
  uint8_t* start = static_cast<uint8_t*>(block);
  uintptr_t shift = (static_cast<uintptr_t>(file_offset) - reinterpret_cast<uintptr_t>(start)) %
                    LINE_BYTES;
  return start + shift;
}

bool engine_key_usable(const char* key) { return has_non_space(key); }

static int32_t piece_length(uint64_t left) {
  return left < PIECE_BYTES ? static_cast<int32_t>(left) : PIECE_BYTES;
}

static void draw_iv(uint8_t iv[8]) {
  int64_t r1 = rt_random(), r2 = rt_random();
  // At most engine_greatest_iv, so the product cannot overflow; -1 when
  // either is 0.
  uint64_t v = static_cast<uint64_t>(r1 * r2 - 1);
  store_le64(iv, v);
}

// Reads plain_size bytes of source, pads them with zeros to whole blocks,
// encrypts them chained from h->iv and writes them after the header's
// place; fills in h->plain_crc.
static const char* encrypt_body(int source, const cipher_key& cipher, file_header* h,
                                uint8_t* piece, output_file* out) {
  const uint64_t plain_size = static_cast<uint64_t>(h->plain_size);
  const uint64_t data_length = plain_size + static_cast<uint64_t>(h->pad_count);
  uint8_t chain[8];
  memcpy(chain, h->iv, 8);
  uint32_t crc = 0;
  for (uint64_t at = 0; at < data_length;) {
    int32_t length = piece_length(data_length - at);
    int32_t wanted = piece_length(plain_size - at);  // less only where the padding starts
    if (cancelled()) return engine_cancelled;
    if (rt_file_read(source, piece, wanted) != wanted) return result_read_error;
    crc = rt_crc32_update(crc, piece, wanted);
    memset(piece + wanted, 0, length - wanted);
    cbc_encrypt(cipher, chain, piece, length / 8);
    memcpy(chain, piece + length - 8, 8);
    output_write(out, piece, length);
    count_worked(length);
    at += length;
  }
  h->plain_crc = crc;
  return nullptr;
}

const char* encrypt_file(const char* file, const char* output, const char* key) {
  // 1. The arguments, before any file is opened.
  if (!engine_key_usable(key) || file[0] == '\0' || rt_size_query(file) < 2) return result_refused;

  // 2. The source and its length, which may have changed since the query.
  int source = rt_file_open(file);
  if (source < 0) return result_read_error;
  file_header h = {};
  h.plain_size = rt_file_length(source);
  const char* result = nullptr;
  if (h.plain_size < 0) result = result_read_error;
  else if (h.plain_size < 2) result = result_refused;
  void* block = nullptr;
  if (result == nullptr) {
    block = piece_alloc();
    if (block == nullptr) result = result_too_large;
  }

  // 3. The header's fixed fields and the initial value.
  h.pad_count = static_cast<int8_t>((8 - h.plain_size % 8) % 8);
  h.constant[0] = 2;
  h.constant[1] = 0;
  noted_output out;
  bool begun = false;
  if (result == nullptr) {
    draw_iv(h.iv);
    begun = noted_begin(&out, output, FILE_HEADER_SIZE + h.plain_size + h.pad_count);
    if (!begun) result = result_write_error;
  }

  // 4. The body, then the header, whose CRC is known only now.
  if (result == nullptr) {
    uint8_t head[FILE_HEADER_SIZE] = {};
    output_write(&out.file, head, FILE_HEADER_SIZE);
    result = encrypt_body(source, cipher_key_from_string(key), &h, piece_in(block, 0), &out.file);
    header_store(h, head);
    output_write_at(&out.file, 0, head, FILE_HEADER_SIZE);
  }
  if (!rt_file_close(source) && result == nullptr) result = result_read_error;
  rt_block_free(block);

  // 5. Output replaced whole, or left as it was.
  if (result != nullptr) {
    if (begun) noted_discard(&out);
    return result;
  }
  return noted_commit(&out, output) ? result_ok : result_write_error;
}

// Reads until count bytes are had or the reader reaches the end; the count
// had, or -1 on an error.
static int32_t read_full(engine_reader* read, void* context, uint8_t* buffer, int32_t count) {
  int32_t had = 0;
  while (had < count) {
    int32_t got = read(context, buffer + had, count - had);
    if (got < 0) return -1;
    if (got == 0) break;
    had += got;
  }
  return had;
}

const char* encrypt_stream(engine_reader* read, void* context, const char* output,
                           const char* key) {
  if (!engine_key_usable(key)) return result_refused;
  void* block = piece_alloc();
  if (block == nullptr) return result_too_large;
  file_header h = {};
  h.constant[0] = 2;
  draw_iv(h.iv);
  noted_output out;
  if (!noted_begin(&out, output, FILE_HEADER_SIZE)) {
    rt_block_free(block);
    return result_write_error;
  }
  uint8_t head[FILE_HEADER_SIZE] = {};
  output_write(&out.file, head, FILE_HEADER_SIZE);
  const cipher_key cipher = cipher_key_from_string(key);
  uint8_t* piece = piece_in(block, 0);
  uint8_t chain[8];
  memcpy(chain, h.iv, 8);
  uint32_t crc = 0;
  const char* result = nullptr;
  // Every piece but the last is whole, and so whole blocks; only the last
  // is padded.
  for (int32_t got = PIECE_BYTES; got == PIECE_BYTES && result == nullptr;) {
    got = read_full(read, context, piece, PIECE_BYTES);
    if (cancelled()) result = engine_cancelled;
    else if (got < 0) result = result_read_error;
    if (result != nullptr || got == 0) break;
    crc = rt_crc32_update(crc, piece, got);
    int32_t length = (got + 7) / 8 * 8;
    memset(piece + got, 0, length - got);
    cbc_encrypt(cipher, chain, piece, length / 8);
    memcpy(chain, piece + length - 8, 8);
    output_write(&out.file, piece, length);
    count_worked(length);
    h.plain_size += got;
    h.pad_count = static_cast<int8_t>(length - got);
  }
  rt_block_free(block);
  if (result == nullptr && h.plain_size < 2) result = result_refused;
  if (result != nullptr) {
    noted_discard(&out);
    return result;
  }
  h.plain_crc = crc;
  header_store(h, head);
  output_write_at(&out.file, 0, head, FILE_HEADER_SIZE);
  return noted_commit(&out, output) ? result_ok : result_write_error;
}

// The CRC over the part of a body that the file does not hold, which counts
// as zero bytes.  The first missing block deciphers to D(0) XOR the last
// block before it, every later one (chained to a zero block) to D(0) alone,
// and bytes past the last whole block are not deciphered and stay zero; so
// a header that claims far more than the file holds costs no time.
static uint32_t missing_part_crc(uint32_t crc, const cipher_key& cipher, const uint8_t chain[8],
                                 uint64_t at, uint64_t data_length, uint64_t plain_size) {
  if (plain_size <= at) return crc;
  uint64_t left = plain_size - at;  // the bytes of the rest that the CRC covers
  uint64_t blocks = (data_length - at) / 8;
  static const uint8_t zeros[8] = {};
  uint8_t repeated[8] = {}, first[8];
  cbc_decrypt(cipher, zeros, repeated, 1);
  for (int i = 0; i < 8; i++) first[i] = repeated[i] ^ chain[i];
  if (blocks > 0) {
    int32_t take = left < 8 ? static_cast<int32_t>(left) : 8;
    crc = rt_crc32_update(crc, first, take);
    left -= take;
    uint64_t copies = blocks - 1 < left / 8 ? blocks - 1 : left / 8;
    crc = rt_crc32_repeat(crc, repeated, 8, copies);
    left -= 8 * copies;
    if (copies < blocks - 1) {  // the CRC ends inside a block
      crc = rt_crc32_update(crc, repeated, static_cast<int32_t>(left));
      left = 0;
    }
  }
  return rt_crc32_update(crc, zeros, static_cast<int32_t>(left));  // fewer than 8 left
}

// The work on a body besides deciphering, done a piece at a time as a job:
// adding the plain piece to the CRC, writing it, and reading a later cipher
// piece into the same buffer.  Without a worker the job runs at once and
// reads the next piece, so one buffer serves.  With a worker thread
// (engine_allow_worker) there are two buffers: while the engine deciphers
// piece k in one, the job on the other finishes piece k-1 and reads piece
// k+1, so that the system's copies and the CRC (a third of a decryption's
// time) run on another processor.  Either way the reads and writes are the
// same, in the same order.
struct body_work {
  int source;
  rt_worker* worker;     // null: each job runs when it is given
  int depth;             // buffers in use: 1, or 2 with a worker
  uint8_t* pieces[2];
  int32_t got[2];        // what the last read into each buffer had (-1: an error)
  void* block;           // the buffers' memory
  bool given;            // a job is with the worker
  // The job.  Counts of 0 skip that part.
  int buffer;
  int32_t covered;       // plain bytes of the piece that the CRC covers
  output_file* out;      // where they are written, or null
  engine_writer* send;   // or where they are handed, or null
  void* send_context;
  bool send_failed;
  int32_t wanted;        // bytes of the read into the buffer
  uint32_t crc;          // of every piece covered so far
};

static void piece_job(void* arg) {
  body_work* w = static_cast<body_work*>(arg);
  uint8_t* piece = w->pieces[w->buffer];
  if (w->covered > 0) {
    w->crc = rt_crc32_update(w->crc, piece, w->covered);
    if (w->out != nullptr) output_write(w->out, piece, w->covered);
    if (w->send != nullptr && !w->send_failed)
      w->send_failed = !w->send(w->send_context, piece, w->covered);
  }
  if (w->wanted > 0) w->got[w->buffer] = rt_file_read(w->source, piece, w->wanted);
}

static void give_job(body_work* w, int buffer, int32_t covered, int32_t wanted) {
  w->buffer = buffer;
  w->covered = covered;
  w->wanted = wanted;
  if (w->worker == nullptr) {
    piece_job(w);
    return;
  }
  w->given = true;
  rt_worker_give(w->worker, piece_job, w);
}

static void wait_job(body_work* w) {
  if (!w->given) return;
  rt_worker_wait(w->worker);
  w->given = false;
}

// Deciphers the body a piece at a time, adds the first plain_size plain
// bytes to *crc and, when out (or w->send) is given, writes them.  A body
// that ends early counts as followed by zero bytes, deciphered like the
// rest; without an output, the CRC of that part is had in closed form
// instead.  A read is asked for only while every piece before it came
// whole, and no job is left with the worker on return.
static const char* decipher_body(body_work* w, const cipher_key& cipher, const file_header& h,
                                 output_file* out, uint32_t* crc) {
  const uint64_t plain_size = static_cast<uint64_t>(h.plain_size);
  const uint64_t data_length = plain_size + static_cast<uint64_t>(h.pad_count);
  const bool writing = out != nullptr || w->send != nullptr;
  uint8_t chain[8];
  memcpy(chain, h.iv, 8);
  w->crc = 0;
  w->out = out;
  // The first pieces, one per buffer.
  const int32_t first = piece_length(data_length);
  give_job(w, 0, 0, first);
  wait_job(w);
  if (w->depth == 2 && w->got[0] == first && data_length > static_cast<uint64_t>(first))
    give_job(w, 1, 0, piece_length(data_length - first));
  bool ended = false;
  uint64_t at = 0;
  const char* result = nullptr;
  for (uint64_t k = 0; at < data_length && !(ended && !writing); k++) {
    const int b = static_cast<int>(k % w->depth);
    if (cancelled()) {
      result = engine_cancelled;
      break;
    }
    if (w->send_failed) {
      result = result_write_error;
      break;
    }
    uint8_t* piece = w->pieces[b];
    int32_t length = piece_length(data_length - at);
    int32_t got = 0;
    if (!ended) {
      got = w->got[b];
      if (got < 0) {
        result = result_read_error;
        break;
      }
      ended = got < length;
      // Without an output, only the block the file ends in is worked here;
      // the rest is had in closed form.
      if (ended && !writing && (got + 7) / 8 * 8 < length) length = (got + 7) / 8 * 8;
    }
    memset(piece + got, 0, length - got);
    int32_t blocks = length / 8;
    if (blocks > 0) {
      // The piece's last ciphertext block chains into the next piece; it is
      // kept before deciphering in place overwrites it.
      uint8_t next_chain[8];
      memcpy(next_chain, piece + 8 * (blocks - 1), 8);
      cbc_decrypt(cipher, chain, piece, blocks);
      memcpy(chain, next_chain, 8);
    }
    memset(piece + 8 * blocks, 0, length - 8 * blocks);  // not deciphered: zero
    int32_t covered = plain_size > at ? piece_length(plain_size - at) : 0;
    if (covered > length) covered = length;
    count_worked(length);
    at += length;

    // The job before this one (the other buffer's) ends first; then this
    // piece's job reads piece k + depth, if the pieces up to it came whole.
    wait_job(w);
    uint64_t ahead_at = at;  // where piece k + depth starts
    bool whole = !ended;
    if (w->depth == 2 && at < data_length) {
      int32_t next_length = piece_length(data_length - at);
      whole = whole && w->got[b ^ 1] == next_length;
      ahead_at += next_length;
    }
    int32_t wanted = whole && ahead_at < data_length ? piece_length(data_length - ahead_at) : 0;
    give_job(w, b, covered, wanted);
  }
  wait_job(w);
  *crc = w->crc;
  if (result == nullptr && w->send_failed) result = result_write_error;
  if (result == nullptr && ended && !writing && at < data_length)
    *crc = missing_part_crc(*crc, cipher, chain, at, data_length, plain_size);
  return result;
}

static bool worker_allowed;  // set once by the program, before any call

void engine_allow_worker(bool allowed) { worker_allowed = allowed; }

// Sets up the work on a body of data_length bytes (as the header claims)
// in source: one buffer, and a second with a worker when the body spans
// several pieces, the program allows it and a thread can be had.  False
// when the buffers cannot be allocated.
static bool work_begin(body_work* w, int source, uint64_t data_length) {
  *w = body_work{};
  w->source = source;
  w->depth = 1;
  if (worker_allowed && data_length > PIECE_BYTES) {
    void* pair = rt_block_alloc(2 * (PIECE_BYTES + LINE_BYTES));
    rt_worker* worker = pair != nullptr ? rt_worker_start() : nullptr;
    if (worker != nullptr) {
      w->block = pair;
      w->worker = worker;
      w->depth = 2;
    } else {
      rt_block_free(pair);
    }
  }
  if (w->depth == 1) w->block = piece_alloc();
  if (w->block == nullptr) return false;
  for (int i = 0; i < w->depth; i++)
    w->pieces[i] = piece_in(static_cast<uint8_t*>(w->block) + i * (PIECE_BYTES + LINE_BYTES),
                            FILE_HEADER_SIZE);
  return true;
}

static void work_end(body_work* w) {
  rt_worker_stop(w->worker);
  rt_block_free(w->block);
}

// Opens File and reads its header.  The header is trusted as far as the
// arithmetic allows: plain_size at least 1 and pad_count not negative, so
// that plain_size lies within the data length.  On success the source is
// left open and *present holds the bytes that follow the header.
static const char* open_encrypted(const char* file, const char* key, int* source,
                                  file_header* h, int64_t* present) {
  *source = -1;
  if (!engine_key_usable(key) || !has_non_space(file) || rt_size_query(file) < 1)
    return result_refused;
  *source = rt_file_open(file);
  if (*source < 0) return result_read_error;
  uint8_t head[FILE_HEADER_SIZE] = {};
  int64_t length = rt_file_length(*source);
  const char* result = nullptr;
  if (length < 0 || rt_file_read(*source, head, FILE_HEADER_SIZE) < 0) result = result_read_error;
  *h = header_load(head);
  *present = length > FILE_HEADER_SIZE ? length - FILE_HEADER_SIZE : 0;
  if (result == nullptr && (h->plain_size < 1 || h->pad_count < 0)) result = result_not_encrypted;
  if (result != nullptr) {
    rt_file_close(*source);
    *source = -1;
  }
  return result;
}

// The result once the body has been worked: a read error, then a CRC that
// does not match, then an Output that could not be written, in that order,
// as if Output were opened only after the comparison.
static const char* decrypt_result(const char* body_result, bool closed, uint32_t crc,
                                  const file_header& h, bool written) {
  if (body_result != nullptr) return body_result;
  if (!closed) return result_read_error;
  if (crc != h.plain_crc) return result_crc_failure;
  return written ? result_ok : result_write_error;
}

const char* decrypt_file(const char* file, const char* output, const char* key) {
  // 1. The arguments, the source and its header.
  int source;
  file_header h;
  int64_t present;
  const char* result = open_encrypted(file, key, &source, &h, &present);
  if (result != nullptr) return result;
  const cipher_key cipher = cipher_key_from_string(key);
  const uint64_t data_length = static_cast<uint64_t>(h.plain_size) + h.pad_count;
  const bool whole = data_length <= static_cast<uint64_t>(present);
  body_work work;
  if (!work_begin(&work, source, data_length)) {
    rt_file_close(source);
    return result_too_large;
  }

  // 2. A body the file holds whole is deciphered, checked and written in one
  // pass.  One that ends early is checked first, without writing: the
  // header may claim far more than the file holds.
  noted_output out;
  bool writing = whole && noted_begin(&out, output, h.plain_size);
  uint32_t crc = 0;
  result = decipher_body(&work, cipher, h, writing ? &out.file : nullptr, &crc);
  if (result == nullptr && !whole && crc == h.plain_crc) {
    // It matches all the same (a crafted file): now written whole, its room
    // reserved first.
    if (!rt_file_seek(source, FILE_HEADER_SIZE)) result = result_read_error;
    else writing = noted_begin(&out, output, h.plain_size);
    if (writing) result = decipher_body(&work, cipher, h, &out.file, &crc);
  }
  work_end(&work);
  bool closed = rt_file_close(source);

  // 3. Output replaced only when the CRC matched.
  result = decrypt_result(result, closed, crc, h, writing);
  if (!writing) return result;
  if (result != result_ok) {
    noted_discard(&out);
    return result;
  }
  return noted_commit(&out, output) ? result_ok : result_write_error;
}

const char* decrypt_to_stream(const char* file, engine_writer* write, void* context,
                              const char* key) {
  int source;
  file_header h;
  int64_t present;
  const char* result = open_encrypted(file, key, &source, &h, &present);
  if (result != nullptr) return result;
  const cipher_key cipher = cipher_key_from_string(key);
  body_work work;
  uint32_t crc = 0;
  if (!work_begin(&work, source, static_cast<uint64_t>(h.plain_size) + h.pad_count)) {
    rt_file_close(source);
    return result_too_large;
  }
  result = decipher_body(&work, cipher, h, nullptr, &crc);
  if (result == nullptr && crc == h.plain_crc) {
    // The source is held with other writers denied, so the second pass
    // reads what the first one checked; its CRC is compared all the same.
    work.send = write;
    work.send_context = context;
    if (!rt_file_seek(source, FILE_HEADER_SIZE)) result = result_read_error;
    else result = decipher_body(&work, cipher, h, nullptr, &crc);
  }
  work_end(&work);
  bool closed = rt_file_close(source);
  return decrypt_result(result, closed, crc, h, true);
}

const char* verify_file(const char* file, const char* key) {
  int source;
  file_header h;
  int64_t present;
  const char* result = open_encrypted(file, key, &source, &h, &present);
  if (result != nullptr) return result;
  body_work work;
  uint32_t crc = 0;
  if (!work_begin(&work, source, static_cast<uint64_t>(h.plain_size) + h.pad_count))
    result = result_too_large;
  else
    result = decipher_body(&work, cipher_key_from_string(key), h, nullptr, &crc);
  work_end(&work);
  bool closed = rt_file_close(source);
  return decrypt_result(result, closed, crc, h, true);
}

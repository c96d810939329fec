// The pipeline that deciphers a body: each piece read, deciphered, added to
// the CRC and written (or handed on) in turn, with a worker thread beside
// the deciphering where the call allows one (its context's use_worker).

#include "decipher_body.h"

#include <cstring>

#include "cbc.h"
#include "missing_part_crc.h"
#include "pieces.h"

// A buffer holds a piece where piece_in puts it for the file's offset, with
// a line's room before it for the plain bytes (plain_in).
static const int32_t BUFFER_BYTES = PIECE_BYTES + 2 * LINE_BYTES;

// Where a piece read at piece is deciphered to: FILE_HEADER_SIZE bytes
// before it, at the start of a cache line, which is where its bytes fall in
// the output's file cache, so that the system's copy into it runs at full
// speed (measured here: writing 1 MiB pieces to a new file took 25 ms per
// 256 MiB from a line's start, 35 ms from 23 bytes into one).
static uint8_t* plain_in(uint8_t* piece) { return piece - FILE_HEADER_SIZE; }

static void piece_job(void* arg) {
  body_work* w = static_cast<body_work*>(arg);
  const uint8_t* plain = w->plains[w->buffer];
  if (w->covered > 0) {
    w->crc = rt_crc32_update(w->crc, plain, w->covered);
    if (w->out != nullptr) output_write(w->out, plain, w->covered);
    if (w->send != nullptr && !w->send_failed)
      w->send_failed = !w->send(w->send_context, plain, w->covered);
  }
  if (w->wanted > 0) {
    w->got[w->buffer] = rt_file_read(w->source, w->pieces[w->buffer], w->wanted);
    if (w->got[w->buffer] < 0) w->read_code = rt_last_error();
  }
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

// Deciphers length bytes of piece into plain, chained from chain, which
// then holds the piece's last ciphertext block; bytes past the last whole
// block are not deciphered and become zero.
static void decipher_piece(const cipher_key& cipher, uint8_t chain[8], const uint8_t* piece,
                           uint8_t* plain, int32_t length) {
  int32_t blocks = length / 8;
  if (blocks > 0) {
    // The last ciphertext block chains into the next piece; it is kept
    // before the plain bytes, which overlap the piece, overwrite it.
    uint8_t next_chain[8];
    memcpy(next_chain, piece + 8 * (blocks - 1), 8);
    cbc_decrypt_into(cipher, chain, piece, plain, blocks);
    memcpy(chain, next_chain, 8);
  }
  memset(plain + 8 * blocks, 0, length - 8 * blocks);
}

// Hands buffer b's job on once the one before it (the other buffer's) has
// ended: adding its covered plain bytes, and reading piece k + depth (which
// starts where piece k + 1 ends) if every piece up to it came whole.
static void next_job(body_work* w, int b, int32_t covered, uint64_t at, uint64_t data_length,
                     bool ended) {
  wait_job(w);
  uint64_t ahead_at = at;
  bool whole = !ended;
  if (w->depth == 2 && at < data_length) {
    int32_t next_length = piece_length(data_length - at);
    whole = whole && w->got[b ^ 1] == next_length;
    ahead_at += next_length;
  }
  int32_t wanted = whole && ahead_at < data_length ? piece_length(data_length - ahead_at) : 0;
  give_job(w, b, covered, wanted);
}

// The first pieces, one per buffer.
static void first_jobs(body_work* w, uint64_t data_length) {
  const int32_t first = piece_length(data_length);
  give_job(w, 0, 0, first);
  wait_job(w);
  if (w->depth == 2 && w->got[0] == first && data_length > static_cast<uint64_t>(first))
    give_job(w, 1, 0, piece_length(data_length - first));
}

// Why the piece loop stops before piece b: cancelled, a stream that failed,
// or a read that failed; null to go on.
static const char* piece_stop(body_work* w, int b, bool ended) {
  if (cancelled(w->call)) return call_failed(w->call, STEP_CANCELLED, 0, engine_cancelled);
  if (w->send_failed) return call_failed(w->call, STEP_SEND, 0, result_write_error);
  if (!ended && w->got[b] < 0)
    return call_failed(w->call, STEP_READ, w->read_code, result_read_error);
  return nullptr;
}

const char* decipher_body(body_work* w, const cipher_key& cipher, const file_header& h,
                          output_file* out, uint32_t* crc) {
  const uint64_t plain_size = static_cast<uint64_t>(h.plain_size);
  const uint64_t data_length = plain_size + static_cast<uint64_t>(h.pad_count);
  const bool writing = out != nullptr || w->send != nullptr;
  uint8_t chain[8];
  memcpy(chain, h.iv, 8);
  w->crc = 0;
  w->out = out;
  first_jobs(w, data_length);
  bool ended = false;
  uint64_t at = 0;
  const char* result = nullptr;
  for (uint64_t k = 0; at < data_length && !(ended && !writing); k++) {
    const int b = static_cast<int>(k % w->depth);
    if ((result = piece_stop(w, b, ended)) != nullptr) break;
    uint8_t* piece = w->pieces[b];
    int32_t length = piece_length(data_length - at);
    int32_t got = ended ? 0 : w->got[b];
    ended = ended || got < length;
    // Without an output, only the block the file ends in is worked here;
    // the rest is had in closed form.
    if (ended && !writing && file_padded_length(got) < length)
      length = static_cast<int32_t>(file_padded_length(got));
    memset(piece + got, 0, length - got);
    decipher_piece(cipher, chain, piece, w->plains[b], length);
    int32_t covered = plain_size > at ? piece_length(plain_size - at) : 0;
    if (covered > length) covered = length;
    count_worked(w->call, length);
    at += length;
    next_job(w, b, covered, at, data_length, ended);
  }
  wait_job(w);
  *crc = w->crc;
  if (result == nullptr && w->send_failed)
    result = call_failed(w->call, STEP_SEND, 0, result_write_error);
  if (result == nullptr && ended && !writing && at < data_length)
    *crc = missing_part_crc(*crc, cipher, chain, at, data_length, plain_size);
  return result;
}

bool work_begin(body_work* w, engine_call* call, int source, uint64_t data_length) {
  *w = body_work{};
  w->call = call;
  w->source = source;
  w->depth = 1;
  if (call->use_worker && data_length > PIECE_BYTES) {
    void* pair = rt_block_alloc(2 * BUFFER_BYTES);
    rt_worker* worker = pair != nullptr ? rt_worker_start() : nullptr;
    if (worker != nullptr) {
      w->block = pair;
      w->worker = worker;
      w->depth = 2;
    } else {
      rt_block_free(pair);
    }
  }
  // One buffer as long as the first piece: a small file's call zeroes no
  // more than it uses.
  const int32_t buffer_bytes = w->depth == 2 ? BUFFER_BYTES : piece_room(data_length) + 2 * LINE_BYTES;
  if (w->depth == 1) w->block = rt_block_alloc(buffer_bytes);
  if (w->block == nullptr) return false;
  for (int i = 0; i < w->depth; i++) {
    uint8_t* buffer = static_cast<uint8_t*>(w->block) + i * buffer_bytes;
    w->pieces[i] = piece_in(buffer + LINE_BYTES, FILE_HEADER_SIZE);
    w->plains[i] = plain_in(w->pieces[i]);
  }
  return true;
}

void work_end(body_work* w) {
  rt_worker_stop(w->worker);
  rt_block_free(w->block);
}


// Deciphering a body a piece at a time, for decrypt.cpp.
#pragma once

#include <cstdint>

#include "../runtime/runtime.h"
#include "engine.h"
#include "engine_call.h"
#include "file_format.h"
#include "output_commit.h"
#include "xtea.h"

// The work on a body besides deciphering, done a piece at a time as a job:
// adding the plain piece to the CRC, writing it, and reading a later cipher
// piece into the same buffer.  Without a worker the job runs at once and
// reads the next piece, so one buffer serves.  With a worker thread
// (the context's use_worker) there are two buffers: while the engine deciphers
// piece k in one, the job on the other finishes piece k-1 and reads piece
// k+1, so that the system's copies and the CRC (a third of a decryption's
// time) run on another processor.  Either way the reads and writes are the
// same, in the same order.
struct body_work {
  engine_call* call;
  int source;
  rt_worker* worker;     // null: each job runs when it is given
  int depth;             // buffers in use: 1, or 2 with a worker
  uint8_t* pieces[2];    // where each buffer's cipher piece is read
  uint8_t* plains[2];    // where it is deciphered to (plain_in)
  int32_t got[2];        // what the last read into each buffer had (-1: an error)
  int read_code;         // the system's code for a read that failed
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

// Sets up the work on a body of data_length bytes (as the header claims)
// in source: one buffer, and a second with a worker when the body spans
// several pieces, the call allows it and a thread can be had.  False
// when the buffers cannot be allocated.
bool work_begin(body_work* w, engine_call* call, int source, uint64_t data_length);
void work_end(body_work* w);

// Deciphers the body a piece at a time, adds the first plain_size plain
// bytes to *crc and, when out (or w->send) is given, writes (or hands) them.
// A body that ends early counts as followed by zero bytes, deciphered like
// the rest; without an output, the CRC of that part is had in closed form
// instead.  A read is asked for only while every piece before it came
// whole, and no job is left with the worker on return.
const char* decipher_body(body_work* w, const cipher_key& cipher, const file_header& h,
                          output_file* out, uint32_t* crc);

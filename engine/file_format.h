// The encrypted file: a 23-byte header, then the padded data in CBC blocks.
//
//   offset  width  field
//        0      8  plain_size   signed, little-endian
//        8      1  pad_count    zero bytes appended: 0 .. 7 when written
//        9      8  iv           first chaining value
//       17      4  plain_crc    CRC-32 of the plain_size plain bytes
//       21      1  2            constant, not read back
//       22      1  0            constant, not read back
//       23      n  ciphertext   n = plain_size + pad_count
#pragma once

#include <cstdint>

enum { FILE_HEADER_SIZE = 23 };
// The fewest plain bytes encryption takes: an empty or 1-byte file is refused.
enum { FILE_LEAST_PLAIN = 2 };
// The most plain_size whose file length, with any pad_count a byte can
// hold, a signed 64-bit length can still express; a header that claims more
// describes no file.
constexpr int64_t FILE_MOST_PLAIN = INT64_MAX - FILE_HEADER_SIZE - 128;

// The zero bytes encryption appends to plain_size bytes (0 .. 7), and the
// length of the padded data, a whole number of 8-byte blocks.
constexpr int file_pad_count(int64_t plain_size) { return static_cast<int>((8 - plain_size % 8) % 8); }
constexpr int64_t file_padded_length(int64_t plain_size) { return plain_size + file_pad_count(plain_size); }

struct file_header {
  int64_t plain_size;
  int8_t pad_count;
  uint8_t iv[8];
  uint32_t plain_crc;
  uint8_t constant[2];
};

void header_store(const file_header& h, uint8_t out[FILE_HEADER_SIZE]);
file_header header_load(const uint8_t in[FILE_HEADER_SIZE]);

// The one judgement of a header against the length of its file, as
// decryption takes the header:
//   HEADER_REFUSED  refused whatever the key: plain_size below 1, or a
//                   negative pad_count (decryption's result_not_encrypted);
//   HEADER_SHORT    some plain data lies outside the whole blocks that the
//                   file holds (a file cut short, or a pad_count too small
//                   for plain_size): it deciphers from zeros, so only a
//                   file crafted for it checks out;
//   HEADER_SOUND    the plain data lies whole in the file: the key decides.
// The notes say what differs from what encryption writes and decryption
// ignores.
enum header_verdict { HEADER_REFUSED, HEADER_SHORT, HEADER_SOUND };
enum {
  NOTE_PAD = 1,        // pad_count is not the one encryption writes for plain_size
  NOTE_IV = 2,         // iv outside the values encryption draws
  NOTE_CONSTANTS = 4,  // bytes 21 and 22 are not 2 and 0
  NOTE_EXTRA = 8,      // bytes after the data
};
struct header_judgement {
  header_verdict verdict;
  int64_t data_length;   // plain_size + pad_count, as decryption reads it; -1 when refused
  int64_t needed_length; // the file length that holds the plain data in whole blocks;
                         // -1 when no file can be that long
  unsigned notes;
};
header_judgement header_judge(const file_header& h, int64_t file_length);

// Whether a header and its file's length are exactly what encryption
// writes: plain_size of FILE_LEAST_PLAIN or more, pad_count its pad, the
// file the header and the padded data and nothing more, an initial value
// the writer draws, and the constant bytes 2 and 0.  Decryption reads far
// more than this (header_judge), so a file of another kind whose first
// bytes happen to read as a header is taken for an encrypted one only by
// the looser judgement.
bool header_written_by_encrypt(const file_header& h, int64_t file_length);

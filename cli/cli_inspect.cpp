// verify and info: reading encrypted files without writing anything.
// Verification is the engine's own, so its verdict is the one decrypt_file
// would give.

#include <cinttypes>
#include <cstdarg>
#include <cstring>

#include "../engine/cbc.h"
#include "../engine/engine.h"
#include "../engine/file_format.h"
#include "../engine/xtea.h"
#include "../runtime/runtime.h"
#include "cli.h"

const char* cli_verify_file(const char* file, const char* key) { return verify_file(file, key); }

// Prints to out unless out is null (--quiet).
static void say(FILE* out, const char* format, ...) {
  if (out == nullptr) return;
  va_list args;
  va_start(args, format);
  vfprintf(out, format, args);
  va_end(args);
}

// The largest iv the writer draws: (2^31 - 1)^2 - 1.
static const int64_t max_written_iv = INT64_C(4611686014132420608);

static void reason(FILE* out, int* reasons, const char* text) {
  say(out, "%s%s", *reasons > 0 ? "; " : "", text);
  ++*reasons;
}

// Prints why the header and length could not come from the writer, the
// reasons separated by "; "; returns their number.
static int say_impossible(FILE* out, const file_header& h, const uint8_t* head,
                          int64_t length, int64_t implied) {
  int n = 0;
  if (h.plain_size < 2) reason(out, &n, "plain_size below 2");
  if (h.plain_size >= 2 && h.pad_count != (8 - h.plain_size % 8) % 8)
    reason(out, &n, "pad_count does not pad plain_size to whole blocks");
  int64_t iv = static_cast<int64_t>(load_le32(head + 9) |
                                    static_cast<uint64_t>(load_le32(head + 13)) << 32);
  if (iv < -1 || iv > max_written_iv) reason(out, &n, "iv outside the values the writer draws");
  if (h.constant[0] != 2 || h.constant[1] != 0) reason(out, &n, "constant bytes are not 2 and 0");
  if (implied >= 0 && length < implied) reason(out, &n, "file shorter than the header implies");
  else if (implied >= 0 && length > implied) reason(out, &n, "file longer than the header implies");
  return n;
}

const char* cli_info_file(const char* file, FILE* out) {
  if (rt_size_query(file) < 0) return result_refused;  // missing, or a directory
  int source = rt_file_open(file, RT_OPEN_SOURCE, nullptr);
  if (source < 0) return result_read_error;
  uint8_t head[FILE_HEADER_SIZE] = {};
  int64_t length = rt_file_length(source);
  int32_t got = rt_file_read(source, head, FILE_HEADER_SIZE);
  rt_file_close(source);
  if (length < 0 || got < 0) return result_read_error;

  say(out, "%s\n", file);
  if (got < FILE_HEADER_SIZE) {
    say(out, "  length      %" PRId64 " bytes\n", length);
    say(out, "  format      not this format: shorter than the %d-byte header\n",
        FILE_HEADER_SIZE);
    return result_not_encrypted;
  }
  const file_header h = header_load(head);
  // The reader's data length, pad_count taken as a signed byte; -1 when the
  // sum is beyond any file length.
  int64_t implied = -1;
  if (h.plain_size >= 0 && h.plain_size <= INT64_MAX - FILE_HEADER_SIZE - 127)
    implied = FILE_HEADER_SIZE + h.plain_size + h.pad_count;
  say(out, "  plain_size  %" PRId64 "\n", h.plain_size);
  say(out, "  pad_count   %d\n", head[8]);
  say(out, "  iv          ");
  for (int i = 0; i < 8; i++) say(out, "%02x", h.iv[i]);
  say(out, "\n  plain_crc   %08" PRIx32 "\n", h.plain_crc);
  say(out, "  constants   %d %d\n", h.constant[0], h.constant[1]);
  if (implied >= 0)
    say(out, "  length      %" PRId64 " bytes, header implies %" PRId64 "\n", length, implied);
  else
    say(out, "  length      %" PRId64 " bytes, header implies no possible length\n", length);
  // Counted first with no stream, then printed.
  if (say_impossible(nullptr, h, head, length, implied) == 0) {
    say(out, "  format      consistent\n");
    return result_ok;
  }
  say(out, "  format      not this format: ");
  say_impossible(out, h, head, length, implied);
  say(out, "\n");
  return result_not_encrypted;
}

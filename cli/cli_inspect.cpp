// Encrypted files' headers, read without writing anything: the fields info
// prints, and the engine's judgement of them in words, which encrypt and
// the explanations of failures rely on too.

#include "cli_inspect.h"

#include <cinttypes>
#include <cstring>

#include "../engine/bytes.h"
#include "../engine/engine.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "cli_print.h"

static void add_text(char* list, size_t capacity, int* count, const char* text) {
  size_t used = strlen(list);
  snprintf(list + used, capacity - used, "%s%s", *count > 0 ? "; " : "", text);
  ++*count;
}

static void reason(cli_header_facts* facts, const char* text) {
  add_text(facts->problem_text, sizeof facts->problem_text, &facts->problems, text);
}

static void oddity(cli_header_facts* facts, const char* text) {
  add_text(facts->odd_text, sizeof facts->odd_text, &facts->oddities, text);
}

// Notes why decryption fails whatever the key, and what differs from what
// encryption writes but decryption ignores: the engine's one judgement in
// words.
static void judge(const file_header& h, cli_header_facts* facts) {
  const header_judgement j = header_judge(h, facts->length);
  char text[160];
  if (j.verdict == HEADER_REFUSED) {
    reason(facts, h.plain_size < 1 ? "plain_size below 1" : "pad_count below 0");
  } else if (j.verdict == HEADER_SHORT) {
    if (j.data_length >= 0 && j.data_length / 8 * 8 < h.plain_size) {
      snprintf(text, sizeof text, "pad_count %d leaves plain bytes outside the whole blocks",
               h.pad_count);
      reason(facts, text);
    } else {
      facts->cut_short = true;
      reason(facts, "file shorter than its plain data needs");
    }
  }
  if (j.verdict != HEADER_REFUSED && (j.notes & NOTE_PAD)) {
    snprintf(text, sizeof text, "pad_count %d is not the %d encryption writes", h.pad_count,
             static_cast<int>((8 - h.plain_size % 8) % 8));
    oddity(facts, text);
  }
  if (h.plain_size == 1) oddity(facts, "plain_size 1, which encryption never writes");
  if (j.notes & NOTE_IV) oddity(facts, "iv outside the values the writer draws");
  if (j.notes & NOTE_CONSTANTS) oddity(facts, "constant bytes are not 2 and 0");
  if (j.notes & NOTE_EXTRA) {
    char extra[64];
    cli_size_text(facts->length - facts->implied, extra, sizeof extra);
    snprintf(text, sizeof text, "%s after the data", extra);
    oddity(facts, text);
  }
  facts->written_by_encrypt = j.verdict == HEADER_SOUND && facts->oddities == 0 &&
                              facts->length == facts->implied;
}

void cli_inspect_read(const char* file, cli_header_read* read) {
  memset(read, 0, sizeof *read);
  read->length = -1;
  read->got = -1;
  int source = rt_file_open(file);
  if (source < 0) return;
  read->length = rt_file_length(source);
  read->got = rt_file_read(source, read->bytes, FILE_HEADER_SIZE);
  rt_file_close(source);
}

void cli_inspect_judge(const cli_header_read& read, cli_header_facts* facts) {
  memset(facts, 0, sizeof *facts);
  facts->implied = -1;
  facts->length = read.length;
  facts->readable = read.length >= 0 && read.got >= 0;
  facts->whole_header = read.got == FILE_HEADER_SIZE;
  if (!facts->readable || !facts->whole_header) return;
  const file_header h = header_load(read.bytes);
  facts->plain_size = h.plain_size;
  // The reader's data length, pad_count taken as a signed byte; -1 when the
  // sum is beyond any file length.
  if (h.plain_size >= 0 && h.plain_size <= INT64_MAX - FILE_HEADER_SIZE - 127)
    facts->implied = FILE_HEADER_SIZE + h.plain_size + h.pad_count;
  judge(h, facts);
}

bool cli_inspect_is_encrypted(const cli_header_read& read) {
  cli_header_facts facts;
  cli_inspect_judge(read, &facts);
  return facts.whole_header && facts.problems == 0;
}

int64_t cli_inspect_plain_size(const cli_header_read& read) {
  if (read.length < 0 || read.got != FILE_HEADER_SIZE) return 0;
  return header_load(read.bytes).plain_size;
}

const char* cli_inspect_info(const char* file, const cli_header_read& read, const char* shown,
                             FILE* out) {
  if (rt_size_query(file) < 0) return result_refused;  // missing, or a directory
  cli_header_facts facts;
  cli_inspect_judge(read, &facts);
  if (!facts.readable) return result_read_error;

  char name[CLI_TEXT_CAPACITY];
  cli_print(out, "%s\n", cli_escaped(shown, name, sizeof name));
  if (!facts.whole_header) {
    cli_print(out, "  length      %" PRId64 " bytes\n", facts.length);
    cli_print(out, "  format      not this format: shorter than the %d-byte header\n",
              FILE_HEADER_SIZE);
    return result_not_encrypted;
  }
  const uint8_t* head = read.bytes;
  const file_header h = header_load(head);
  cli_print(out, "  plain_size  %" PRId64 "\n", h.plain_size);
  cli_print(out, "  pad_count   %d\n", head[8]);
  cli_print(out, "  iv          ");
  for (int i = 0; i < 8; i++) cli_print(out, "%02x", h.iv[i]);
  cli_print(out, "\n  plain_crc   %08" PRIx32 "\n", h.plain_crc);
  cli_print(out, "  constants   %d %d\n", h.constant[0], h.constant[1]);
  if (facts.implied >= 0)
    cli_print(out, "  length      %" PRId64 " bytes, header implies %" PRId64 "\n",
              facts.length, facts.implied);
  else
    cli_print(out, "  length      %" PRId64 " bytes, header implies no possible length\n",
              facts.length);
  if (facts.problems == 0 && facts.oddities == 0) {
    cli_print(out, "  format      consistent\n");
    return result_ok;
  }
  if (facts.problems == 0) {
    cli_print(out, "  format      consistent; decryption ignores: %s\n", facts.odd_text);
    return result_ok;
  }
  // Decryption fails whatever the key: a file cut short may still be one
  // of this format.
  cli_print(out, "  format      %s: %s\n", facts.cut_short ? "cut short" : "not this format",
            facts.problem_text);
  return result_not_encrypted;
}

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

static void add_text(std::string* list, const std::string& text) {
  if (!list->empty()) *list += "; ";
  *list += text;
}

static void reason(cli_header_facts* facts, const std::string& text) {
  add_text(&facts->problem_text, text);
}

static void oddity(cli_header_facts* facts, const std::string& text) {
  add_text(&facts->odd_text, text);
}

// Notes why decryption fails whatever the key, and what differs from what
// encryption writes but decryption ignores: the engine's one judgement in
// words.
static void judge(const file_header& h, cli_header_facts* facts) {
  const header_judgement j = header_judge(h, facts->length);
  if (j.verdict == HEADER_REFUSED) {
    reason(facts, h.plain_size < 1 ? "plain_size below 1" : "pad_count below 0");
  } else if (j.verdict == HEADER_SHORT) {
    if (j.data_length >= 0 && j.data_length / 8 * 8 < h.plain_size) {
      reason(facts, cli_format("pad_count %d leaves plain bytes outside the whole blocks",
                               h.pad_count));
    } else {
      facts->cut_short = true;
      reason(facts, "file shorter than its plain data needs");
    }
  }
  if (j.verdict != HEADER_REFUSED && (j.notes & NOTE_PAD))
    oddity(facts, cli_format("pad_count %d is not the %d encryption writes", h.pad_count,
                             file_pad_count(h.plain_size)));
  if (h.plain_size == 1) oddity(facts, "plain_size 1, which encryption never writes");
  if (j.notes & NOTE_IV) oddity(facts, "iv outside the values the writer draws");
  if (j.notes & NOTE_CONSTANTS) oddity(facts, "constant bytes are not 2 and 0");
  if (j.notes & NOTE_EXTRA)
    oddity(facts, cli_size_text(facts->length - facts->implied) + " after the data");
  facts->written_by_encrypt = header_written_by_encrypt(h, facts->length);
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
  *facts = {};
  facts->implied = -1;
  facts->length = read.length;
  facts->readable = read.length >= 0 && read.got >= 0;
  facts->whole_header = read.got == FILE_HEADER_SIZE;
  if (!facts->readable || !facts->whole_header) return;
  const file_header h = header_load(read.bytes);
  facts->plain_size = h.plain_size;
  // The reader's data length, pad_count taken as a signed byte; -1 when the
  // sum is beyond any file length.
  if (h.plain_size >= 0 && h.plain_size <= FILE_MOST_PLAIN)
    facts->implied = FILE_HEADER_SIZE + h.plain_size + h.pad_count;
  judge(h, facts);
}

bool cli_inspect_written_by_encrypt(const cli_header_read& read) {
  if (read.length < 0 || read.got != FILE_HEADER_SIZE) return false;
  return header_written_by_encrypt(header_load(read.bytes), read.length);
}

int64_t cli_inspect_plain_size(const cli_header_read& read) {
  if (read.length < 0 || read.got != FILE_HEADER_SIZE) return 0;
  return header_load(read.bytes).plain_size;
}

// The line that says whether encryption wrote the file, as far as its
// header and length tell.
static std::string written_line(const cli_header_facts& facts) {
  if (facts.written_by_encrypt) return "by encryption: header and length exactly as it writes them";
  std::string why = facts.odd_text;
  if (!facts.problem_text.empty()) why = facts.problem_text + (why.empty() ? "" : "; " + why);
  if (why.empty()) why = "the length is not the header's and the padded data's";
  return "not as encryption writes: " + why;
}

const char* cli_inspect_info(const char* file, const cli_header_read& read, const char* shown,
                             std::string* out) {
  if (rt_size_query(file) < 0) return result_refused;  // missing, or a directory
  cli_header_facts facts;
  cli_inspect_judge(read, &facts);
  if (!facts.readable) return result_read_error;

  *out += cli_format("%s\n", cli_escaped(shown).c_str());
  if (!facts.whole_header) {
    *out += cli_format("  length      %" PRId64 " bytes\n", facts.length);
    *out += cli_format("  format      not this format: shorter than the %d-byte header\n",
              FILE_HEADER_SIZE);
    *out += cli_format("  written     not by encryption\n");
    return result_not_encrypted;
  }
  const uint8_t* head = read.bytes;
  const file_header h = header_load(head);
  *out += cli_format("  plain_size  %" PRId64 "\n", h.plain_size);
  *out += cli_format("  pad_count   %d\n", head[8]);
  *out += cli_format("  iv          ");
  for (int i = 0; i < 8; i++) *out += cli_format("%02x", h.iv[i]);
  *out += cli_format("\n  plain_crc   %08" PRIx32 "\n", h.plain_crc);
  *out += cli_format("  constants   %d %d\n", h.constant[0], h.constant[1]);
  if (facts.implied >= 0)
    *out += cli_format("  length      %" PRId64 " bytes, header implies %" PRId64 "\n",
              facts.length, facts.implied);
  else
    *out += cli_format("  length      %" PRId64 " bytes, header implies no possible length\n",
              facts.length);
  const char* result = result_ok;
  if (facts.problem_text.empty() && facts.odd_text.empty()) {
    *out += cli_format("  format      consistent\n");
  } else if (facts.problem_text.empty()) {
    *out += cli_format("  format      consistent; decryption ignores: %s\n", facts.odd_text.c_str());
  } else {
    // Decryption fails whatever the key: a file cut short may still be one
    // of this format.
    *out += cli_format("  format      %s: %s\n", facts.cut_short ? "cut short" : "not this format",
              facts.problem_text.c_str());
    result = result_not_encrypted;
  }
  *out += cli_format("  written     %s\n", written_line(facts).c_str());
  return result;
}

// The work of one item: its input refused or worked through the engine on
// the worker's context, and its outcome, message, sizes and time set for
// the report, which the run prints in the order of the items.

#include "cli_item.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "cli_current.h"
#include "cli_explain.h"
#include "cli_inputs.h"
#include "cli_inspect.h"
#include "cli_options.h"
#include "cli_orphans.h"
#include "cli_print.h"
#include "cli_stream.h"

// What the work of one item needs.
struct item_run {
  const cli_options* o;
  cli_batch* batch;
  int index;
  cli_item* item;
  engine_call* call;
  const char* key;
};

// A monotonic clock, for timings.
static double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

static const char already_encrypted[] =
    "already an encrypted file (give --allow-encrypted to encrypt it again)";

// Why the input of item is not worked: a failure, or, for encrypt, a skip
// for a file too short for the format.  Decrypt and verify fail on an
// empty file, which the module refuses: a build step must not pass with a
// file the application cannot open.  False when it is to be worked.
static bool run_refuse_input(const cli_options& o, cli_item* item, cli_outcome* outcome,
                             char* text, int capacity) {
  if (item->from_stdin) return false;
  int64_t size = rt_size_query(item->path);
  const bool plain_input = cli_traits(o.command).plain_input;
  if (plain_input && (size == 0 || size == 1)) {
    cli_format(text, capacity, "%s, %s", size == 0 ? "empty" : "1 byte", cli_explain_too_short);
    item->skip_kind = "too short";
    *outcome = OUTCOME_SKIPPED;
    return true;
  }
  if (!plain_input && size == 0) {
    cli_format(text, capacity, "%s", cli_explain_empty_encrypted);
    *outcome = OUTCOME_FAILED;
    return true;
  }
  const char* reason = cli_explain_input(item->path, text, capacity);
  if (reason == nullptr) return false;
  *outcome = OUTCOME_FAILED;
  return true;
}

// Where the engine writes item's output: the output itself, or for one
// bound for a stream, a temporary file of the tool's (encrypt) or the
// stream itself (decrypt, which needs no file between).  Returns
// OUTCOME_OK to go on, or why not: up to date, or failed with text.
static cli_outcome write_target(const item_run& r, char* written, int capacity, char* text,
                                int text_capacity) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  if (cli_stream_is_stream(item->output) && !cli_traits(o.command).plain_input) {
    snprintf(written, capacity, "%s", item->output);
  } else if (cli_stream_is_stream(item->output)) {
    if (!cli_stream_output_path(written, capacity)) {
      cli_format(text, text_capacity, "no temporary file could be made for the output");
      return OUTCOME_FAILED;
    }
  } else {
    if (o.update && rt_size_query(item->output) >= 0 && cli_current(o, *item, r.call, r.key))
      return OUTCOME_CURRENT;
    if (cli_inputs_refuse_output(o, *r.batch, r.index, text, text_capacity) ||
        !cli_inputs_make_folders(o, item->output, text, text_capacity))
      return OUTCOME_FAILED;
    snprintf(written, capacity, "%s", item->output);
  }
  return OUTCOME_OK;
}

// The engine's call that writes written; a failed write to a stream says
// why in stream_text.
static const char* write_call(const item_run& r, const char* written, char* stream_text,
                              int capacity) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  bool stream = cli_stream_is_stream(item->output);
  // Without --force or --update an existing output is kept, also against
  // another run that makes it meanwhile: the commit's rename refuses it.
  r.call->keep_existing = !stream && !o.force && !o.update && !o.in_place;
  const bool plain_input = cli_traits(o.command).plain_input;
  if (stream && !plain_input)
    return cli_stream_decrypt_out(r.call, item->path, written, r.key, stream_text, capacity);
  if (!plain_input) return decrypt_file_in(r.call, item->path, written, r.key);
  if (item->from_stdin) return cli_stream_encrypt_input(r.call, written, r.key);
  return encrypt_file_in(r.call, item->path, written, r.key);
}

// The failure of write_call's result in words.
static void write_failure(const item_run& r, const char* result, const char* written,
                          const char* stream_text, char* text, int capacity) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  if (result == result_write_error && stream_text[0] != '\0') {
    cli_format(text, capacity, "%s", stream_text);
  } else if (result == result_refused && item->from_stdin) {
    // Nothing to ship is no success: a pipe whose writer failed ends here.
    if (cli_traits(o.command).plain_input)
      cli_format(text, capacity, "fewer than 2 bytes, %s; nothing was written",
                 cli_explain_too_short);
    else
      cli_format(text, capacity, "%s", cli_explain_empty_encrypted);
  } else if (result == result_read_error && item->from_stdin) {
    cli_format(text, capacity, "cannot be read");
  } else {
    bool to_stream = cli_stream_is_stream(item->output);
    bool encrypting = cli_traits(o.command).plain_input;
    cli_failed_call c = {item->path, &cli_inputs_header(item), to_stream ? written : item->output,
                         to_stream, encrypting, !encrypting, result};
    cli_explain(c, r.call->failure, text, capacity);
  }
}

// The sizes of a written item, and an output bound for a stream sent there.
static cli_outcome write_done(const item_run& r, const char* written, char* text, int capacity) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  bool stream = cli_stream_is_stream(item->output);
  bool decrypt_out = stream && !cli_traits(o.command).plain_input;
  // Encrypted as it was read: its size is known only now.
  if (item->from_stdin && cli_traits(o.command).plain_input)
    item->size = rt_size_query(written) - FILE_HEADER_SIZE;
  if (decrypt_out) {
    item->output_size = cli_inspect_plain_size(cli_inputs_header(item));
  } else {
    item->output_size = rt_size_query(written);
  }
  if (stream && !decrypt_out && !cli_stream_copy_out(written, item->output, text, capacity))
    return OUTCOME_FAILED;
  return OUTCOME_OK;
}

// encrypt or decrypt of one item.
static cli_outcome run_write(const item_run& r, char* text, int capacity) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  cli_outcome outcome = OUTCOME_FAILED;
  if (run_refuse_input(o, item, &outcome, text, capacity)) return outcome;
  if (cli_traits(o.command).plain_input && !o.allow_encrypted && !item->from_stdin &&
      cli_inspect_is_encrypted(cli_inputs_header(item))) {
    cli_format(text, capacity, "%s", already_encrypted);
    item->skip_kind = "already encrypted";
    return OUTCOME_SKIPPED;
  }
  char written[RT_PATH_CAPACITY];
  outcome = write_target(r, written, sizeof written, text, capacity);
  if (outcome != OUTCOME_OK) return outcome;
  char stream_text[CLI_TEXT_CAPACITY] = "";
  double start = seconds_now();
  const char* result = write_call(r, written, stream_text, sizeof stream_text);
  item->seconds = seconds_now() - start;
  if (result == engine_cancelled) return OUTCOME_STOPPED;
  if (result != result_ok) {
    write_failure(r, result, written, stream_text, text, capacity);
    return OUTCOME_FAILED;
  }
  return write_done(r, written, text, capacity);
}

static cli_outcome run_verify(const item_run& r, char* text, int capacity) {
  cli_item* item = r.item;
  engine_call* call = r.call;
  cli_outcome outcome = OUTCOME_FAILED;
  if (run_refuse_input(*r.o, item, &outcome, text, capacity)) return outcome;
  double start = seconds_now();
  const char* result = verify_file_in(call, item->path, r.key);
  item->seconds = seconds_now() - start;
  if (result == engine_cancelled) return OUTCOME_STOPPED;
  if (result != result_ok) {
    cli_explain({item->path, &cli_inputs_header(item), nullptr, false, false, false, result},
                call->failure, text, capacity);
    return OUTCOME_FAILED;
  }
  // With the folder it was encrypted from: its input must be there, and
  // hold what it holds, as encrypt -u would find it.
  char input[RT_PATH_CAPACITY];
  if (r.o->input_dir == nullptr ||
      !cli_orphans_input_of(*r.o, item->path, item->relative_at, input, sizeof input))
    return OUTCOME_OK;
  int64_t input_size = rt_size_query(input);
  if (input_size < 2) {
    cli_format(text, capacity, "no input (%s %s)", input,
               input_size < 0 ? "is gone" : "is too short to encrypt");
    return OUTCOME_FAILED;
  }
  if (!engine_holds(call, item->path, input, r.key)) {
    cli_format(text, capacity, "stale: %s has changed since it was encrypted", input);
    return OUTCOME_FAILED;
  }
  return OUTCOME_OK;
}

// An output without input under --delete: removed, or failed with why not.
static cli_outcome run_remove_orphan(cli_item* item, char* text, int capacity) {
  if (rt_file_remove(item->path)) return OUTCOME_DELETED;
  char reason[256];
  cli_format(text, capacity, "%s; it cannot be removed: %s", item->message,
             cli_explain_reason(rt_last_error(), reason, sizeof reason));
  return OUTCOME_FAILED;
}

void cli_item_work(const cli_options& o, cli_batch* batch, int index, engine_call* call,
                   const char* key) {
  item_run r = {&o, batch, index, &batch->items[index], call, key};
  cli_item* item = r.item;
  char text[CLI_TEXT_CAPACITY] = "";
  cli_outcome outcome;
  __atomic_store_n(&item->started, 1, __ATOMIC_RELEASE);
  if (item->orphan && item->settled_outcome == OUTCOME_DELETED) {
    outcome = run_remove_orphan(item, text, sizeof text);
  } else if (item->settled) {
    outcome = item->settled_outcome;
    // A settled item without a reason is one whose message memory refused.
    if (item->message == nullptr)
      snprintf(text, sizeof text, "%s",
               item->settled_reason != nullptr ? item->settled_reason : "out of memory");
  } else if (!cli_traits(o.command).writes) {
    outcome = run_verify(r, text, sizeof text);
  } else {
    outcome = run_write(r, text, sizeof text);
  }
  item->outcome = outcome;
  if (text[0] != '\0') {
    item->message = cli_inputs_copy(text);
    if (item->message == nullptr) item->message = cli_inputs_copy("out of memory");
  }
  __atomic_store_n(&item->done, 1, __ATOMIC_RELEASE);  // what the worker wrote is visible now
}


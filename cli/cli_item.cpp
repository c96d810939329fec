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
#include "cli_paths.h"
#include "cli_print.h"
#include "cli_run.h"
#include "cli_stream.h"

// What the work of one item needs.
struct item_run {
  cli_run* run;
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

// Why the input of item is not worked, and how it ends: a failure.
// Encrypt fails on a file too short for the format, whose output would be
// missing; decrypt and verify on an empty file, which the module refuses:
// a build step must not pass with a file the application cannot open.
// Empty when it is to be worked.
static std::string run_refuse_input(const cli_options& o, cli_item* item) {
  if (item->from_stdin) return "";
  int64_t size = rt_size_query(item->path.c_str());
  // A device reads as an empty file: say what it is.
  if (size == 0 || size == 1) {
    const char* special = cli_explain_special(item->path.c_str());
    if (special != nullptr)
      return cli_format("not a regular file (%s), which cannot be read whole", special);
  }
  if (cli_traits(o.command).encrypts && (size == 0 || size == 1))
    return std::string(size == 0 ? "empty" : "1 byte") + ", " + cli_explain_too_short +
           "; leave it out with --exclude";
  if (!cli_traits(o.command).encrypts && size == 0) return cli_explain_empty_encrypted;
  return cli_explain_input(item->path.c_str());
}

// An input that already is an encrypted file (as encryption writes one).
// Beside itself, its output would be another copy of it, so it is skipped;
// anywhere else (--out-dir, --output) its output would be missing there, so
// it fails.  Empty when it is to be encrypted.
static std::string run_already_encrypted(const cli_options& o, cli_item* item,
                                         cli_outcome* outcome) {
  if (!cli_traits(o.command).encrypts || o.allow_encrypted || item->from_stdin ||
      !cli_inspect_written_by_encrypt(cli_inputs_header(item)))
    return "";
  if (o.out_dir == nullptr && o.output == nullptr) {
    item->skip_kind = "already encrypted";
    *outcome = OUTCOME_SKIPPED;
    return "already an encrypted file (give --allow-encrypted to encrypt it again)";
  }
  *outcome = OUTCOME_FAILED;
  return "already an encrypted file, so its output " + item->output +
         " would be missing; give --allow-encrypted to encrypt it again, or leave it out with "
         "--exclude";
}

// Where the engine writes item's output: the output itself, or for one
// bound for a stream, a temporary file of the tool's (encrypt) or the
// stream itself (decrypt, which needs no file between).  Returns
// OUTCOME_OK to go on, or why not: up to date, or failed with *why.
static cli_outcome write_target(const item_run& r, std::string* written, std::string* why) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  const bool stream = cli_stream_is_stream(item->output.c_str());
  if (stream && !cli_traits(o.command).encrypts) {
    *written = item->output;
  } else if (stream) {
    if (!cli_stream_output_path(r.run, written)) {
      *why = "no temporary file could be made for the output";
      return OUTCOME_FAILED;
    }
  } else {
    // Nothing is read or written through a link in the output's place.
    *why = cli_inputs_refuse_link(o, *item);
    if (!why->empty()) return OUTCOME_FAILED;
    if (o.update && rt_size_query(item->output.c_str()) >= 0 && cli_current(o, *item, r.call, r.key))
      return OUTCOME_CURRENT;
    *why = cli_inputs_refuse_output(o, *r.batch, r.index);
    if (why->empty() && !o.dry_run) *why = cli_inputs_make_folders(o, item->output);
    if (!why->empty()) return OUTCOME_FAILED;
    *written = item->output;
  }
  return OUTCOME_OK;
}

// The engine's call that writes written; a failed write to a stream says
// why in *stream_why.
static const char* write_call(const item_run& r, const std::string& written,
                              std::string* stream_why) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  bool stream = cli_stream_is_stream(item->output.c_str());
  // Without --force or --update an existing output is kept, also against
  // another run that makes it meanwhile: the commit's rename refuses it.
  r.call->keep_existing = !stream && !o.force && !o.update && !o.in_place;
  r.call->replace_link = true;
  const bool encrypts = cli_traits(o.command).encrypts;
  const char* path = item->path.c_str();
  if (stream && !encrypts)
    return cli_stream_decrypt_out(r.run, r.call, path, written.c_str(), r.key, stream_why);
  if (!encrypts) return decrypt_file_in(r.call, path, written.c_str(), r.key);
  if (item->from_stdin) return cli_stream_encrypt_input(r.run, r.call, written.c_str(), r.key);
  return encrypt_file_in(r.call, path, written.c_str(), r.key);
}

// The failure of write_call's result in words.
static std::string write_failure(const item_run& r, const char* result,
                                 const std::string& written, const std::string& stream_why) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  const bool encrypts = cli_traits(o.command).encrypts;
  if (result == result_write_error && !stream_why.empty()) return stream_why;
  if (result == result_refused && item->from_stdin) {
    // Nothing to ship is no success: a pipe whose writer failed ends here.
    if (encrypts)
      return std::string("fewer than 2 bytes, ") + cli_explain_too_short + "; nothing was written";
    return cli_explain_empty_encrypted;
  }
  if (result == result_read_error && item->from_stdin) return "cannot be read";
  bool to_stream = cli_stream_is_stream(item->output.c_str());
  cli_failed_call c = {item->path.c_str(), &cli_inputs_header(item),
                       to_stream ? written.c_str() : item->output.c_str(),
                       to_stream, encrypts, !encrypts, result};
  return cli_explain(c, r.call->failure);
}

// The sizes of a written item, and an output bound for a stream sent there.
static cli_outcome write_done(const item_run& r, const std::string& written, std::string* why) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  bool stream = cli_stream_is_stream(item->output.c_str());
  bool decrypt_out = stream && !cli_traits(o.command).encrypts;
  // Encrypted as it was read: its size is known only now.
  if (item->from_stdin && cli_traits(o.command).encrypts)
    item->size = rt_size_query(written.c_str()) - FILE_HEADER_SIZE;
  if (decrypt_out) item->output_size = cli_inspect_plain_size(cli_inputs_header(item));
  else item->output_size = rt_size_query(written.c_str());
  if (stream && !decrypt_out &&
      !cli_stream_copy_out(r.run, written.c_str(), item->output.c_str(), why))
    return OUTCOME_FAILED;
  return OUTCOME_OK;
}

// What a dry run says of an item that would be written: decryption's check
// is made in memory, so that a wrong key shows; encryption's output is
// known from the input's length.
static cli_outcome write_dry(const item_run& r, std::string* why) {
  cli_item* item = r.item;
  if (cli_traits(r.o->command).encrypts) {
    item->output_size = FILE_HEADER_SIZE + file_padded_length(item->size);
    return OUTCOME_OK;
  }
  const char* result = verify_file_in(r.call, item->path.c_str(), r.key);
  if (result == engine_cancelled) return OUTCOME_STOPPED;
  if (result != result_ok) {
    *why = cli_explain({item->path.c_str(), &cli_inputs_header(item), nullptr, false, false, false,
                        result},
                       r.call->failure);
    item->failed_check = result == result_crc_failure;
    return OUTCOME_FAILED;
  }
  item->output_size = cli_inspect_plain_size(cli_inputs_header(item));
  return OUTCOME_OK;
}

// encrypt or decrypt of one item.
static cli_outcome run_write(const item_run& r, std::string* why) {
  const cli_options& o = *r.o;
  cli_item* item = r.item;
  cli_outcome outcome = OUTCOME_FAILED;
  *why = run_refuse_input(o, item);
  if (!why->empty()) return OUTCOME_FAILED;
  *why = run_already_encrypted(o, item, &outcome);
  if (!why->empty()) return outcome;
  std::string written;
  outcome = write_target(r, &written, why);
  if (outcome != OUTCOME_OK) return outcome;
  if (o.dry_run) return write_dry(r, why);
  std::string stream_why;
  double start = seconds_now();
  const char* result = write_call(r, written, &stream_why);
  item->seconds = seconds_now() - start;
  if (result == engine_cancelled) return OUTCOME_STOPPED;
  if (result != result_ok) {
    *why = write_failure(r, result, written, stream_why);
    item->failed_check = result == result_crc_failure;
    return OUTCOME_FAILED;
  }
  return write_done(r, written, why);
}

static cli_outcome run_verify(const item_run& r, std::string* why) {
  cli_item* item = r.item;
  engine_call* call = r.call;
  *why = run_refuse_input(*r.o, item);
  if (!why->empty()) return OUTCOME_FAILED;
  double start = seconds_now();
  const char* result = verify_file_in(call, item->path.c_str(), r.key);
  item->seconds = seconds_now() - start;
  if (result == engine_cancelled) return OUTCOME_STOPPED;
  if (result != result_ok) {
    *why = cli_explain({item->path.c_str(), &cli_inputs_header(item), nullptr, false, false, false,
                        result},
                       call->failure);
    item->failed_check = result == result_crc_failure;
    return OUTCOME_FAILED;
  }
  // With the folder it was encrypted from: its input must be there, and
  // hold what it holds, as encrypt -u would find it.
  std::string input;
  if (r.o->input_dir == nullptr || !cli_orphans_input_of(*r.o, *item, &input)) return OUTCOME_OK;
  int64_t input_size = rt_size_query(input.c_str());
  if (input_size < FILE_LEAST_PLAIN) {
    *why = "no input (" + input + (input_size < 0 ? " is gone)" : " is too short to encrypt)");
    return OUTCOME_FAILED;
  }
  if (!engine_holds(call, item->path.c_str(), input.c_str(), r.key, HOLDS_WRITTEN)) {
    *why = "stale: " + input + " has changed since it was encrypted";
    return OUTCOME_FAILED;
  }
  return OUTCOME_OK;
}

// An output without input under --delete: removed, or failed with why not.
static cli_outcome run_remove_orphan(cli_item* item, std::string* why) {
  if (rt_file_remove(item->path.c_str())) return OUTCOME_DELETED;
  *why = item->reason + "; it cannot be removed: " + cli_explain_reason(rt_last_error());
  return OUTCOME_FAILED;
}

void cli_item_work(cli_run* run, int index, engine_call* call) {
  const cli_options& o = *run->o;
  item_run r = {run, &o, &run->batch, index, &run->batch.items[index], call, run->key};
  cli_item* item = r.item;
  std::string why;
  cli_outcome outcome;
  __atomic_store_n(&item->started, 1, __ATOMIC_RELEASE);
  if (item->orphan && item->decided_outcome == OUTCOME_DELETED && !o.dry_run) {
    outcome = run_remove_orphan(item, &why);
  } else if (item->decided) {
    outcome = item->decided_outcome;
  } else if (!cli_traits(o.command).writes) {
    outcome = run_verify(r, &why);
  } else {
    outcome = run_write(r, &why);
  }
  item->outcome = outcome;
  if (!why.empty()) item->reason = why;
  __atomic_store_n(&item->done, 1, __ATOMIC_RELEASE);  // what the worker wrote is visible now
}

// The work of one item, on the worker that takes it: its input worked
// through the engine on the worker's context, or an output without input
// removed, and its outcome, sizes and time set.  Everything the item is
// was decided when it was planned (cli_plan.cpp); a failed engine call is
// recorded here and worded when the item is reported (cli_report.cpp).

#include "cli_item.h"

#include <string>

#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "cli_current.h"
#include "cli_explain.h"
#include "cli_inputs.h"
#include "cli_plan.h"
#include "cli_run.h"
#include "cli_stream.h"

// Records a failed engine call for the report to word; its outcome.
static cli_outcome item_failed(cli_item* item, const char* result, const engine_call* call) {
  if (result == engine_cancelled) return OUTCOME_STOPPED;
  item->result = result;
  item->failure = call->failure;
  item->failed_check = result == result_crc_failure;
  return OUTCOME_FAILED;
}

// Where the engine writes: the output, or for an encryption bound for a
// stream a temporary file of the run's; a decryption bound for a stream
// needs no file between.  OUTCOME_OK to go on, or why not: up to date,
// or failed (its reason set).
static cli_outcome item_target(cli_run* run, cli_item* item, engine_call* call) {
  const cli_options& o = *run->o;
  if (item->to_stream()) {
    if (!item->encrypts) return OUTCOME_OK;
    if (cli_stream_output_path(run, &item->written)) return OUTCOME_OK;
    item->reason = "no temporary file could be made for the output";
    return OUTCOME_FAILED;
  }
  int64_t output_size = -1;
  item->reason = cli_plan_refuse_output(o, run->batch, item, &output_size);
  if (!item->reason.empty()) return OUTCOME_FAILED;
  if (o.update && output_size >= 0 && cli_current(*item, call, run->key)) return OUTCOME_CURRENT;
  if (!o.dry_run) item->reason = cli_plan_make_folders(o, item->output);
  return item->reason.empty() ? OUTCOME_OK : OUTCOME_FAILED;
}

// The engine's call that writes the item's output.
static const char* item_call(cli_run* run, cli_item* item, engine_call* call) {
  const cli_options& o = *run->o;
  // Without --force or --update an existing output is kept, also against
  // another run that makes it meanwhile: the commit's rename refuses it.
  call->keep_existing = !item->to_stream() && !o.force && !o.update && !o.in_place;
  call->replace_link = true;
  const char* path = item->path.c_str();
  const char* key = run->key;
  if (item->to_stream() && !item->encrypts)
    return cli_stream_decrypt_out(run, call, path, item->output.c_str(), key, &item->reason);
  if (!item->encrypts) return decrypt_file_in(call, path, item->output.c_str(), key);
  const char* output = item->to_stream() ? item->written.c_str() : item->output.c_str();
  if (item->from_stdin) return cli_stream_encrypt_input(run, call, output, key);
  return encrypt_file_in(call, path, output, key);
}

// The sizes of a written item, and an encrypted output bound for a stream
// sent there.
static cli_outcome item_done(cli_run* run, cli_item* item, const engine_call* call) {
  const char* output = item->to_stream() ? item->written.c_str() : item->output.c_str();
  // Encrypted as it was read: its size is known only now.
  if (item->from_stdin && item->encrypts) item->size = rt_size_query(output) - FILE_HEADER_SIZE;
  if (item->to_stream() && !item->encrypts) {
    item->output_size = call->plain_size;
    return OUTCOME_OK;
  }
  // What encryption wrote for the bytes it read; decryption's plain size.
  item->output_size = item->encrypts ? FILE_HEADER_SIZE + file_padded_length(item->size)
                                     : call->plain_size;
  if (item->to_stream() && !cli_stream_copy_out(run, output, item->output.c_str(), &item->reason))
    return OUTCOME_FAILED;
  return OUTCOME_OK;
}

// What a dry run says of an item that would be written: decryption's check
// is made in memory, so that a wrong key shows; encryption's output is
// known from the input's length.
static cli_outcome item_dry(cli_run* run, cli_item* item, engine_call* call) {
  if (item->encrypts) {
    item->output_size = FILE_HEADER_SIZE + file_padded_length(item->size);
    return OUTCOME_OK;
  }
  const char* result = verify_file_in(call, item->path.c_str(), run->key);
  if (result != result_ok) return item_failed(item, result, call);
  item->output_size = call->plain_size;
  return OUTCOME_OK;
}

// encrypt or decrypt of one item.
static cli_outcome item_write(cli_run* run, cli_item* item, engine_call* call) {
  cli_outcome outcome = item_target(run, item, call);
  if (outcome != OUTCOME_OK) return outcome;
  if (run->o->dry_run) return item_dry(run, item, call);
  double start = cli_run_clock();
  const char* result = item_call(run, item, call);
  item->seconds = cli_run_clock() - start;
  if (result != result_ok) return item_failed(item, result, call);
  return item_done(run, item, call);
}

// verify of one item: the key and the data, and with --input-dir the input
// the file was made from, which it must decrypt to exactly, as encrypt -u
// would find it.
static cli_outcome item_verify(cli_run* run, cli_item* item, engine_call* call) {
  double start = cli_run_clock();
  const char* result = verify_file_in(call, item->path.c_str(), run->key);
  item->seconds = cli_run_clock() - start;
  if (result != result_ok) return item_failed(item, result, call);
  const std::string& input = item->input;
  if (input.empty()) return OUTCOME_OK;
  int64_t input_size = rt_size_query(input.c_str());
  if (input_size < FILE_LEAST_PLAIN)
    item->reason = "no input (" + input + (input_size < 0 ? " is gone)" : " is too short to encrypt)");
  else if (!engine_deciphers_to(call, item->path.c_str(), input.c_str(), run->key, AS_WRITTEN))
    item->reason = "stale: " + input + " has changed since it was encrypted";
  return item->reason.empty() ? OUTCOME_OK : OUTCOME_FAILED;
}

// An output without input under --delete: removed, or failed with why not.
static cli_outcome item_remove(cli_item* item) {
  if (rt_file_remove(item->path.c_str())) return OUTCOME_DELETED;
  item->reason += "; it cannot be removed: " + cli_explain_reason(rt_last_error());
  return OUTCOME_FAILED;
}

void cli_item_work(cli_run* run, int index, engine_call* call) {
  cli_item* item = &run->batch.items[index];
  __atomic_store_n(&item->started, 1, __ATOMIC_RELEASE);
  if (item->decided) {
    bool removing = item->orphan && item->decided_outcome == OUTCOME_DELETED && !run->o->dry_run;
    item->outcome = removing ? item_remove(item) : item->decided_outcome;
  } else if (!cli_traits(run->o->command).writes) {
    item->outcome = item_verify(run, item, call);
  } else {
    item->outcome = item_write(run, item, call);
  }
  __atomic_store_n(&item->done, 1, __ATOMIC_RELEASE);  // what the worker wrote is visible now
}

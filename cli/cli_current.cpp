// The up-to-date test of --update.  An output at least as new as its
// input may still hold other content (an older copy put back with its
// time, a change followed by touch) or the content under another key; so
// the content decides: the header's length and CRC-32 against the plain
// file as it is now, and the first block under the run's key.

#include "cli_current.h"

#include "../engine/engine_call.h"
#include "cli_inputs.h"
#include "cli_options.h"

bool cli_current(const cli_options& o, const cli_item& item, engine_call* call, const char* key) {
  if (cli_traits(o.command).plain_input) return engine_holds(call, item.output, item.path, key);
  return engine_holds(call, item.path, item.output, key);
}

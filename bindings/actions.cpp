// Registration of the Qelv table and the two script entry points.

#include "../engine/engine.h"
#include "bindings.h"
#include "lua_version.h"

// Stack: [] -> [] ; the global Qelv is replaced by a fresh table.
void register_actions(lua_State* L) {
  lua_pushstring(L, "Qelv");
  lua_newtable(L);
  lua_pushstring(L, "Encrypt");
  lua_pushcclosure(L, script_encrypt, 0);
  lua_settable(L, -3);
  lua_pushstring(L, "Decrypt");
  lua_pushcclosure(L, script_decrypt, 0);
  lua_settable(L, -3);
  lua_settable(L, bindings_globals_index);
}

typedef const char* engine_operation(const char* file, const char* output, const char* key);

// Clears the host's error code, checks three arguments in order, runs the
// engine and returns its result text.  An argument error does not return.
static int run_script_call(lua_State* L, engine_operation* operation) {
  clear_last_error(L);
  check_argument_count(L, 3);
  const char* file = check_string_argument(L, 1);
  const char* output = check_string_argument(L, 2);
  const char* key = check_string_argument(L, 3);
  lua_pushstring(L, operation(file, output, key));
  return 1;
}

int script_encrypt(lua_State* L) noexcept { return run_script_call(L, encrypt_file); }
int script_decrypt(lua_State* L) noexcept { return run_script_call(L, decrypt_file); }

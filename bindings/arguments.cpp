// Argument checks and error reporting through the host's script objects:
// Application.SetLastError clears the host's last-error code, and
// Debug.GetSyntaxErrorString words the texts of argument errors.

#include <cstdio>
#include <cstring>

#include "bindings.h"
#include "lua_version.h"

char last_error_text[LAST_ERROR_CAPACITY];

static const char too_long_text[] = "Formatted error string is too long for buffer.";

void bindings_start() { last_error_text[0] = '\0'; }

// Pushes object.field, read from the globals with ordinary (metamethod-aware)
// reads, and returns true when it is a function.  Otherwise pops it again.
// A global that cannot be indexed raises the interpreter's own error.
// Stack: [] -> [function] or [].
static bool push_host_function(lua_State* L, const char* object, const char* field) {
  lua_pushstring(L, object);
  lua_gettable(L, bindings_globals_index);
  lua_pushstring(L, field);
  lua_gettable(L, -2);
  lua_remove(L, -2);
  if (lua_type(L, -1) == LUA_TFUNCTION) return true;
  lua_remove(L, -1);
  return false;
}

void clear_last_error(lua_State* L) {
  if (!push_host_function(L, "Application", "SetLastError")) return;
  lua_pushnumber(L, 0);
  if (lua_pcall(L, 1, 0, 0) != 0) lua_remove(L, -1);  // the host's error is not ours
}

void format_error_text(lua_State* L, const char* raw_message) {
  if (!push_host_function(L, "Debug", "GetSyntaxErrorString")) return;
  lua_pushstring(L, raw_message);
  if (lua_pcall(L, 1, 1, 0) != 0) {
    lua_remove(L, -1);
    return;
  }
  const char* text = lua_tostring(L, -1);  // null for a result that is no string or number
  if (text == nullptr) text = "";
  if (strlen(text) < LAST_ERROR_CAPACITY)
    strcpy(last_error_text, text);
  else
    strcpy(last_error_text, too_long_text);
  lua_remove(L, -1);
}

void raise_argument_error(lua_State* L, const char* raw_message) {
  format_error_text(L, raw_message);
  lua_pushstring(L, last_error_text);
  lua_error(L);
  __builtin_unreachable();  // lua_error leaves by a long jump
}

void check_argument_count(lua_State* L, int required) {
  if (lua_gettop(L) >= required) return;
  char message[64];
  snprintf(message, sizeof message, "%d arguments required.", required);
  raise_argument_error(L, message);
}

// The text stays on the Lua stack, converted there in place from a number if
// need be, for the rest of the call; returning it rather than a copy leaves
// nothing to release when a later check raises.  It ends at its first zero
// byte for every reader that takes it as a C string.
const char* check_string_argument(lua_State* L, int position) {
  const char* text = lua_tostring(L, position);
  if (text != nullptr) return text;
  char message[64];
  snprintf(message, sizeof message, "Argument %d must be a string.", position);
  raise_argument_error(L, message);
}

// The script side of the plug-in: the global table Qelv with Encrypt and
// Decrypt, and the argument checks and error reporting behind them.
//
// All of it runs on the host's Lua state during a host call.  Argument errors
// leave through lua_error, a long jump: no function here keeps an object with
// a destructor alive across a call that may raise.
#pragma once

struct lua_State;

enum { LAST_ERROR_CAPACITY = 1024 };

// The text that every argument error raises; empty at module start.
extern char last_error_text[LAST_ERROR_CAPACITY];

void bindings_start();

// Builds a fresh global table Qelv holding Encrypt and Decrypt.
void register_actions(lua_State* L);

// noexcept: an exception can never unwind into the interpreter; it would end
// the process here instead.
int script_encrypt(lua_State* L) noexcept;
int script_decrypt(lua_State* L) noexcept;

void clear_last_error(lua_State* L);
void check_argument_count(lua_State* L, int required);
const char* check_string_argument(lua_State* L, int position);
void format_error_text(lua_State* L, const char* raw_message);
[[noreturn]] void raise_argument_error(lua_State* L, const char* raw_message);

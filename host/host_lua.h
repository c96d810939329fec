// The Lua calls of the host stand-in and the tests that Lua 5.0 (the host's,
// linked into the release build) and Lua 5.1 (the stand-in of the other
// trees) spell differently.  Everything else they call, both have.
#pragma once

#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

// A new state with the standard libraries open, or null when no memory.
inline lua_State* host_lua_open() {
#if defined(LUA_VERSION_NUM)  // 5.1 and later
  lua_State* L = luaL_newstate();
  if (L != nullptr) luaL_openlibs(L);
#else  // 5.0: each library on its own, each leaving its table on the stack
  lua_State* L = lua_open();
  if (L == nullptr) return nullptr;
  lua_CFunction libraries[] = {luaopen_base, luaopen_table, luaopen_io,     luaopen_string,
                               luaopen_math, luaopen_debug, luaopen_loadlib};
  for (lua_CFunction open : libraries) {
    open(L);
    lua_settop(L, 0);
  }
#endif
  return L;
}

// Runs a chunk of source text; 0, or the error code with the message on top.
inline int host_lua_run(lua_State* L, const char* chunk) {
  int status = luaL_loadbuffer(L, chunk, strlen(chunk), chunk);
  return status != 0 ? status : lua_pcall(L, 0, LUA_MULTRET, 0);
}

// t[key] = v, where v is on top and t just below it; pops v.
inline void host_lua_set_field(lua_State* L, const char* key) {
  lua_pushstring(L, key);
  lua_insert(L, -2);
  lua_settable(L, -3);
}

// A table of C functions, up to the entry whose name is null.
struct host_lua_function {
  const char* name;
  lua_CFunction function;
};

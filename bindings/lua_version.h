// The one place that knows which Lua the plug-in is built with.  Everything
// else uses only calls that Lua 5.0 and 5.1 share: the build compiles
// bindings/ and plugin/ once more against tests/lua50_api/lua.h, which
// declares only those, and this file's 5.0 branch with them.
#pragma once

extern "C" {
#include <lua.h>
}

#if defined(LUA_RELEASE)
// Lua 5.1 states its release in a macro and has no lua_version().
inline const char* bindings_lua_version() { return LUA_RELEASE; }
#else
// Lua 5.0 reports the version of the library actually linked.
inline const char* bindings_lua_version() { return lua_version(); }
#endif

// The globals table's pseudo-index, as the library's header defines it.
constexpr int bindings_globals_index = LUA_GLOBALSINDEX;

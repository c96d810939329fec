/*
 * The part of the Lua 5.0 C API that the plug-in may use, and nothing else.
 *
 * The module calls the host's own Lua 5.0 library on the host's state, so a
 * call that 5.0 lacks, or spells differently, would build against the 5.1
 * stand-in used for testing and then fail to load in the host.  The build
 * compiles every source of bindings/ and plugin/ against this header alone
 * (tests/CMakeLists.txt, target lua50_api_check): whatever else they use
 * fails to compile.
 *
 * Written here from the Lua 5.0 reference manual's descriptions of these
 * calls; like 5.0's own header it has no extern "C" of its own and does not
 * define LUA_RELEASE, which only 5.1 has.
 */
#ifndef QELV_LUA50_API_H
#define QELV_LUA50_API_H

typedef struct lua_State lua_State;
typedef int (*lua_CFunction)(lua_State *L);
typedef double lua_Number;

#define LUA_GLOBALSINDEX (-10001)
#define LUA_TFUNCTION 6

const char *lua_version(void);

int lua_gettop(lua_State *L);
void lua_remove(lua_State *L, int idx);
int lua_type(lua_State *L, int idx);
const char *lua_tostring(lua_State *L, int idx);

void lua_pushnumber(lua_State *L, lua_Number n);
void lua_pushstring(lua_State *L, const char *s);
void lua_pushcclosure(lua_State *L, lua_CFunction fn, int n);

void lua_newtable(lua_State *L);
void lua_gettable(lua_State *L, int idx);
void lua_settable(lua_State *L, int idx);

int lua_pcall(lua_State *L, int nargs, int nresults, int errfunc);
int lua_error(lua_State *L);

#endif

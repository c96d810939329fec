// qelv_host: the least host the plug-in module needs, for running project
// scripts against the module outside the authoring application.
//
//   qelv_host [--module PATH] SCRIPT [ARG...]
//
// It creates a Lua state with the standard libraries and the host's script
// objects Application and Debug, loads the module, calls its registration
// export and runs SCRIPT with the remaining arguments in the global arg.
// Exit status: 0 when the script ends normally, 1 on a script error, 2 when
// the module cannot be loaded or lacks its registration export, or on a
// usage error.
//
// For tests, scripts also see a table Host with the module's other exports
// (see host_exports.cpp).

#include <cstdio>
#include <cstring>
#include <string>

#include "host.h"
#include "host_lua.h"

static double last_error_code;

static int application_set_last_error(lua_State* L) {
  last_error_code = luaL_checknumber(L, 1);
  return 0;
}

static int application_get_last_error(lua_State* L) {
  lua_pushnumber(L, last_error_code);
  return 1;
}

// The host's own wording of a raw error message.
static int debug_get_syntax_error_string(lua_State* L) {
  const char* message = luaL_optstring(L, 1, "");
  lua_pushfstring(L, "Script error: %s", message);
  return 1;
}

static void set_arguments(lua_State* L, const char* script, int argc, char** argv) {
  lua_newtable(L);
  lua_pushstring(L, script);
  lua_rawseti(L, -2, 0);
  for (int i = 0; i < argc; i++) {
    lua_pushstring(L, argv[i]);
    lua_rawseti(L, -2, i + 1);
  }
  lua_setglobal(L, "arg");
}

static int usage() {
  fputs("usage: qelv_host [--module PATH] SCRIPT [ARG...]\n", stderr);
  return 2;
}

int main(int argc, char** argv) {
  int next = 1;
  std::string module_path = host_default_module_path();
  if (next + 1 < argc && strcmp(argv[next], "--module") == 0) {
    module_path = argv[next + 1];
    next += 2;
  }
  if (next >= argc) return usage();
  const char* script = argv[next++];

  host_module module;
  if (!host_load_module(module_path.c_str(), &module)) return 2;

  lua_State* L = host_lua_open();
  if (L == nullptr) {
    fputs("qelv_host: no memory for a Lua state\n", stderr);
    host_unload_module(&module);
    return 2;
  }
  static const host_lua_function application[] = {{"SetLastError", application_set_last_error},
                                         {"GetLastError", application_get_last_error},
                                         {nullptr, nullptr}};
  static const host_lua_function debug[] = {{"GetSyntaxErrorString", debug_get_syntax_error_string},
                                   {nullptr, nullptr}};
  host_set_global_table(L, "Application", application);
  host_set_global_table(L, "Debug", debug);
  set_arguments(L, script, argc - next, argv + next);
  host_register_exports(L, &module);

  module.register_actions(L);
  int status = 0;
  if (luaL_loadfile(L, script) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
    const char* text = lua_tostring(L, -1);
    fprintf(stderr, "%s\n", text != nullptr ? text : "(error object is not a string)");
    status = 1;
  }
  lua_close(L);
  host_unload_module(&module);
  return status;
}

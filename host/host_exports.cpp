// The global Host, through which test scripts reach the module's exports:
//
//   Host.Register()                      -> result of the registration export
//   Host.Info(name, size)                -> result, size afterwards, buffer
//       name is "PluginName", "PluginVersion", "AuthorInfo", "LuaVersion" or
//       "PluginActionXML"; the buffer holds max(size, 0) bytes followed by
//       8 guard bytes, all 0xAA before the call, and comes back whole.
//   Host.ShowHelpForAction(action, folder) -> result
//   Host.ShowHelpForPlugin(folder)         -> result
//   Host.ShellCalls()                    -> list of {window, verb, file,
//       parameters, directory, show} the module handed the shell, where the
//       loader records them (Windows); nil elsewhere.
//   Host.Resources()                     -> memory in use (bytes), open
//       handles or descriptors; -1 for what the system does not say.

#include <cstdio>
#include <cstring>
#include <vector>

#include "host.h"
#include "host_lua.h"
#include "shell_record.h"

static host_module* loaded;

static int host_register(lua_State* L) {
  lua_pushnumber(L, loaded->register_actions(L));
  return 1;
}

static info_export* info_by_name(const char* name) {
  if (strcmp(name, "PluginName") == 0) return loaded->get_plugin_name;
  if (strcmp(name, "PluginVersion") == 0) return loaded->get_plugin_version;
  if (strcmp(name, "AuthorInfo") == 0) return loaded->get_author_info;
  if (strcmp(name, "LuaVersion") == 0) return loaded->get_lua_version;
  if (strcmp(name, "PluginActionXML") == 0) return loaded->get_plugin_action_xml;
  return nullptr;
}

enum { GUARD_BYTES = 8 };

static int host_info(lua_State* L) {
  info_export* fn = info_by_name(luaL_checkstring(L, 1));
  if (fn == nullptr) return luaL_error(L, "no such export: %s", lua_tostring(L, 1));
  int32_t size = static_cast<int32_t>(luaL_checknumber(L, 2));
  std::vector<char> buffer((size > 0 ? size : 0) + GUARD_BYTES, '\xAA');
  int result = fn(buffer.data(), &size);
  lua_pushnumber(L, result);
  lua_pushnumber(L, size);
  lua_pushlstring(L, buffer.data(), buffer.size());
  return 3;
}

static int host_help_for_action(lua_State* L) {
  if (loaded->show_help_for_action == nullptr) return luaL_error(L, "export missing");
  lua_pushnumber(L, loaded->show_help_for_action(luaL_checkstring(L, 1), luaL_checkstring(L, 2),
                                                 nullptr));
  return 1;
}

static int host_help_for_plugin(lua_State* L) {
  if (loaded->show_help_for_plugin == nullptr) return luaL_error(L, "export missing");
  lua_pushnumber(L, loaded->show_help_for_plugin(luaL_checkstring(L, 1), nullptr));
  return 1;
}

static void set_string_field(lua_State* L, const char* key, const std::string& value) {
  lua_pushlstring(L, value.data(), value.size());
  host_lua_set_field(L, key);
}

static int host_shell_calls(lua_State* L) {
  if (!shell_record_active()) return 0;
  const std::vector<shell_call>& calls = shell_record_calls();
  lua_newtable(L);
  for (size_t i = 0; i < calls.size(); i++) {
    lua_newtable(L);
    lua_pushnumber(L, static_cast<double>(calls[i].window));
    host_lua_set_field(L, "window");
    set_string_field(L, "verb", calls[i].verb);
    set_string_field(L, "file", calls[i].file);
    if (calls[i].has_parameters) set_string_field(L, "parameters", calls[i].parameters);
    if (calls[i].has_directory) set_string_field(L, "directory", calls[i].directory);
    lua_pushnumber(L, calls[i].show);
    host_lua_set_field(L, "show");
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  return 1;
}

static int host_resources(lua_State* L) {
  lua_pushnumber(L, static_cast<double>(host_memory_in_use()));
  lua_pushnumber(L, host_handle_count());
  return 2;
}

template <typename F>
static F* find(void* library, const char* name) {
  return reinterpret_cast<F*>(host_library_find(library, name));
}

bool host_load_module(const char* path, host_module* m) {
  m->library = host_library_open(path);
  if (m->library == nullptr) return false;
  m->register_actions = find<register_export>(m->library, "irPlg_Action_RegisterActions");
  if (m->register_actions == nullptr) {
    fprintf(stderr, "qelv_host: %s has no export irPlg_Action_RegisterActions\n", path);
    host_library_close(m->library);
    return false;
  }
  m->get_plugin_name = find<info_export>(m->library, "irPlg_GetPluginName");
  m->get_plugin_version = find<info_export>(m->library, "irPlg_GetPluginVersion");
  m->get_author_info = find<info_export>(m->library, "irPlg_GetAuthorInfo");
  m->get_lua_version = find<info_export>(m->library, "irPlg_GetLuaVersion");
  m->get_plugin_action_xml = find<info_export>(m->library, "irPlg_GetPluginActionXML");
  m->show_help_for_action = find<help_for_action_export>(m->library, "irPlg_ShowHelpForAction");
  m->show_help_for_plugin = find<help_for_plugin_export>(m->library, "irPlg_ShowHelpForPlugin");
  host_library_loaded(m->library);
  return true;
}

void host_unload_module(host_module* m) { host_library_close(m->library); }

void host_set_global_table(lua_State* L, const char* name, const host_lua_function* functions) {
  lua_newtable(L);
  for (; functions->name != nullptr; functions++) {
    lua_pushcfunction(L, functions->function);
    host_lua_set_field(L, functions->name);
  }
  lua_setglobal(L, name);
}

void host_register_exports(lua_State* L, host_module* module) {
  loaded = module;
  static const host_lua_function functions[] = {{"Register", host_register},
                                       {"Info", host_info},
                                       {"ShowHelpForAction", host_help_for_action},
                                       {"ShowHelpForPlugin", host_help_for_plugin},
                                       {"ShellCalls", host_shell_calls},
                                       {"Resources", host_resources},
                                       {nullptr, nullptr}};
  host_set_global_table(L, "Host", functions);
}

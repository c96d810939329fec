// The host stand-in's view of a loaded module.
#pragma once

#include <cstdint>
#include <string>

struct lua_State;

typedef int register_export(lua_State* L);
typedef int info_export(char* buffer, int32_t* size);
typedef int help_for_action_export(const char* action, const char* folder, void* window);
typedef int help_for_plugin_export(const char* folder, void* window);

struct host_module {
  void* library;
  register_export* register_actions;
  info_export* get_plugin_name;
  info_export* get_plugin_version;
  info_export* get_author_info;
  info_export* get_lua_version;
  info_export* get_plugin_action_xml;
  help_for_action_export* show_help_for_action;
  help_for_plugin_export* show_help_for_plugin;
};

// The module beside this program: Qelv.lmd on Windows, Qelv.so elsewhere.
std::string host_default_module_path();

// Loads the module and finds its exports; on failure prints why and returns
// false.  Only the registration export is required.
bool host_load_module(const char* path, host_module* module);
void host_unload_module(host_module* module);

// The platform's side of loading, in loader_posix.cpp and loader_win32.cpp:
// open (null, with the reason printed, on failure), look up an export,
// close; and what is done once the module is loaded (on Windows its shell
// import is pointed at the recorder).
void* host_library_open(const char* path);
void* host_library_find(void* library, const char* name);
void host_library_close(void* library);
void host_library_loaded(void* library);

// Sets the global name to a new table of the functions, up to the one
// whose name is null.
struct host_lua_function;
void host_set_global_table(lua_State* L, const char* name, const host_lua_function* functions);

// Sets the global Host: the module's other exports, for test scripts.
void host_register_exports(lua_State* L, host_module* module);

// What the process holds now, for soak tests: memory in use (resident set on
// POSIX, working set on Windows) in bytes, and open file descriptors or
// handles.  -1 when the system does not say.
int64_t host_memory_in_use();
int host_handle_count();

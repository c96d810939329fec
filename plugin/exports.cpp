// The functions the host finds by name: registration of the script actions,
// the five information texts and the two help commands.

#include <cstring>

#include "../bindings/bindings.h"
#include "../bindings/lua_version.h"
#include "../runtime/runtime.h"
#include "../runtime/shell.h"
#include "info.h"

#ifdef _WIN32
#define QELV_EXPORT extern "C"
#else
#define QELV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

QELV_EXPORT int irPlg_Action_RegisterActions(lua_State* L) {
  register_actions(L);
  return 1;
}

QELV_EXPORT int irPlg_GetPluginName(char* buffer, int32_t* size) {
  return copy_info_text(plugin_name, buffer, size);
}

QELV_EXPORT int irPlg_GetPluginVersion(char* buffer, int32_t* size) {
  return copy_info_text(plugin_version, buffer, size);
}

QELV_EXPORT int irPlg_GetAuthorInfo(char* buffer, int32_t* size) {
  return copy_info_text(author_text, buffer, size);
}

QELV_EXPORT int irPlg_GetLuaVersion(char* buffer, int32_t* size) {
  return copy_info_text(bindings_lua_version(), buffer, size);
}

QELV_EXPORT int irPlg_GetPluginActionXML(char* buffer, int32_t* size) {
  return copy_info_text(descriptor_text, buffer, size);
}

// Hands the help page, with "#anchor" after it when anchor is given, to the
// shell.  0 when nothing, neither file nor folder, is at the page's path.
static int show_help(const char* folder, const char* anchor, void* parent_window) {
  if (folder == nullptr) return 0;
  static const char page[] = "Qelv.html";
  size_t folder_length = strlen(folder);
  size_t anchor_length = anchor != nullptr ? 1 + strlen(anchor) : 0;
  char* target = static_cast<char*>(
      rt_block_alloc(static_cast<int64_t>(folder_length + sizeof page + 1 + anchor_length)));
  if (target == nullptr) return 0;
  memcpy(target, folder, folder_length);
  target[folder_length] = rt_path_separator;
  memcpy(target + folder_length + 1, page, sizeof page);
  int shown = 0;
  if (rt_size_query(target) != -1) {
    if (anchor != nullptr) {
      strcat(target, "#");
      strcat(target, anchor);
    }
    rt_shell_open(parent_window, target);  // the shell's own failure is not reported
    shown = 1;
  }
  rt_block_free(target);
  return shown;
}

QELV_EXPORT int irPlg_ShowHelpForAction(const char* action, const char* folder, void* parent_window) {
  return show_help(folder, action != nullptr ? action : "", parent_window);
}

QELV_EXPORT int irPlg_ShowHelpForPlugin(const char* folder, void* parent_window) {
  return show_help(folder, nullptr, parent_window);
}

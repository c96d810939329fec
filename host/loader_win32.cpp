// Loading the module on Windows.  After loading, the module's import of
// ShellExecuteA is pointed at a recorder, so that tests see exactly what the
// module hands the shell and no window opens.

#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>
#include <psapi.h>

#include "host.h"
#include "shell_record.h"

std::string host_default_module_path() {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self, n);
  return path.substr(0, path.find_last_of("\\/") + 1) + "Qelv.lmd";
}

static std::vector<shell_call> recorded;
static bool recording;

static std::string text_or_empty(const char* s) { return s != nullptr ? s : ""; }

static HINSTANCE WINAPI record_shell_execute(HWND window, LPCSTR verb, LPCSTR file,
                                             LPCSTR parameters, LPCSTR directory, INT show) {
  recorded.push_back({reinterpret_cast<uintptr_t>(window), text_or_empty(verb),
                      text_or_empty(file), text_or_empty(parameters), text_or_empty(directory),
                      parameters != nullptr, directory != nullptr, show});
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));  // above 32: success
}

// Walks the module's import table to the SHELL32 entry for ShellExecuteA and
// replaces the address the loader put there.
static void patch_shell_import(HMODULE module) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return;
  auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
  for (; entry->Name != 0; entry++) {
    if (_stricmp(reinterpret_cast<char*>(base + entry->Name), "shell32.dll") != 0) continue;
    DWORD names_at = entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + names_at);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; names++, slots++) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<char*>(by_name->Name), "ShellExecuteA") != 0) continue;
      DWORD old;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
      slots->u1.Function = reinterpret_cast<DWORD_PTR>(&record_shell_execute);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      recording = true;
    }
  }
}

void* host_library_open(const char* path) {
  HMODULE library = LoadLibraryA(path);
  if (library == nullptr)
    fprintf(stderr, "qelv_host: cannot load the module %s (error %lu)\n", path, GetLastError());
  return library;
}

void* host_library_find(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void host_library_close(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
void host_library_loaded(void* library) { patch_shell_import(static_cast<HMODULE>(library)); }

bool shell_record_active() { return recording; }
const std::vector<shell_call>& shell_record_calls() { return recorded; }

int64_t host_memory_in_use() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<int64_t>(counters.WorkingSetSize);
}

int host_handle_count() {
  // A process always holds some handles; a count of none (Wine's answer) means
  // the system does not keep one.
  DWORD n = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &n) && n > 0 ? static_cast<int>(n) : -1;
}

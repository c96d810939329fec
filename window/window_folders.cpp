// Folders and files chosen by the user.  The remembered folders live under
// the user's key of the registry, two values and nothing else; the key is
// never among them.

#include "window_folders.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "window_ids.h"
#include "window_layout.h"
#include "window_state.h"
#include "window_text.h"

static const wchar_t settings_key[] = L"Software\\Qelv\\Window";

// The shell's item for the field's folder, or for the nearest folder above
// it that exists; null when there is none.  Asked in wide characters, as
// the picker takes them: it may start in a folder whose name the code page
// cannot spell (which a run then refuses by name).
static IShellItem* start_folder(std::wstring path) {
  while (!path.empty()) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      IShellItem* item = nullptr;
      if (SUCCEEDED(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_PPV_ARGS(&item))))
        return item;
      return nullptr;
    }
    // Up one folder; a drive's root keeps its backslash.
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) break;
    size_t end = slash > 0 && path[slash - 1] == L':' ? slash + 1 : slash;
    if (end >= path.size()) break;
    path.erase(end);
  }
  return nullptr;
}

// The system's folder picker (the file dialog choosing folders), starting
// at the field's folder; the folder chosen goes into the field.
void window_folders_browse(HWND window, HWND field, const wchar_t* title) {
  IFileOpenDialog* picker = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&picker))))
    return;
  DWORD options = 0;
  picker->GetOptions(&options);
  picker->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  picker->SetTitle(title);
  if (IShellItem* start = start_folder(window_text_of(field))) {
    picker->SetFolder(start);
    start->Release();
  }
  IShellItem* chosen = nullptr;
  if (SUCCEEDED(picker->Show(window)) && SUCCEEDED(picker->GetResult(&chosen))) {
    wchar_t* path = nullptr;
    if (SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
      SetWindowTextW(field, path);
      CoTaskMemFree(path);
    }
    chosen->Release();
  }
  picker->Release();
}

void window_folders_browse_file(HWND window, HWND field) {
  wchar_t path[MAX_PATH] = L"";
  OPENFILENAMEW open = {};
  open.lStructSize = sizeof open;
  open.hwndOwner = window;
  open.lpstrFilter = L"Key files (*.txt, *.key)\0*.txt;*.key\0All files\0*.*\0";
  open.lpstrFile = path;
  open.nMaxFile = MAX_PATH;
  open.lpstrTitle = L"Key file";
  open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (GetOpenFileNameW(&open)) SetWindowTextW(field, path);
}

// The field under point (client coordinates), or the source.
static HWND drop_field(HWND window, POINT point) {
  const int fields[] = {IDC_OUTPUT, IDC_DECRYPT_DIR, IDC_KEY_FILE};
  for (int id : fields) {
    HWND f = window_control(window, id);
    RECT r;
    GetWindowRect(f, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    if (PtInRect(&r, point)) return f;
  }
  return window_control(window, IDC_SOURCE);
}

void window_folders_drop(HWND window, HDROP drop) {
  POINT point = {};
  DragQueryPoint(drop, &point);
  UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  std::vector<std::wstring> names;
  for (UINT i = 0; i < count; i++) {
    UINT n = DragQueryFileW(drop, i, nullptr, 0);
    std::vector<wchar_t> name(n + 1);
    DragQueryFileW(drop, i, name.data(), n + 1);
    names.emplace_back(name.data());
  }
  DragFinish(drop);
  if (names.empty()) return;
  HWND field = drop_field(window, point);
  if (names.size() == 1 || field != window_control(window, IDC_SOURCE)) {
    SetWindowTextW(field, names[0].c_str());
    return;
  }
  window_state* s = window_state_of(window);
  s->dropped = names;
  s->dropped_text.clear();
  for (const std::wstring& name : names)
    s->dropped_text += (s->dropped_text.empty() ? L"" : L"; ") + name;
  SetWindowTextW(field, s->dropped_text.c_str());
}

std::wstring window_folders_sources(HWND window, std::wstring* list_rest) {
  const window_state* s = window_state_of(window);
  std::wstring text = window_text_of(window_control(window, IDC_SOURCE));
  list_rest->clear();
  if (s->dropped.size() < 2 || text != s->dropped_text) return text;
  for (size_t i = 1; i < s->dropped.size(); i++) *list_rest += s->dropped[i] + L'\n';
  return s->dropped[0];
}

static std::wstring read_value(HKEY key, const wchar_t* name) {
  wchar_t value[1024] = L"";
  DWORD size = sizeof value - sizeof(wchar_t), type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return std::wstring();
  value[size / sizeof(wchar_t)] = L'\0';
  return value;
}

void window_folders_recall(HWND window) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, settings_key, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  SetWindowTextW(window_control(window, IDC_SOURCE), read_value(key, L"Source").c_str());
  SetWindowTextW(window_control(window, IDC_OUTPUT), read_value(key, L"Encrypted").c_str());
  RegCloseKey(key);
}

static void write_value(HKEY key, const wchar_t* name, const std::wstring& value) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void window_folders_remember(const std::wstring& source, const std::wstring& output) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, settings_key, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  write_value(key, L"Source", source);
  write_value(key, L"Encrypted", output);
  RegCloseKey(key);
}

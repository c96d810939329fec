// Runtime services on Windows, through the ANSI Win32 API, and the wide one
// for the temporary file beside an Output (see "Paths" below).

#include "runtime.h"
#include "runtime_platform.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <windows.h>
#include <aclapi.h>

const char rt_path_separator = '\\';

static HANDLE private_heap;

void rt_platform_start() {
  if (private_heap == nullptr) private_heap = HeapCreate(0, 0, 0);
}

void rt_platform_stop() {
  if (private_heap != nullptr) HeapDestroy(private_heap);
  private_heap = nullptr;
}

void* rt_platform_alloc_zeroed(size_t bytes) {
  return private_heap != nullptr ? HeapAlloc(private_heap, HEAP_ZERO_MEMORY, bytes) : nullptr;
}

void* rt_platform_resize(void* area, size_t bytes) {
  return private_heap != nullptr ? HeapReAlloc(private_heap, 0, area, bytes) : nullptr;
}

void rt_platform_free(void* area) {
  if (private_heap != nullptr) HeapFree(private_heap, 0, area);
}

void rt_platform_close_left_open(intptr_t handle) {
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  FlushFileBuffers(h);
  CloseHandle(h);
}

static void release_slot(int slot, HANDLE h) { rt_slot_release(slot, reinterpret_cast<intptr_t>(h)); }

int rt_file_open(const char* path) {
  if (path == nullptr || path[0] == '\0') return -1;
  int slot = rt_slot_claim();
  if (slot < 0) return -1;
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
  release_slot(slot, h);
  return h != INVALID_HANDLE_VALUE ? slot : -1;
}

static HANDLE handle_of(int file) { return reinterpret_cast<HANDLE>(rt_slot_handle(file)); }

int32_t rt_file_read(int file, void* buffer, int32_t count) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE || count < 0) return -1;
  int32_t done = 0;
  while (done < count) {
    DWORD n = 0;
    if (!ReadFile(h, static_cast<char*>(buffer) + done, count - done, &n, nullptr)) return -1;
    if (n == 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t rt_file_write(int file, const void* buffer, int32_t count) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE || count < 0) return -1;
  DWORD n = 0;
  if (!WriteFile(h, buffer, static_cast<DWORD>(count), &n, nullptr)) return n > 0 ? n : -1;
  return static_cast<int32_t>(n);
}

int64_t rt_file_length(int file) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE) return -1;
  DWORD high = 0;
  DWORD low = GetFileSize(h, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return (static_cast<int64_t>(high) << 32) | low;
}

bool rt_file_seek(int file, int64_t offset) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE || offset < 0) return false;
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD low = SetFilePointer(h, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool rt_file_reserve(int file, int64_t length) {
  int64_t old = rt_file_length(file);
  if (old < 0 || length < 0) return false;
  if (length <= old) return true;
  // SetEndOfFile allocates the clusters for the new length, so a disk that
  // cannot hold the file fails here, before any byte is overwritten.
  if (rt_file_seek(file, length) && SetEndOfFile(handle_of(file))) return true;
  DWORD code = GetLastError();  // the reason, for rt_last_error, past the undoing
  if (rt_file_seek(file, old)) SetEndOfFile(handle_of(file));
  SetLastError(code);
  return false;
}


bool rt_file_stamp(int file, rt_stamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) return false;
  stamp->length = static_cast<int64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  stamp->modified = static_cast<int64_t>(static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime)
                                             << 32 |
                                         info.ftLastWriteTime.dwLowDateTime);
  stamp->changed = 0;
  return true;
}

bool rt_file_close(int file) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE) return false;
  release_slot(file, INVALID_HANDLE_VALUE);
  return CloseHandle(h) != 0;
}

bool rt_file_flush(int file) {
  HANDLE h = handle_of(file);
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
}

// Paths.  Callers give ANSI names, and the ANSI file functions take at
// most MAX_PATH - 1 characters.  The temporary file beside an Output has a
// longer name than the Output, up to 18 characters more, so the calls that
// make, rename and remove it use the wide functions on the full path, in
// the extended-length form ("\\?\C:\...", "\\?\UNC\server\...") once it
// reaches MAX_PATH.  The ANSI text is converted in the code page the ANSI
// file functions use.  A full path is at most the current folder (itself
// under MAX_PATH) joined to a name under MAX_PATH.
enum { WIDE_PATH_CAPACITY = 1024 };

static UINT file_code_page() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

// path's full path in the form every wide file function takes; its length,
// or 0 when it cannot be had.  *name_at (if given): where its last part
// begins, equal to the length when it ends in a separator.
static int wide_full_path(const char* path, wchar_t out[WIDE_PATH_CAPACITY], int* name_at) {
  if (path == nullptr || path[0] == '\0') return 0;
  wchar_t given[WIDE_PATH_CAPACITY], full[WIDE_PATH_CAPACITY];
  if (MultiByteToWideChar(file_code_page(), 0, path, -1, given, WIDE_PATH_CAPACITY) == 0) return 0;
  wchar_t* name = nullptr;
  DWORD n = GetFullPathNameW(given, WIDE_PATH_CAPACITY, full, &name);
  if (n == 0 || n >= WIDE_PATH_CAPACITY - 8) return 0;  // room for a prefix
  const wchar_t* prefix = L"";
  const wchar_t* rest = full;
  if (n >= MAX_PATH && wcsncmp(full, L"\\\\?\\", 4) != 0 && wcsncmp(full, L"\\\\.\\", 4) != 0) {
    if (wcsncmp(full, L"\\\\", 2) == 0) {
      prefix = L"\\\\?\\UNC\\";
      rest = full + 2;
    } else {
      prefix = L"\\\\?\\";
    }
  }
  int length = swprintf(out, WIDE_PATH_CAPACITY, L"%ls%ls", prefix, rest);
  if (length < 0) return 0;
  if (name_at != nullptr)
    *name_at = name != nullptr ? length - static_cast<int>(wcslen(name)) : length;
  return length;
}

bool rt_file_remove(const char* path) {
  wchar_t wide[WIDE_PATH_CAPACITY];
  return wide_full_path(path, wide, nullptr) > 0 && DeleteFileW(wide) != 0;
}

static bool open_token(HANDLE* token) {
  return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token) ||
         OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token);
}

// A security descriptor that lets only the current user at a file: one
// entry in a protected DACL.  The temporary file holds plain data while a
// file is decrypted, before it takes its final permissions at the commit.
struct owner_only {
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
  alignas(8) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  alignas(8) BYTE acl[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE];
};

static bool owner_only_make(owner_only* s) {
  HANDLE token;
  if (!open_token(&token)) return false;
  DWORD size = 0;
  bool known = GetTokenInformation(token, TokenUser, s->user, sizeof s->user, &size);
  CloseHandle(token);
  if (!known) return false;
  ACL* acl = reinterpret_cast<ACL*>(s->acl);
  if (!InitializeAcl(acl, sizeof s->acl, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS,
                           reinterpret_cast<TOKEN_USER*>(s->user)->User.Sid) ||
      !InitializeSecurityDescriptor(&s->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&s->descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&s->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    return false;
  s->attributes = {sizeof s->attributes, &s->descriptor, FALSE};
  return true;
}

int rt_platform_temp_folder(const char* target, char* path, int capacity, bool) {
  // A longer name is refused as the ANSI file functions refuse it.
  if (target == nullptr || strlen(target) >= MAX_PATH) return -1;
  wchar_t full[WIDE_PATH_CAPACITY];
  int name_at = 0;
  int length = wide_full_path(target, full, &name_at);
  if (length == 0 || name_at == length) return -1;
  // The folder's ANSI spelling; a folder that the ANSI code page cannot
  // spell could not have been named by the caller either.
  BOOL lossy = FALSE;
  int bytes = WideCharToMultiByte(file_code_page(), WC_NO_BEST_FIT_CHARS, full, name_at, path,
                                  capacity, nullptr, &lossy);
  return bytes > 0 && !lossy ? bytes : -1;
}

int rt_platform_create_private(const char* path, intptr_t* handle) {
  wchar_t wide[WIDE_PATH_CAPACITY];
  owner_only security;
  *handle = RT_NO_HANDLE;
  if (wide_full_path(path, wide, nullptr) == 0 || !owner_only_make(&security)) return -1;
  HANDLE h = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &security.attributes,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    *handle = reinterpret_cast<intptr_t>(h);
    return 1;
  }
  return GetLastError() == ERROR_FILE_EXISTS ? 0 : -1;
}

// A DACL, protected or inheriting as the descriptor it comes from says.
static void set_dacl(wchar_t* file, PSECURITY_DESCRIPTOR from, PACL dacl) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (dacl == nullptr || !GetSecurityDescriptorControl(from, &control, &revision)) return;
  SECURITY_INFORMATION how = DACL_SECURITY_INFORMATION |
                             (control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION
                                                          : UNPROTECTED_DACL_SECURITY_INFORMATION);
  SetNamedSecurityInfoW(file, SE_FILE_OBJECT, how, nullptr, nullptr, dacl, nullptr);
}

// What any new file in temp's folder gets (the folder's inheritable
// entries, or the token's default where it passes none on), read off a
// probe: a new file of the temporary kind beside it, opened by this call
// alone and gone when its handle closes.
static void take_new_file_security(wchar_t* temp, int name_at) {
  wchar_t probe[WIDE_PATH_CAPACITY];
  wmemcpy(probe, temp, name_at);
  if (name_at + RT_TEMP_NAME_LENGTH >= WIDE_PATH_CAPACITY) return;
  for (uint32_t attempt = 0; attempt < 64; attempt++) {
    char name[RT_TEMP_NAME_LENGTH + 1];
    rt_temp_name(rt_temp_name_value(attempt), name);
    for (int i = 0; i <= RT_TEMP_NAME_LENGTH; i++) probe[name_at + i] = name[i];  // ASCII
    HANDLE h = CreateFileW(probe, GENERIC_READ | READ_CONTROL, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                        nullptr, &descriptor) == ERROR_SUCCESS) {
      set_dacl(temp, descriptor, dacl);
      LocalFree(descriptor);
    }
    CloseHandle(h);
    return;
  }
}

// An existing target's DACL, protected or inheriting as the target's was,
// then its owner and group where this process may set them.
static void take_target_security(wchar_t* temp, const wchar_t* target) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr, group = nullptr;
  PACL dacl = nullptr;
  SECURITY_INFORMATION wanted =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetNamedSecurityInfoW(target, SE_FILE_OBJECT, wanted, &owner, &group, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS)
    return;
  set_dacl(temp, descriptor, dacl);
  SetNamedSecurityInfoW(temp, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, owner, group,
                        nullptr, nullptr);
  LocalFree(descriptor);
}

// MoveFileExW with MOVEFILE_REPLACE_EXISTING is one rename on the volume, so
// Output is old or new at every instant.  ReplaceFile would also carry the
// old file's security over, but it is not one step: Wine moves the old file
// away and deletes it before moving the new one in, and a process killed in
// between leaves no Output at all.  So the new file is given its security
// and attributes before the rename.  Where the volume keeps no security, or
// a security step fails, the file stays its owner's alone: never more open
// than it should be.
bool rt_file_replace(const char* temp_path, const char* target, bool keep_existing, bool) {
  wchar_t from[WIDE_PATH_CAPACITY], to[WIDE_PATH_CAPACITY];
  int name_at = 0;
  if (target == nullptr || strlen(target) >= MAX_PATH ||
      wide_full_path(temp_path, from, &name_at) == 0 || wide_full_path(target, to, nullptr) == 0)
    return false;
  DWORD attributes = GetFileAttributesW(to);
  if (keep_existing) {
    // Without MOVEFILE_REPLACE_EXISTING the rename itself refuses a target
    // that exists, one that another process made meanwhile included.
    take_new_file_security(from, name_at);
    return MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH) != 0;
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    take_new_file_security(from, name_at);
  } else {
    // A folder is never replaced; a read-only file is refused, as opening it
    // for writing would be.
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
      SetLastError(attributes & FILE_ATTRIBUTE_DIRECTORY ? ERROR_ACCESS_DENIED : ERROR_FILE_READ_ONLY);
      return false;
    }
    take_target_security(from, to);
    DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept != 0 && !SetFileAttributesW(from, kept)) return false;
  }
  return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}


// "C:", "C:\" and "C:/" name a drive's root, which the file search does not
// find but which counts as a directory when the drive exists.
static bool is_drive_root(const char* path) {
  size_t n = strlen(path);
  bool letter = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':';
  return letter && (n == 2 || (n == 3 && (path[2] == '\\' || path[2] == '/')));
}

int64_t rt_size_query(const char* path) {
  if (path == nullptr || path[0] == '\0' || strpbrk(path, "*?") != nullptr) return -1;
  if (is_drive_root(path)) {
    char root[4] = {path[0], ':', '\\', '\0'};
    UINT type = GetDriveTypeA(root);
    return type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR ? -1 : -2;
  }
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  FindClose(search);
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
  return (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

uint32_t rt_process_id() { return GetCurrentProcessId(); }

uint32_t rt_tick_ms() { return GetTickCount(); }

int rt_last_error() { return static_cast<int>(GetLastError()); }

rt_path_kind rt_path_kind_of(const char* path) {
  int64_t size = rt_size_query(path);  // the ANSI calls' own answer for folders and roots
  if (size == -2) return RT_PATH_FOLDER;
  if (path == nullptr || path[0] == '\0' || strpbrk(path, "*?") != nullptr) return RT_PATH_NONE;
  // A device (NUL, COM1, a console) or a pipe answers an open without
  // access, and says what it is; a file's open is cheap and says "disk".
  wchar_t wide[WIDE_PATH_CAPACITY];
  if (MultiByteToWideChar(file_code_page(), 0, path, -1, wide, WIDE_PATH_CAPACITY) == 0)
    return size >= 0 ? RT_PATH_FILE : RT_PATH_NONE;
  HANDLE h = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return size >= 0 ? RT_PATH_FILE : RT_PATH_NONE;
  DWORD type = GetFileType(h);
  CloseHandle(h);
  if (type == FILE_TYPE_CHAR) return RT_PATH_DEVICE;
  if (type == FILE_TYPE_PIPE) return RT_PATH_PIPE;
  return size >= 0 ? RT_PATH_FILE : RT_PATH_NONE;
}

// One open without access answers all a walk asks of a path: its
// attributes (a folder, a reparse point), its size and which file it is.
// The open takes the name itself, a link included; a link is opened again,
// followed, for what it names.
static bool facts_by_open(const wchar_t* wide, DWORD flags, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool got = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return got;
}

rt_path_facts rt_path_facts_of(const char* path) {
  rt_path_facts facts = {-1, false, false, 0, 0};
  wchar_t wide[WIDE_PATH_CAPACITY];
  BY_HANDLE_FILE_INFORMATION info;
  if (path == nullptr || strpbrk(path, "*?") != nullptr || wide_full_path(path, wide, nullptr) == 0)
    return facts;
  if (!facts_by_open(wide, FILE_FLAG_OPEN_REPARSE_POINT, &info)) {
    // A drive's root, or a device, which has no file information.
    facts.size = rt_size_query(path) == -2 ? -2 : -1;
    return facts;
  }
  facts.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (facts.link && !facts_by_open(wide, 0, &info)) return facts;  // a link to nothing
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.size = folder ? -2 : static_cast<int64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  facts.has_identity = true;
  facts.volume = info.dwVolumeSerialNumber;
  facts.file = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return facts;
}

bool rt_is_link(const char* path) {
  wchar_t wide[WIDE_PATH_CAPACITY];
  if (wide_full_path(path, wide, nullptr) == 0) return false;
  DWORD attributes = GetFileAttributesW(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// One file is one volume and file index.  No access is asked, so that a
// file held open by others can still be looked at; backup semantics lets a
// folder be opened too.
bool rt_file_identity(const char* path, uint64_t* volume, uint64_t* file) {
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool got = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!got) return false;
  *volume = info.dwVolumeSerialNumber;
  *file = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}

bool rt_file_time(const char* path, int64_t* time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  *time = static_cast<int64_t>(static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                               data.ftLastWriteTime.dwLowDateTime);
  return true;
}

int64_t rt_free_bytes(const char* folder) {
  ULARGE_INTEGER free_bytes;
  if (!GetDiskFreeSpaceExA(folder, &free_bytes, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(free_bytes.QuadPart);
}

int rt_platform_make_folder(const char* path, bool only_owner) {
  owner_only security;
  if (only_owner && !owner_only_make(&security)) return -1;
  if (CreateDirectoryA(path, only_owner ? &security.attributes : nullptr)) return 1;
  return GetLastError() == ERROR_ALREADY_EXISTS ? 0 : -1;
}

bool rt_folder_remove(const char* path) { return RemoveDirectoryA(path) != 0; }

bool rt_spool_folder(char* path, int capacity) {
  char folder[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n > MAX_PATH) return false;
  int written = snprintf(path, capacity, "%s", folder);
  return written > 0 && written < capacity;
}

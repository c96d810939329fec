// Files for tests: a fresh folder per test, and whole-file reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using bytes = std::vector<uint8_t>;

// A new empty folder under the system's temporary folder, with a trailing
// separator; removed with everything in it by remove_tree.
std::string make_temp_folder();
void remove_tree(const std::string& path);

bool file_exists(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> folder_names(const std::string& folder);
bytes read_file(const std::string& path);
void write_file(const std::string& path, const bytes& content);
bytes pattern_bytes(size_t count, uint32_t seed);

// Permissions.  others_may_read: whether an account other than this
// process's may read the file (group or other read bits on POSIX; on
// Windows a missing DACL or an entry that lets another account read, the
// system and the administrators, who reach every file anyway, apart).
// make_private leaves the file to its owner alone (mode 0600; a protected
// DACL with one entry for the current user).  permissions_text: the mode in
// octal, or the DACL in SDDL, for comparing two files.
bool others_may_read(const std::string& path);
void make_private(const std::string& path);
std::string permissions_text(const std::string& path);

// Whether the stack below the caller (what the calls it made before left
// there, read back uninitialised) holds the n bytes at pattern.  For
// checking that a call wiped what it should not leave behind.
bool stack_below_holds(const void* pattern, size_t n);

// An environment variable, or "" when it is not set.
std::string env_or_empty(const char* name);

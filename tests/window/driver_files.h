// Files for the driver's cases: made, read, listed and removed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool driver_make_file(const std::wstring& path, const std::string& bytes);
// A file of size bytes, made by setting its end (zeros, sparse where the
// file system can).
bool driver_make_large_file(const std::wstring& path, int64_t size);
// The file's bytes; *found false when it could not be read.
std::string driver_read_file(const std::wstring& path, bool* found);
// The files under folder, by their names relative to it ("x\\b.txt"), sorted.
std::vector<std::wstring> driver_list_files(const std::wstring& folder);
void driver_remove_tree(const std::wstring& folder);
bool driver_make_folder(const std::wstring& folder);

#include "test_files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

std::string make_temp_folder() {
  static std::mt19937 names(std::random_device{}());
  for (;;) {
    fs::path p = fs::temp_directory_path() / ("qelv-test-" + std::to_string(names()));
    if (fs::create_directory(p)) return p.string() + static_cast<char>(fs::path::preferred_separator);
  }
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

bool file_exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

std::vector<std::string> folder_names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const bytes& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()), content.size());
}

bytes pattern_bytes(size_t count, uint32_t seed) {
  std::mt19937 gen(seed);
  bytes b(count);
  for (auto& v : b) v = static_cast<uint8_t>(gen());
  return b;
}

std::string env_or_empty(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// The fixture of the command-line tool's tests: qelv run in-process through
// cli_main with its streams redirected to files, in a fresh folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../cli/cli.h"
#include "../cli/cli_run.h"
#include "../engine/engine.h"
#include "../runtime/runtime.h"
#include "test_files.h"

inline const char test_key[] = "pumpkinjar";
inline const std::string crc_failed = ": wrong key, or damaged data: the check value does not match";

// Sets a variable; an empty value removes it.
inline void set_env(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);
#else
  if (value[0] == '\0') unsetenv(name);
  else setenv(name, value, 1);
#endif
}

inline std::string text_of(const bytes& b) { return std::string(b.begin(), b.end()); }
inline bytes bytes_of(const std::string& s) { return bytes(s.begin(), s.end()); }

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

inline std::string without_cr(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

inline bool starts_with(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

inline std::vector<std::string> folder_listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Cli : public testing::Test {
 protected:
  std::string dir = make_temp_folder();
  std::string streams = make_temp_folder();  // kept apart so that dir holds only test files
  std::string out, err;
  std::string summary;  // the closing summary of a run of several files, taken out of err

  void TearDown() override {
    EXPECT_EQ(rt_open_file_count(), 0) << "a file was left open";
    remove_tree(dir);
    remove_tree(streams);
  }
  std::string path(const std::string& name) { return dir + name; }

  // Runs qelv with args; standard input is in, or an empty file.  Fills out
  // and err, line ends as "\n".
  int run(std::vector<std::string> args, FILE* in = nullptr, FILE* err_to = nullptr,
          FILE* out_to = nullptr) {
    args.insert(args.begin(), "qelv");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    write_file(streams + "in", {});
    FILE* empty_in = fopen((streams + "in").c_str(), "r");
    FILE* o = out_to != nullptr ? out_to : fopen((streams + "out").c_str(), "w");
    FILE* e = err_to != nullptr ? err_to : fopen((streams + "err").c_str(), "w");
    auto state = std::make_unique<cli_run>();
    int status = cli_main(state.get(), static_cast<int>(args.size()), argv.data(),
                          in != nullptr ? in : empty_in, o, e);
    fclose(empty_in);
    if (out_to == nullptr) fclose(o);
    if (err_to == nullptr) fclose(e);
    out = without_cr(text_of(read_file(streams + "out")));
    err = err_to == nullptr ? without_cr(text_of(read_file(streams + "err"))) : "";
    summary = take_summary(&err);
    return status;
  }
  // The last line of text when it is a summary ("qelv: 5 files: ..."),
  // removed from text.
  static std::string take_summary(std::string* text) {
    size_t at = text->size() > 1 ? text->rfind('\n', text->size() - 2) : std::string::npos;
    at = at == std::string::npos ? 0 : at + 1;
    std::string last = text->substr(at);
    size_t colon = last.find(" files: ");
    if (!starts_with(last, "qelv: ") || colon == std::string::npos ||
        last.find_first_not_of("0123456789", 6) != colon)
      return "";
    text->erase(at);
    return last;
  }
  // A plain file of n pattern bytes under name; returns its content.
  bytes plain_file(const std::string& name, size_t n, uint32_t seed) {
    bytes content = pattern_bytes(n, seed);
    write_file(path(name), content);
    return content;
  }
  // Decrypts file with the engine; the plain bytes, or empty on a failure.
  bytes engine_decrypted(const std::string& file, const char* key = test_key) {
    std::string probe = streams + "probe";
    std::string result = decrypt_file(file.c_str(), probe.c_str(), key);
    bytes content = result == result_ok ? read_file(probe) : bytes();
    std::remove(probe.c_str());
    return content;
  }
};


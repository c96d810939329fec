// Loading the module on POSIX systems.  The module opens its help through
// xdg-open, which tests replace on PATH; no shell call is recorded here.

#include <cstdio>
#include <dirent.h>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

#include "host.h"
#include "shell_record.h"

std::string host_default_module_path() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "Qelv.so";
  std::string path(self, n);
  return path.substr(0, path.rfind('/') + 1) + "Qelv.so";
}

void* host_library_open(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) fprintf(stderr, "qelv_host: cannot load the module %s: %s\n", path, dlerror());
  return library;
}

void* host_library_find(void* library, const char* name) { return dlsym(library, name); }
void host_library_close(void* library) { dlclose(library); }
void host_library_loaded(void*) {}

bool shell_record_active() { return false; }

const std::vector<shell_call>& shell_record_calls() {
  static const std::vector<shell_call> none;
  return none;
}

int64_t host_memory_in_use() {
  FILE* f = fopen("/proc/self/statm", "r");
  if (f == nullptr) return -1;
  long long total = 0, resident = -1;
  if (fscanf(f, "%lld %lld", &total, &resident) != 2) resident = -1;
  fclose(f);
  return resident < 0 ? -1 : resident * sysconf(_SC_PAGESIZE);
}

int host_handle_count() {
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n - 1;  // the listing's own descriptor
}

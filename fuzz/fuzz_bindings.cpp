// libFuzzer target: Qelv.Encrypt and Qelv.Decrypt on a real Lua state, called
// through lua_pcall with argument lists and Application/Debug objects built
// from the input.  The call must come back with one string or one raised
// error message, leave the stack as it was and no file open.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <lauxlib.h>
#include <lualib.h>
}

#include "../bindings/bindings.h"
#include "../engine/engine.h"
#include "../runtime/runtime.h"

static lua_State* L = nullptr;

// Host objects as project scripts may leave them.
static const char* const host_setups[] = {
    "Application = { SetLastError = function(n) code = n end }",
    "Application = { SetLastError = function(n) error('host failure') end }",
    "Application = { SetLastError = 42 }",
    "Application = nil",
    "Debug = { GetSyntaxErrorString = function(m) return '<' .. m .. '>' end }",
    "Debug = { GetSyntaxErrorString = function(m) error('x') end }",
    "Debug = { GetSyntaxErrorString = function(m) return string.rep('y', 5000) end }",
    "Debug = { GetSyntaxErrorString = function(m) return {} end }",
    "Debug = nil",
    "Qelv.Encrypt = Qelv.Encrypt",
};

// Names are relative: the target works in its own scratch folder.
static const char* const names[] = {"plain.bin", "sealed.bin", "out.bin", "missing", "", "   ",
                                     ".", "plain.bin\0tail", "plain.*"};

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = getenv("QELV_FUZZ_SCRATCH");  // tools/fuzz.sh removes it afterwards
  std::string scratch = std::string(base != nullptr ? base : "/tmp") + "/qelv-fuzz-bindings-" +
                        std::to_string(getpid());
  if (mkdir(scratch.c_str(), 0700) != 0 && errno != EEXIST) abort();
  if (chdir(scratch.c_str()) != 0) abort();
  rt_start();
  bindings_start();
  L = luaL_newstate();
  luaL_openlibs(L);
  register_actions(L);
  return 0;
}

struct input {
  const uint8_t* data;
  size_t size;
};

static uint8_t take(input& in) {
  if (in.size == 0) return 0;
  in.size--;
  return *in.data++;
}

// A string from the input, with no folder separators so it stays here.
static void push_raw_string(input& in) {
  char text[64];
  size_t length = take(in) % sizeof text;
  for (size_t i = 0; i < length; i++) {
    char c = static_cast<char>(take(in));
    text[i] = c == '/' || c == '\\' ? '_' : c;
  }
  lua_pushlstring(L, text, length);
}

static void push_argument(input& in) {
  uint8_t kind = take(in);
  switch (kind % 8) {
    case 0: lua_pushnil(L); break;
    case 1: lua_pushboolean(L, kind & 8); break;
    case 2: {
      int64_t v = 0;
      for (int i = 0; i < 8; i++) v = (v << 8) | take(in);
      lua_pushnumber(L, static_cast<lua_Number>(v));
      break;
    }
    case 3: {
      size_t i = take(in) % (sizeof names / sizeof names[0]);
      // The name with the embedded zero keeps its tail.
      lua_pushlstring(L, names[i], i == 7 ? 14 : strlen(names[i]));
      break;
    }
    case 4: push_raw_string(in); break;
    case 5: lua_newtable(L); break;
    case 6: lua_pushcclosure(L, script_encrypt, 0); break;
    default: lua_pushstring(L, "pumpkinjar"); break;
  }
}

static void lay_out_files() {
  FILE* f = fopen("plain.bin", "wb");
  if (f == nullptr) abort();
  fputs("a plain file of some length", f);
  fclose(f);
  if (encrypt_file("plain.bin", "sealed.bin", "pumpkinjar") != result_ok) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  input in = {data, size};
  lay_out_files();
  const char* setup = host_setups[take(in) % (sizeof host_setups / sizeof host_setups[0])];
  if (luaL_dostring(L, setup) != 0) abort();
  int top = lua_gettop(L);
  lua_getglobal(L, "Qelv");
  lua_pushstring(L, take(in) & 1 ? "Decrypt" : "Encrypt");
  lua_gettable(L, -2);
  lua_remove(L, -2);
  int count = take(in) % 6;
  for (int i = 0; i < count; i++) push_argument(in);
  int status = lua_pcall(L, count, 1, 0);
  // Either a result text or an error message, and nothing else left.
  if (!lua_isstring(L, -1) && !(status != 0 && lua_isnil(L, -1))) abort();
  lua_pop(L, 1);
  if (lua_gettop(L) != top) abort();
  if (rt_open_file_count() != 0) abort();
  unlink("out.bin");
  return 0;
}

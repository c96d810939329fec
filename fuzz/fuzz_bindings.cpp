// libFuzzer target: Qelv.Encrypt and Qelv.Decrypt on a real Lua state, called
// through lua_pcall with argument lists and Application/Debug objects built
// from the input.  Each input sets both host objects afresh, so that a
// finding replays alone.  A call must come back with one result text of the
// engine, or raise; a raise must carry the plug-in's formatted text (or the
// interpreter's own error when a host object cannot be indexed) and leave
// every file as it was.  The stack ends where it began and no file stays open.

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
#include "fuzz_common.h"

static lua_State* L = nullptr;

// Host objects as a project may leave them.  "indexable" is false where the
// lookup itself raises the interpreter's error.
struct host_setup {
  const char* chunk;
  bool indexable;
};

static const host_setup application_setups[] = {
    {"Application = { SetLastError = function(n) code = n end }", true},
    {"Application = { SetLastError = function(n) error('host failure') end }", true},
    {"Application = { SetLastError = function(n) error({}) end }", true},
    {"Application = { SetLastError = 42 }", true},
    {"Application = {}", true},
    {"Application = setmetatable({}, { __index = function() error('no field') end })", false},
    {"Application = nil", false},
    {"Application = 7", false},
};

static const host_setup debug_setups[] = {
    {"Debug = { GetSyntaxErrorString = function(m) return '<' .. m .. '>' end }", true},
    {"Debug = { GetSyntaxErrorString = function(m) error('x') end }", true},
    {"Debug = { GetSyntaxErrorString = function(m) return string.rep('y', 1023) end }", true},
    {"Debug = { GetSyntaxErrorString = function(m) return string.rep('y', 1024) end }", true},
    {"Debug = { GetSyntaxErrorString = function(m) return string.rep('z', 100000) end }", true},
    {"Debug = { GetSyntaxErrorString = function(m) return {} end }", true},
    {"Debug = { GetSyntaxErrorString = function(m) return nil end }", true},
    {"Debug = { GetSyntaxErrorString = function(m) return 12345.5 end }", true},
    {"Debug = { GetSyntaxErrorString = function(m) return 'a\\0b' end }", true},
    {"Debug = { GetSyntaxErrorString = 'not a function' }", true},
    {"Debug = {}", true},
    {"Debug = nil", false},
};

constexpr int APPLICATION_SETUPS = sizeof application_setups / sizeof application_setups[0];
constexpr int DEBUG_SETUPS = sizeof debug_setups / sizeof debug_setups[0];

// Names are relative: the target works in its own scratch folder.
static const char* const names[] = {"plain.bin", "sealed.bin", "out.bin", "missing", "", "   ",
                                     ".", "plain.bin\0tail", "plain.*", "out.bin "};
constexpr int NAMES = sizeof names / sizeof names[0];

static std::string plain_bytes = "a plain file of some length, a few blocks long";
static std::string sealed_bytes;

// Setup chunks are compiled once and kept in the registry by index.
static void compile_setups() {
  for (int i = 0; i < APPLICATION_SETUPS + DEBUG_SETUPS; i++) {
    const char* chunk = i < APPLICATION_SETUPS ? application_setups[i].chunk
                                               : debug_setups[i - APPLICATION_SETUPS].chunk;
    if (luaL_loadstring(L, chunk) != 0) abort();
    lua_rawseti(L, LUA_REGISTRYINDEX, 1000 + i);
  }
}

static void run_setup(int index) {
  lua_rawgeti(L, LUA_REGISTRYINDEX, 1000 + index);
  if (lua_pcall(L, 0, 0, 0) != 0) abort();
}

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
  compile_setups();
  fuzz_write_file("plain.bin", plain_bytes.data(), plain_bytes.size());
  if (encrypt_file("plain.bin", "sealed.bin", "pumpkinjar") != result_ok) abort();
  sealed_bytes = fuzz_read_file("sealed.bin");
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

// One byte repeated up to 64 KiB times: long keys, long names.
static void push_long_string(input& in) {
  char c = static_cast<char>(take(in));
  if (c == '/' || c == '\\' || c == '\0') c = 'k';
  size_t length = (static_cast<size_t>(take(in)) << 8) | take(in);
  std::string text(length, c);
  lua_pushlstring(L, text.data(), text.size());
}

static void push_number(input& in) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; i++) bits = (bits << 8) | take(in);
  lua_Number v;
  if (bits & 1) {
    v = static_cast<lua_Number>(static_cast<int64_t>(bits) >> 1);  // whole numbers
  } else {
    double d;  // any double at all: fractions, infinities, NaNs
    memcpy(&d, &bits, sizeof d);
    v = d;
  }
  lua_pushnumber(L, v);
}

static void push_argument(input& in) {
  uint8_t kind = take(in);
  switch (kind % 10) {
    case 0: lua_pushnil(L); break;
    case 1: lua_pushboolean(L, kind & 16); break;
    case 2: push_number(in); break;
    case 3: {
      size_t i = take(in) % NAMES;
      // The name with the embedded zero keeps its tail.
      lua_pushlstring(L, names[i], i == 7 ? 14 : strlen(names[i]));
      break;
    }
    case 4: push_raw_string(in); break;
    case 5: lua_newtable(L); break;
    case 6: lua_pushcclosure(L, script_encrypt, 0); break;
    case 7: push_long_string(in); break;
    case 8: lua_newuserdata(L, 4); break;
    default: lua_pushstring(L, "pumpkinjar"); break;
  }
}

// Every few thousand inputs a full collection, after which the heap must be
// back near its size at start: nothing the actions leave behind may live on.
// The collection also keeps Lua 5.1's incremental collector going: once a
// sweep shrinks its string buffer (grown by the long Debug text), its debt
// estimate wraps below zero and it would never run again.
static void collect_and_check_heap() {
  static unsigned inputs = 0;
  if (++inputs % 4096 != 0) return;
  lua_gc(L, LUA_GCCOLLECT, 0);
  if (lua_gc(L, LUA_GCCOUNT, 0) > 1024) abort();  // KiB
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  input in = {data, size};
  fuzz_write_file("plain.bin", plain_bytes.data(), plain_bytes.size());
  fuzz_write_file("sealed.bin", sealed_bytes.data(), sealed_bytes.size());
  unlink("out.bin");
  int application = take(in) % APPLICATION_SETUPS;
  int debug = take(in) % DEBUG_SETUPS;
  run_setup(application);
  run_setup(APPLICATION_SETUPS + debug);
  bool host_indexable = application_setups[application].indexable && debug_setups[debug].indexable;

  int top = lua_gettop(L);
  lua_getglobal(L, "Qelv");
  lua_pushstring(L, take(in) & 1 ? "Decrypt" : "Encrypt");
  lua_gettable(L, -2);
  lua_remove(L, -2);
  int count = take(in) % 6;
  for (int i = 0; i < count; i++) push_argument(in);
  int status = lua_pcall(L, count, 1, 0);

  if (status == 0) {
    // One result, a text of the engine's.
    if (lua_type(L, -1) != LUA_TSTRING || fuzz_engine_text(lua_tostring(L, -1)) == nullptr)
      abort();
  } else {
    // A raise: the plug-in's own text, unless the lookup of a host object
    // failed first; and the engine never ran, so every file is as it was.
    if (host_indexable &&
        (lua_type(L, -1) != LUA_TSTRING || strcmp(lua_tostring(L, -1), last_error_text) != 0))
      abort();
    if (fuzz_read_file("plain.bin") != plain_bytes ||
        fuzz_read_file("sealed.bin") != sealed_bytes || access("out.bin", F_OK) == 0)
      abort();
  }
  if (strlen(last_error_text) >= LAST_ERROR_CAPACITY) abort();
  lua_pop(L, 1);
  if (lua_gettop(L) != top) abort();
  if (rt_open_file_count() != 0) abort();
  collect_and_check_heap();
  return 0;
}

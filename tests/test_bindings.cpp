// The bindings on a real Lua state: stack discipline, registration and the
// host-object calls, where a script cannot see what happened.

#include <gtest/gtest.h>

#include <string>

#include "../bindings/bindings.h"
#include "../host/host_lua.h"

class Bindings : public testing::Test {
 protected:
  lua_State* L = host_lua_open();
  void SetUp() override {
    ASSERT_NE(L, nullptr);
    bindings_start();
  }
  void TearDown() override {
    if (L != nullptr) lua_close(L);
  }
  void run(const char* chunk) { ASSERT_EQ(host_lua_run(L, chunk), 0) << lua_tostring(L, -1); }
  // Runs fn as a protected C call with the given string arguments on the
  // stack; returns the error text, or "" when it returned.
  std::string protected_call(lua_CFunction fn, int args) {
    lua_pushcfunction(L, fn);
    lua_insert(L, -1 - args);
    if (lua_pcall(L, args, 0, 0) == 0) return "";
    std::string text = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(not a string)";
    lua_pop(L, 1);
    return text;
  }
};

TEST_F(Bindings, ClearLastErrorKeepsTheStackWhateverTheHostObjectDoes) {
  const char* setups[] = {
      "Application = { SetLastError = function(n) code = n end }",
      "Application = { SetLastError = function(n) error('host failure') end }",
      "Application = { SetLastError = 42 }",
      "Application = {}",
      "Application = setmetatable({}, { __index = function(t, k) return function(n) code = -n - 1 end end })",
  };
  for (const char* setup : setups) {
    run("code = nil");
    run(setup);
    lua_pushstring(L, "below");
    int height = lua_gettop(L);
    clear_last_error(L);
    EXPECT_EQ(lua_gettop(L), height) << setup;
    EXPECT_STREQ(lua_tostring(L, -1), "below") << setup;
    lua_settop(L, 0);
  }
  run("Application = { SetLastError = function(n) code = n end }; code = 7");
  clear_last_error(L);
  run("assert(code == 0)");
}

TEST_F(Bindings, FormatErrorTextKeepsTheStackAndItsRules) {
  struct { const char* setup; const char* expected; } cases[] = {
      {"Debug = { GetSyntaxErrorString = function(m) return '<' .. m .. '>' end }", "<raw>"},
      {"Debug = { GetSyntaxErrorString = function(m) return 12 end }", "12"},
      {"Debug = { GetSyntaxErrorString = function(m) return nil end }", ""},
      {"Debug = { GetSyntaxErrorString = function(m) return {} end }", ""},
      {"Debug = { GetSyntaxErrorString = function(m) return 'a\\0b' end }", "a"},
      {"Debug = { GetSyntaxErrorString = function(m) return string.rep('x', 1023) end }",
       nullptr},
      {"Debug = { GetSyntaxErrorString = function(m) return string.rep('x', 1024) end }",
       "Formatted error string is too long for buffer."},
  };
  for (const auto& c : cases) {
    run(c.setup);
    int height = lua_gettop(L);
    format_error_text(L, "raw");
    EXPECT_EQ(lua_gettop(L), height) << c.setup;
    EXPECT_EQ(std::string(last_error_text), c.expected ? c.expected : std::string(1023, 'x'))
        << c.setup;
  }
  // A formatter that fails or is missing leaves the last text as it was.
  run("Debug = { GetSyntaxErrorString = function(m) return 'kept' end }");
  format_error_text(L, "raw");
  for (const char* setup : {"Debug = { GetSyntaxErrorString = function(m) error('x') end }",
                            "Debug = { GetSyntaxErrorString = 'not a function' }",
                            "Debug = {}"}) {
    run(setup);
    format_error_text(L, "raw");
    EXPECT_STREQ(last_error_text, "kept") << setup;
    EXPECT_EQ(lua_gettop(L), 0);
  }
}

static int count_three(lua_State* L) {
  check_argument_count(L, 3);
  return 0;
}

static int strings_three(lua_State* L) {
  int height = lua_gettop(L);
  check_string_argument(L, 1);
  check_string_argument(L, 2);
  check_string_argument(L, 3);
  if (lua_gettop(L) != height) luaL_error(L, "stack moved");
  return 0;
}

TEST_F(Bindings, ChecksRaiseTheFormattedTextOrLeaveTheStackAlone) {
  run("Debug = { GetSyntaxErrorString = function(m) return 'F:' .. m end }");
  lua_pushstring(L, "a");
  lua_pushstring(L, "b");
  EXPECT_EQ(protected_call(count_three, 2), "F:3 arguments required.");
  for (int i = 0; i < 4; i++) lua_pushstring(L, "x");
  EXPECT_EQ(protected_call(count_three, 4), "");
  lua_pushnumber(L, 1);
  lua_pushstring(L, "b");
  lua_pushnumber(L, 2.5);
  EXPECT_EQ(protected_call(strings_three, 3), "");
  lua_pushstring(L, "a");
  lua_pushnil(L);
  lua_pushstring(L, "c");
  EXPECT_EQ(protected_call(strings_three, 3), "F:Argument 2 must be a string.");
  EXPECT_STREQ(last_error_text, "F:Argument 2 must be a string.");
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(Bindings, RegisteringTwiceLeavesOneTableWithTwoFunctions) {
  run("Qelv = 'old'");
  lua_pushstring(L, "below");
  register_actions(L);
  register_actions(L);
  EXPECT_EQ(lua_gettop(L), 1);
  run("local n = 0 for k, v in pairs(Qelv) do n = n + 1; assert(type(v) == 'function') end"
      " assert(n == 2, n) assert(Qelv.Encrypt and Qelv.Decrypt and Qelv.OnExit == nil)");
  run("first = Qelv");
  register_actions(L);
  run("assert(first ~= Qelv)");
}

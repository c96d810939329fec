# Which Lua library the plug-in works with.
#
#   QELV_LUA_DIR unset, native   Debian's Lua 5.1 (liblua5.1-0-dev), shared.
#   QELV_LUA_DIR unset, Windows  lua51.dll compiled here from Debian's lua5.1
#                                source package (third_party/lua5.1).
#   QELV_LUA_DIR=<tree>          that Lua source tree (a 5.0.2 tree for the
#                                real host: include/ and src/, src/lib/),
#                                linked statically into the module.  A tree
#                                whose lua.h is not Lua 5.0 is refused unless
#                                QELV_LUA_STANDIN is on: the test of this
#                                configuration with the 5.1 stand-in, whose
#                                module no host can use.
#
# Target qelv_lua carries the headers and the library; QELV_LUA_STATIC says
# whether the module holds its own copy of Lua, QELV_LUA_IS_50 whether that
# copy is Lua 5.0, the host's (the release build).

set(QELV_LUA_DIR "" CACHE PATH "Lua source tree to link statically into the module")
option(QELV_LUA_STANDIN "Accept a QELV_LUA_DIR tree that is not Lua 5.0 (tests only)" OFF)

if(QELV_LUA_DIR)
  # 5.0 keeps its headers in include/ and the libraries in src/lib/; 5.1 has
  # everything in src/.
  find_path(QELV_LUA_INCLUDE lua.h PATHS ${QELV_LUA_DIR}/include ${QELV_LUA_DIR}/src
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  file(STRINGS ${QELV_LUA_INCLUDE}/lua.h lua_version_line REGEX "^#define[ \t]+LUA_VERSION[ \t]")
  if(NOT lua_version_line MATCHES "\"Lua 5\\.0" AND NOT QELV_LUA_STANDIN)
    string(STRIP "${lua_version_line}" lua_version_line)
    # The words that say what is wrong come first: CMake wraps the message,
    # and where a long path would break them depends on the checkout's.
    message(FATAL_ERROR "Not a Lua 5.0 tree: QELV_LUA_DIR=${QELV_LUA_DIR} "
            "(its lua.h says: ${lua_version_line}). The host runs Lua 5.0.2 and the module "
            "calls the Lua it is linked with on the host's state, so any other version "
            "breaks it. Give a Lua 5.0.2 source tree; -DQELV_LUA_STANDIN=ON builds with "
            "another version for testing only.")
  endif()
  if(lua_version_line MATCHES "\"Lua 5\\.0")
    set(QELV_LUA_IS_50 ON)
  else()
    set(QELV_LUA_IS_50 OFF)
  endif()
  file(GLOB lua_sources ${QELV_LUA_DIR}/src/*.c ${QELV_LUA_DIR}/src/lib/*.c)
  list(FILTER lua_sources EXCLUDE REGEX "/(lua|luac|print)\\.c$")
  add_library(qelv_lua STATIC ${lua_sources})
  target_include_directories(qelv_lua SYSTEM PUBLIC ${QELV_LUA_INCLUDE}
                             PRIVATE ${QELV_LUA_DIR}/src)
  target_compile_options(qelv_lua PRIVATE -w)
  # Its file names, should any reach the binaries, whatever the tree's path.
  target_compile_options(qelv_lua PRIVATE -ffile-prefix-map=${QELV_LUA_DIR}=lua)
  set(QELV_LUA_STATIC ON)
elseif(WIN32)
  # The host stand-in and the module must share this one DLL.  Lua 5.1 keeps
  # a static sentinel node for empty tables, so two copies of the library
  # working on one state would each take the other's empty tables for
  # non-empty ones and corrupt the state.
  set(lua_src ${PROJECT_SOURCE_DIR}/third_party/lua5.1/src)
  if(NOT EXISTS ${lua_src}/lua.h)
    message(FATAL_ERROR "Lua sources missing in ${lua_src}: run tools/setup.sh")
  endif()
  file(GLOB lua_sources ${lua_src}/*.c)
  list(FILTER lua_sources EXCLUDE REGEX "/(lua|luac|print)\\.c$")
  add_library(qelv_lua SHARED ${lua_sources})
  set_target_properties(qelv_lua PROPERTIES OUTPUT_NAME lua51 PREFIX ""
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_compile_definitions(qelv_lua PUBLIC LUA_BUILD_AS_DLL)
  target_include_directories(qelv_lua SYSTEM PUBLIC ${lua_src})
  target_compile_options(qelv_lua PRIVATE -w)
  set(QELV_LUA_STATIC OFF)
  set(QELV_LUA_IS_50 OFF)
else()
  find_path(QELV_LUA_INCLUDE lua.h PATH_SUFFIXES lua5.1 REQUIRED)
  find_library(QELV_LUA_LIBRARY NAMES lua5.1 REQUIRED)
  add_library(qelv_lua INTERFACE)
  target_include_directories(qelv_lua SYSTEM INTERFACE ${QELV_LUA_INCLUDE})
  target_link_libraries(qelv_lua INTERFACE ${QELV_LUA_LIBRARY})
  set(QELV_LUA_STATIC OFF)
  set(QELV_LUA_IS_50 OFF)
endif()

# What `cmake --build TREE --target package` (CPack) makes of a tree:
#
#   native tree   qelv_<version>_amd64.deb: /usr/bin/qelv, its man page,
#                 its bash completion, copyright, changelog and README.
#   Windows tree  qelv-<version>-win32.zip: Qelv.lmd, Qelv.html, qelv.exe,
#                 qelvw.exe, README.txt for authors and LICENSE.txt.  Only a module
#                 holding its own Lua 5.0 (QELV_LUA_DIR, a 5.0.2 tree) may
#                 be shipped; a zip of any other tree says in its name and
#                 its README.txt that it is for tests.
#
# Every version is project()'s.

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(CPACK_PACKAGE_NAME qelv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four parts
set(CPACK_PACKAGE_VENDOR "Qelv developers")

# Whom the .deb names as its maintainer (its Maintainer field, and the
# contact in its copyright file and changelog), and its home page.  A
# release gives its own: -DQELV_DEB_MAINTAINER="Name <address>"
# -DQELV_DEB_HOMEPAGE=URL.  The defaults say what is known: the project's
# name, without an address, for it has none of its own (Debian's policy
# asks for one, and lintian says so: malformed-contact), and no Homepage
# field, for it has no page to name.
set(QELV_DEB_MAINTAINER "Qelv developers" CACHE STRING
    "The .deb's maintainer, \"Name <address>\"")
set(QELV_DEB_HOMEPAGE "" CACHE STRING "The .deb's home page; none when empty")
set(CPACK_PACKAGE_CONTACT "${QELV_DEB_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${QELV_DEB_HOMEPAGE}")
if(QELV_DEB_HOMEPAGE)
  set(QELV_COPYRIGHT_SOURCE "Source: ${QELV_DEB_HOMEPAGE}\n")
else()
  set(QELV_COPYRIGHT_SOURCE "")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "encrypt and decrypt files in the Qelv format")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE.txt)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The man page carries the version; Debian wants it, and the changelog,
# compressed at the highest level with no time stamp in the header.
configure_file(${PROJECT_SOURCE_DIR}/cli/qelv.1.in ${CMAKE_BINARY_DIR}/qelv.1 @ONLY)

if(WIN32)
  if(QELV_LUA_IS_50)
    set(CPACK_PACKAGE_FILE_NAME qelv-${PROJECT_VERSION}-win32)
    set(QELV_ZIP_WARNING "")
  else()
    if(QELV_LUA_STATIC)
      set(standin static-lua51-standin)
    else()
      set(standin lua51-standin)
    endif()
    set(CPACK_PACKAGE_FILE_NAME qelv-${PROJECT_VERSION}-win32-${standin}-TEST-ONLY)
    set(QELV_ZIP_WARNING "
  *** FOR TESTS ONLY: DO NOT SHIP OR INSTALL THIS MODULE. ***
  This Qelv.lmd is built with Lua 5.1, a stand-in for the host's Lua 5.0.2,
  and would corrupt the host's state. The module to ship is built from a
  Lua 5.0.2 tree and comes in qelv-${PROJECT_VERSION}-win32.zip.
")
  endif()
  if(QELV_LUA_STATIC)
    set(QELV_ZIP_EXTRA_FILES "")
  else()
    # The stand-in module needs the Lua DLL beside it to be loaded at all.
    set(QELV_ZIP_EXTRA_FILES "\n  lua51.dll    the Lua 5.1 stand-in that this test module is linked with")
    install(TARGETS qelv_lua RUNTIME DESTINATION .)
  endif()
  # Windows line ends, in the substituted lines too.
  file(READ ${packaging}/README-win32.txt.in readme)
  string(CONFIGURE "${readme}" readme @ONLY)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/README.txt CONTENT "${readme}" @ONLY NEWLINE_STYLE CRLF)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${packaging}/README-win32.txt.in)
  install(TARGETS qelv qelvw qelv_module RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/help/Qelv.html ${CMAKE_BINARY_DIR}/README.txt
                ${PROJECT_SOURCE_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_STRIP_FILES ON)
else()
  include(GNUInstallDirs)
  configure_file(${packaging}/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
  configure_file(${packaging}/copyright.in ${CMAKE_BINARY_DIR}/copyright @ONLY)
  set(gzipped ${CMAKE_BINARY_DIR}/qelv.1.gz ${CMAKE_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${gzipped}
    COMMAND sh -c "gzip -9n <qelv.1 >qelv.1.gz && gzip -9n <changelog >changelog.gz"
    DEPENDS ${CMAKE_BINARY_DIR}/qelv.1 ${CMAKE_BINARY_DIR}/changelog
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM)
  add_custom_target(qelv_package_docs ALL DEPENDS ${gzipped})

  install(TARGETS qelv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/qelv.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/cli/qelv.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME qelv)
  install(FILES ${CMAKE_BINARY_DIR}/copyright ${CMAKE_BINARY_DIR}/changelog.gz ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_PACKAGE_DESCRIPTION
      "qelv encrypts, decrypts, verifies and inspects files in the format of
the Qelv plug-in, whose project scripts read them in the applications they
ship. It works whole folder trees in one run, and in its update mode
rewrites only the outputs that are out of date, for build steps.")
endif()

include(CPack)

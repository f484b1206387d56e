# What `cmake --install` and `cpack -G DEB` put on a machine: zpx (stripped), its manual
# page, and the installer stubs `zpx build --stub windows|windows-x64|posix` finds beside
# it. The Win32 stubs come from the mingw presets' builds, which must be done first.
include(GNUInstallDirs)

set(ZARPEX_WIN32_STUB "${CMAKE_SOURCE_DIR}/build/mingw-i686/zarpex-setup.exe"
    CACHE FILEPATH "The i686 Windows stub to install (preset mingw-i686)")
set(ZARPEX_WIN64_STUB "${CMAKE_SOURCE_DIR}/build/mingw-x86_64/zarpex-setup.exe"
    CACHE FILEPATH "The x86_64 Windows stub to install (preset mingw-x86_64)")
option(ZARPEX_INSTALL_WIN32_STUBS "Install the Windows stubs (built by the mingw presets)" ON)

# The manual page, written by zpx from its help texts; gzip -n keeps it the same bytes.
add_custom_command(
  OUTPUT zpx.1 zpx.1.gz
  COMMAND sh -c "'$<TARGET_FILE:zpx>' --man-page > zpx.1 && gzip -9nc zpx.1 > zpx.1.gz"
  DEPENDS zpx
  COMMENT "Writing the manual page zpx.1"
  VERBATIM)
add_custom_target(zpx_man_page ALL DEPENDS zpx.1 zpx.1.gz)
# The Debian changelog and copyright the package carries.
add_custom_command(
  OUTPUT changelog.gz
  COMMAND sh -c "gzip -9nc '${CMAKE_SOURCE_DIR}/cmake/package/changelog' > changelog.gz"
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/package/changelog
  VERBATIM)
add_custom_target(zpx_changelog ALL DEPENDS changelog.gz)

install(TARGETS zpx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Stripped whatever the build type: the debug information stays in the build tree.
install(CODE "execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded --remove-section=.comment
                                      --remove-section=.note
                                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/zpx\"
                              COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${CMAKE_BINARY_DIR}/zpx.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The POSIX stub is a program of this machine's architecture: under lib, not share.
install(PROGRAMS $<TARGET_FILE:zarpex-setup> DESTINATION lib/zarpex/stubs
        RENAME zarpex-setup-posix)
if(ZARPEX_INSTALL_WIN32_STUBS)
  install(FILES ${ZARPEX_WIN32_STUB} DESTINATION ${CMAKE_INSTALL_DATADIR}/zarpex/stubs
          RENAME zarpex-setup-windows.exe)
  install(FILES ${ZARPEX_WIN64_STUB} DESTINATION ${CMAKE_INSTALL_DATADIR}/zarpex/stubs
          RENAME zarpex-setup-windows-x64.exe)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/cmake/package/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zarpex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Kolvane)
set(CPACK_PACKAGE_CONTACT "Zarpex maintainers <maintainers@kolvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds and reads Zarpex installers and archives")
set(CPACK_PACKAGE_DESCRIPTION
    "zpx packs a folder into a Zarpex archive, or with an installer stub into a\n\
self-extracting installer for Windows or for this system, and lists, tests and\n\
extracts installers and archives. The Windows and POSIX stubs come with it.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

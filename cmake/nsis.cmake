# The Windows installer: "cpack -G NSIS" in the cross build (makensis, from
# Debian's nsis) makes ternab-<version>-win64.exe. A 64-bit, Unicode
# installer that puts ternctl.exe in <Program Files>\TernAB\bin, its manual
# as text in doc\, adds bin to every user's PATH (a choice on its options
# page), and registers an uninstaller in Apps and
# Features ("Uninstall.exe /S" removes it all again, PATH entry included).
# Not signed: there is no code-signing certificate here (SmartScreen warns).
# Installs silently with /S (and /D=<folder> for another folder).
#
# The manual is ternctl's man page (help2man over "ternctl.exe --help" run
# under wine, then groff as plain text with CR LF). Without those tools the
# installer is made without it, with a warning.
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME ternab)
set(CPACK_PACKAGE_VENDOR "TernAB")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service and adjustment tool for a colour CCD camera on RS-232")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "TernAB")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "TernAB")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_NSIS_PACKAGE_NAME "TernAB ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "TernAB ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MODIFY_PATH ON)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_UNINSTALL_NAME "Uninstall")
set(CPACK_NSIS_DEFINES "Target amd64-unicode")  # a 64-bit, Unicode installer
set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)

find_program(TERN_HELP2MAN help2man)
find_program(TERN_GROFF groff)
find_program(TERN_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TERN_HELP2MAN AND TERN_GROFF AND TERN_WINE)
  # help2man runs a program: this one runs ternctl.exe under wine, its CR LF
  # line ends made LF.
  set(TERN_MAN_DIR ${PROJECT_BINARY_DIR}/man)
  file(GENERATE OUTPUT ${TERN_MAN_DIR}/ternctl
       CONTENT "#!/bin/bash\nset -o pipefail\nWINEDEBUG=-all '${TERN_WINE}' '$<TARGET_FILE:ternctl>' \"$@\" | tr -d '\\r'\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/manual.cmake.in ${TERN_MAN_DIR}/manual.cmake @ONLY)
  install(SCRIPT ${TERN_MAN_DIR}/manual.cmake)
  install(FILES ${TERN_MAN_DIR}/ternctl.txt DESTINATION doc)
else()
  message(WARNING "help2man, groff or wine missing: the Windows installer is made without ternctl's manual")
endif()
# The options page of the installer (cmake/windows/NSIS.InstallOptions.ini.in): PATH for
# every user chosen, also for a silent install.
list(PREPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/windows)
include(CPack)

# Debian package of Terminal Console (cpack -G DEB in the build directory).
#
# Contents: the GUI (terminal-console), the command line tool (terminalctl), the terminal
# simulator (sicct-terminal-sim) and its CT-API library (libctapi-sim.so), the desktop entry,
# the icons and the udev rule for the USB keyboards. Each program is installed only when its
# target exists in this build (the GUI needs Qt; the command line tool may be switched off);
# the GUI's own install rules live in app/ui.
include(GNUInstallDirs)

if(TARGET terminalctl)
  install(TARGETS terminalctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET sicct-terminal-sim)
  install(TARGETS sicct-terminal-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET ctapi-sim)
  # A CT-API library is chosen by path in the program; it is not a link dependency of anything.
  install(TARGETS ctapi-sim LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/terminal-console)
endif()
# The desktop entry and the icons come with the GUI (app/ui); without it they would point at
# a program that is not there.
# udev reads packaged rules from /usr/lib/udev/rules.d (merged /usr on Debian 12).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/70-terminal-console.rules
        DESTINATION lib/udev/rules.d)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/terminal-console)

set(CPACK_PACKAGE_NAME "terminal-console")
set(CPACK_PACKAGE_VENDOR "Terminal Console")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Find and maintain SICCT card terminals and keyboards")
set(CPACK_PACKAGE_DESCRIPTION
    "Searches the local networks, USB and the middleware configuration for card terminals, and runs\
 diagnosis, firmware and certificate list downloads. Qt GUI, command line tool terminalctl and a\
 terminal simulator for tests.")
set(CPACK_PACKAGE_CONTACT "Terminal Console maintainers <maintainers@terminal-console.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Library dependencies from the binaries themselves (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs are built RelWithDebInfo; the package carries no debug information (a tenth
# of the size, and much faster to build). The version record section survives stripping.
set(CPACK_STRIP_FILES ON)
# Keep the package independent of where the build tree lies.
set(CPACK_SET_DESTDIR OFF)
include(CPack)

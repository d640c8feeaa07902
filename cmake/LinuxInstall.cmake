# `cmake --install` on Linux: the ready-to-run installer, laid out as in the
# build tree (HelperInstaller.app/Contents/{MacOS,Resources}) because the
# installer looks for its resources at ../Resources from its own program,
# and a bin/HelperInstaller link to start it from PATH; pelagrin-sensors in bin/.
include(GNUInstallDirs)

set(PELAGRIN_INSTALLED_BUNDLE ${CMAKE_INSTALL_LIBEXECDIR}/pelagrin/HelperInstaller.app)
set(PELAGRIN_INSTALLED_PROGRAM ${PELAGRIN_INSTALLED_BUNDLE}/Contents/MacOS/HelperInstaller)
set(installed_resources ${PELAGRIN_INSTALLED_BUNDLE}/Contents/Resources)

install(TARGETS HelperInstaller RUNTIME DESTINATION ${PELAGRIN_INSTALLED_BUNDLE}/Contents/MacOS)
install(TARGETS pelagrin-sensors RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS PelagrinHelper RUNTIME DESTINATION ${installed_resources}/PelagrinHelper.app/Contents/MacOS)
install(FILES ${PROJECT_SOURCE_DIR}/installer/resources/app.pelagrin.helper.desktop
        DESTINATION ${installed_resources})

# The link is relative, so a staged (DESTDIR) or moved tree still works; the
# installer resolves it through /proc/self/exe to find its resources.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/link_installer_command.cmake CONTENT [[
set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(link "${prefix}/@CMAKE_INSTALL_BINDIR@/HelperInstaller")
file(RELATIVE_PATH target "${prefix}/@CMAKE_INSTALL_BINDIR@" "${prefix}/@PELAGRIN_INSTALLED_PROGRAM@")
file(MAKE_DIRECTORY "${prefix}/@CMAKE_INSTALL_BINDIR@")
message(STATUS "Installing: ${link} -> ${target}")
file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${link}")
]] @ONLY)
install(SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/link_installer_command.cmake)

# What the installer runs, named where it is installed: nothing checks for
# these until a user installs the helper.
install(CODE [[message(STATUS "HelperInstaller needs at run time: /usr/bin/pkill and /usr/bin/pgrep (procps), /usr/bin/setsid (util-linux)")]])

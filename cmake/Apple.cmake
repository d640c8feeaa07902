# The Mac product: PelagrinHelper.app, and HelperInstaller.app carrying it.
# Included from the top-level CMakeLists.txt on APPLE only, after helper/ and
# installer/ have defined their targets. Signing is packaging/sign.sh's job.

set(PELAGRIN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(PELAGRIN_AGENT_TEMPLATE ${PROJECT_SOURCE_DIR}/installer/resources/app.pelagrin.helper.plist)

# The Info.plists take LSMinimumSystemVersion from the deployment target, so
# they stay truthful; a warning still flags a build that is not the product.
if(NOT CMAKE_OSX_ARCHITECTURES STREQUAL "arm64" OR NOT CMAKE_OSX_DEPLOYMENT_TARGET VERSION_EQUAL 13.0)
  message(WARNING "Building for '${CMAKE_OSX_ARCHITECTURES}' and macOS "
                  "${CMAKE_OSX_DEPLOYMENT_TARGET}; the shipped apps are arm64 for macOS 13.0.")
endif()

# PelagrinHelper.app: the service as a background app (LSUIElement). Its only
# system frameworks, IOKit and CoreFoundation, come with pelagrin_sensors.
set_target_properties(PelagrinHelper PROPERTIES
  MACOSX_BUNDLE TRUE
  MACOSX_BUNDLE_INFO_PLIST ${PELAGRIN_PACKAGING_DIR}/PelagrinHelper-Info.plist.in)

# Who holds a port, through libproc, for the installer and pelagrin-sensors.
target_sources(pelagrin_port_table PRIVATE ${PROJECT_SOURCE_DIR}/porttable/LibprocPortHolder.cpp)

# pelagrin-sensors: a plain command-line tool beside the apps, which sign.sh
# signs too.
set_target_properties(pelagrin-sensors PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# HelperInstaller.app: the thin Objective-C++ front over the portable core.
# main.mm relies on ARC for its AppKit objects.
enable_language(OBJCXX)
add_executable(HelperInstaller MACOSX_BUNDLE ${PROJECT_SOURCE_DIR}/installer/main/macos/main.mm)
set_target_properties(HelperInstaller PROPERTIES
  MACOSX_BUNDLE_INFO_PLIST ${PELAGRIN_PACKAGING_DIR}/HelperInstaller-Info.plist.in)
target_compile_options(HelperInstaller PRIVATE -fobjc-arc)
target_link_libraries(HelperInstaller PRIVATE
  pelagrin_installer_macos pelagrin_warnings "-framework AppKit" "-framework Foundation")

# Copy the built helper bundle and the LaunchAgent template into the
# installer's Resources. This is a separate step, not a POST_BUILD of the
# installer, so that a rebuilt helper is copied even when the installer
# itself did not relink. ditto keeps symlinks and extended attributes.
set(installer_resources $<TARGET_BUNDLE_CONTENT_DIR:HelperInstaller>/Resources)
set(resources_stamp ${CMAKE_CURRENT_BINARY_DIR}/HelperInstaller-resources.stamp)
add_custom_command(
  OUTPUT ${resources_stamp}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${installer_resources}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${installer_resources}/PelagrinHelper.app
  COMMAND ditto $<TARGET_BUNDLE_DIR:PelagrinHelper> ${installer_resources}/PelagrinHelper.app
  COMMAND ${CMAKE_COMMAND} -E copy ${PELAGRIN_AGENT_TEMPLATE} ${installer_resources}/
  COMMAND ${CMAKE_COMMAND} -E touch ${resources_stamp}
  DEPENDS PelagrinHelper HelperInstaller ${PELAGRIN_AGENT_TEMPLATE}
          ${PELAGRIN_PACKAGING_DIR}/PelagrinHelper-Info.plist.in
  COMMENT "Copying PelagrinHelper.app and the LaunchAgent template into HelperInstaller.app"
  VERBATIM)
add_custom_target(HelperInstallerResources ALL DEPENDS ${resources_stamp})

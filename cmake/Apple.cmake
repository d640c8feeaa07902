# The Mac product's PelagrinHelper.app and pelagrin-sensors; HelperInstaller.app,
# which carries the helper, is built beside its front in installer/main/macos.
# Included from the top-level CMakeLists.txt on APPLE only, after helper/ and
# installer/ have defined their targets. Signing is packaging/sign.sh's job.

set(PELAGRIN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

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

# pelagrin-sensors: a plain command-line tool beside the apps, which sign.sh
# signs too.
set_target_properties(pelagrin-sensors PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# What `cmake --install` puts under the prefix, for hosts of one's own
# (docs/writing-a-host.md):
#   lib/            libkxcom.so, libkxmsxml.so (activation finds it beside
#                   libkxcom.so), libKXDBDatasheetSvcs.so (the module, loaded
#                   by activation), libkxhost.a, libkxstore.a
#   include/KXDBDatasheetSvcs/{com,store,host}/   the public headers
#   lib/cmake/KXDBDatasheetSvcs/   the CMake package: find_package(
#                   KXDBDatasheetSvcs) gives KXDBDatasheetSvcs::host (the host
#                   library with the store and COM), ::store, ::com and the
#                   interface-only ::host_api and ::store_api a module links
#   bin/kxqhost     the host program (registration, stores, requests)
#   share/KXDBDatasheetSvcs/plant.xml   the sample plant, which the package
#                   names as KXDBDatasheetSvcs_SAMPLE_PLANT
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(kx_package KXDBDatasheetSvcs)
set(kx_include_dir ${CMAKE_INSTALL_INCLUDEDIR}/${kx_package})
set(kx_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/${kx_package})

foreach(target kxcom kxstore_api kxhost_api)
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${kx_include_dir}>)
endforeach()
# The headers are C++20 (std::span, among others): a host that links any
# of the package's targets compiles as C++20 at least, whatever its own
# project sets.
foreach(target kxcom kxstore_api kxstore kxhost_api kxhost)
  target_compile_features(${target} INTERFACE cxx_std_20)
endforeach()
set_target_properties(kxcom PROPERTIES EXPORT_NAME com)
set_target_properties(kxstore_api PROPERTIES EXPORT_NAME store_api)
set_target_properties(kxstore PROPERTIES EXPORT_NAME store)
set_target_properties(kxhost_api PROPERTIES EXPORT_NAME host_api)
set_target_properties(kxhost PROPERTIES EXPORT_NAME host)

install(TARGETS kxcom kxstore_api kxstore kxhost_api kxhost
  EXPORT ${kx_package}Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# Loaded by activation, never linked: beside libkxcom.so, each finding it
# there.
set_target_properties(kxmsxml KXDBDatasheetSvcs PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS kxmsxml KXDBDatasheetSvcs LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
set_target_properties(kxqhost PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS kxqhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/examples/plant.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/${kx_package})

foreach(library com store host)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/${library}/
    DESTINATION ${kx_include_dir}/${library}
    FILES_MATCHING PATTERN "*.h"
    PATTERN internal EXCLUDE)
endforeach()

install(EXPORT ${kx_package}Targets
  NAMESPACE ${kx_package}::
  DESTINATION ${kx_package_dir})
# The package names the installed sample plant, for a host that makes its
# own store of it.
set(kx_sample_plant ${CMAKE_INSTALL_DATADIR}/${kx_package}/plant.xml)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/${kx_package}Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/${kx_package}Config.cmake
  INSTALL_DESTINATION ${kx_package_dir}
  PATH_VARS kx_sample_plant)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${kx_package}ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${kx_package}Config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/${kx_package}ConfigVersion.cmake
  DESTINATION ${kx_package_dir})

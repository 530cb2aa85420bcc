# The framework as an installable library for people who write their own
# installer driver:
#
#   cmake --install build --prefix P
#
# puts the headers under P/include/strata/<folder>/, the static libraries
# under P/lib/ and a CMake package under P/lib/cmake/StrataInstaller/, so that
# a driver's project can say
#
#   find_package(StrataInstaller REQUIRED)
#   target_link_libraries(setup PRIVATE Strata::framework)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(STRATA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/strata)
set(STRATA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/StrataInstaller)

# The headers a driver includes, by folder: "installer/ServerInstaller.h".
set(STRATA_PUBLIC_HEADERS
  console/ConsoleUI.h
  credentials/PasswordTool.h
  installer/ServerInstaller.h
  launcher/PackageInfo.h
  launcher/ServerVersion.h
  product/InstallerBanner.h
  product/PackageInfo.h
  product/ServerVersion.h
  templates/NewInstallerConfig.h
  templates/NewInstallerIQLoopcastScript.h)
foreach(header ${STRATA_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${STRATA_SOURCE_ROOT}/${header} DESTINATION ${STRATA_INSTALL_INCLUDEDIR}/${folder})
endforeach()

target_include_directories(framework INTERFACE $<INSTALL_INTERFACE:${STRATA_INSTALL_INCLUDEDIR}>)
# An installed sanitized library needs the sanitizer runtimes in whatever
# program links it.
if(STRATA_SANITIZE)
  target_link_options(framework INTERFACE -fsanitize=address,undefined)
endif()

# A static library carries none of the libraries it links, so every library
# of this project that the framework links is installed and exported with it.
function(strata_collect_libraries target result)
  set(found ${${result}})
  get_target_property(linked ${target} INTERFACE_LINK_LIBRARIES)
  if(linked)
    foreach(lib ${linked})
      if(TARGET ${lib} AND NOT lib IN_LIST found)
        get_target_property(imported ${lib} IMPORTED)
        get_target_property(aliased ${lib} ALIASED_TARGET)
        if(NOT imported AND NOT aliased)
          list(APPEND found ${lib})
          strata_collect_libraries(${lib} found)
        endif()
      endif()
    endforeach()
  endif()
  set(${result} ${found} PARENT_SCOPE)
endfunction()

set(STRATA_EXPORTED_LIBRARIES framework)
strata_collect_libraries(framework STRATA_EXPORTED_LIBRARIES)

install(TARGETS ${STRATA_EXPORTED_LIBRARIES}
  EXPORT StrataInstallerTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT StrataInstallerTargets
  NAMESPACE Strata::
  DESTINATION ${STRATA_INSTALL_CMAKEDIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/StrataInstallerConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/StrataInstallerConfig.cmake
  INSTALL_DESTINATION ${STRATA_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/StrataInstallerConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/StrataInstallerConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/StrataInstallerConfigVersion.cmake
  DESTINATION ${STRATA_INSTALL_CMAKEDIR})

# The package builder, for release engineers: P/bin/mkpackage, and what it
# carries into every package under P/libexec/strata/, where mkpackage looks
# for them relative to its own location (packager/PackageBuilder.h). The
# folder names are fixed, since mkpackage knows them.
install(TARGETS mkpackage RUNTIME DESTINATION bin)
install(PROGRAMS
  $<TARGET_FILE:launcher>
  $<TARGET_PROPERTY:strata-bunzip2,STRATA_PROGRAM_PATH>
  $<TARGET_PROPERTY:strata-unzstd,STRATA_PROGRAM_PATH>
  DESTINATION libexec/strata)

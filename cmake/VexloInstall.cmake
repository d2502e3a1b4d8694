# The C++ package: static libraries, the public headers (include/vexlo only;
# src/ stays private) and a CMake package, so that a program can do
#   find_package(vexlo CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE vexlo::vexlo)
# The libraries are those of VEXLO_LIBRARIES; the wheel installs none of this.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VEXLO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/vexlo")

install(TARGETS vexlo ${VEXLO_LIBRARIES} EXPORT vexloTargets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(DIRECTORY include/vexlo DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
        FILES_MATCHING PATTERN "*.hpp")
install(EXPORT vexloTargets NAMESPACE vexlo:: DESTINATION "${VEXLO_CMAKE_DIR}")

configure_package_config_file(cmake/vexloConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/vexloConfig.cmake"
  INSTALL_DESTINATION "${VEXLO_CMAKE_DIR}")
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/vexloConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}" COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/vexloConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/vexloConfigVersion.cmake"
        DESTINATION "${VEXLO_CMAKE_DIR}")

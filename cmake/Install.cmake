# Installation: the component, the runtime, the .x reader and vantor-xdump, the public headers,
# the CMake package (VantorConfig.cmake) and vantor.pc. Installed libraries and tools find each
# other through their run path, relative to where they lie.
include(CMakePackageConfigHelpers)

install(TARGETS vantor vantor-runtime vantor-xfile
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS vantor-xdump vantor-register RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${VANTOR_INCLUDE}/vantor/vantor.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vantor)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/runtime/include/vantor/
                  ${CMAKE_SOURCE_DIR}/src/xfile/include/vantor/
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vantor FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/backend/include/vantor/backend/
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vantor/backend FILES_MATCHING PATTERN "*.h")

set(VANTOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vantor)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VantorConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/VantorConfig.cmake INSTALL_DESTINATION ${VANTOR_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/VantorConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/VantorConfig.cmake ${CMAKE_BINARY_DIR}/cmake/VantorConfigVersion.cmake
        DESTINATION ${VANTOR_CMAKE_DIR})

# vantor.pc names its prefix relative to itself, so a tree installed with --prefix elsewhere works.
set(VANTOR_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VANTOR_PC_PREFIX_FROM_PCDIR /prefix/${VANTOR_PC_DIR} /prefix)
configure_file(${CMAKE_SOURCE_DIR}/cmake/vantor.pc.in ${CMAKE_BINARY_DIR}/cmake/vantor.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/cmake/vantor.pc DESTINATION ${VANTOR_PC_DIR})

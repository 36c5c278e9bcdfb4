# Install.cmake: what `cmake --install` puts in place, and the files that let other projects
# find it: a CMake package (find_package(Marrowind CONFIG)) and pkg-config files for the core
# (marrowind), the in-memory entry points (marrowind_api) and the utility library
# (marrowind_util).
include(CMakePackageConfigHelpers)

install(TARGETS marrowind RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS marrowind_core marrowind_api marrowind_util EXPORT MarrowindTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/marrowind DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES data/blosum62.mat2 data/pet91.mat2 DESTINATION ${CMAKE_INSTALL_DATADIR}/marrowind)
install(FILES docs/marrowind.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES LICENSE CITATION.cff DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/marrowind)

set(MARROWIND_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Marrowind)
install(EXPORT MarrowindTargets NAMESPACE Marrowind:: DESTINATION ${MARROWIND_CMAKE_DIR})
configure_package_config_file(cmake/MarrowindConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/MarrowindConfig.cmake INSTALL_DESTINATION ${MARROWIND_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/MarrowindConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/MarrowindConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/MarrowindConfigVersion.cmake DESTINATION ${MARROWIND_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so the tree can be installed anywhere.
file(RELATIVE_PATH MARROWIND_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/marrowind.pc.in ${CMAKE_CURRENT_BINARY_DIR}/marrowind.pc @ONLY)
configure_file(cmake/marrowind_api.pc.in ${CMAKE_CURRENT_BINARY_DIR}/marrowind_api.pc @ONLY)
configure_file(cmake/marrowind_util.pc.in ${CMAKE_CURRENT_BINARY_DIR}/marrowind_util.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/marrowind.pc ${CMAKE_CURRENT_BINARY_DIR}/marrowind_api.pc
  ${CMAKE_CURRENT_BINARY_DIR}/marrowind_util.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

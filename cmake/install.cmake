# cmake --install: the DLL, its import library, the headers, a CMake package with an imported
# target (find_package(NRVOSSE) -> NRVOSSE::NRVOSSE) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS NRVOSSE EXPORT NRVOSSETargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/osse DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT NRVOSSETargets NAMESPACE NRVOSSE::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/NRVOSSE)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/NRVOSSEConfig.cmake.in
  ${CMAKE_BINARY_DIR}/NRVOSSEConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/NRVOSSE)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/NRVOSSEConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/NRVOSSEConfig.cmake ${CMAKE_BINARY_DIR}/NRVOSSEConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/NRVOSSE)

configure_file(${PROJECT_SOURCE_DIR}/cmake/nrvosse.pc.in ${CMAKE_BINARY_DIR}/nrvosse.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/nrvosse.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# cmake --install puts the public headers, the library, a config package and
# the console program in the prefix; find_package(quarn CONFIG REQUIRED) then
# gives quarn::eos, quarn::equilibrium and quarn::fluid.
include(CMakePackageConfigHelpers)

if(TARGET quarn)
  install(TARGETS quarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS quarn_eos quarn_equilibrium quarn_fluid EXPORT quarnTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/quarn DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT quarnTargets NAMESPACE quarn:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quarn)
configure_package_config_file(cmake/quarnConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quarnConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quarn)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quarnConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quarnConfig.cmake ${PROJECT_BINARY_DIR}/quarnConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quarn)

# Installation: the three libraries, their headers (hand-written and
# generated), the kortypes tool, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS basekit movel kor-types EXPORT KorTypesTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/contracts/basekit/include/basekit
                  ${PROJECT_SOURCE_DIR}/contracts/movel/include/movel
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${CMAKE_BINARY_DIR}/types/include/kortypes DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(EXISTS ${PROJECT_SOURCE_DIR}/lib/factory/include)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/lib/factory/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

install(EXPORT KorTypesTargets NAMESPACE KorTypes:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/KorTypes)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KorTypesConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/KorTypesConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/KorTypes)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KorTypesConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KorTypesConfig.cmake ${CMAKE_BINARY_DIR}/KorTypesConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/KorTypes)

configure_file(${PROJECT_SOURCE_DIR}/cmake/kor-types.pc.in ${CMAKE_BINARY_DIR}/kor-types.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kor-types.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

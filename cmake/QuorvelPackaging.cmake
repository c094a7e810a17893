# The CMake package that lets another project find_package(QUORVEL), and the
# ZIP archive of the installed tree.
include(CMakePackageConfigHelpers)

set(QUORVEL_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QUORVEL)
install(EXPORT QUORVELTargets NAMESPACE QUORVEL:: DESTINATION ${QUORVEL_CONFIG_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QUORVELConfig.cmake.in
    ${PROJECT_BINARY_DIR}/QUORVELConfig.cmake
    INSTALL_DESTINATION ${QUORVEL_CONFIG_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QUORVELConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QUORVELConfig.cmake ${PROJECT_BINARY_DIR}/QUORVELConfigVersion.cmake
    DESTINATION ${QUORVEL_CONFIG_DIR})

if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(package_system win64)
    else()
        set(package_system win32)
    endif()
else()
    string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" package_system)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME QUORVEL)
set(CPACK_PACKAGE_VENDOR QUORVEL)
set(CPACK_PACKAGE_FILE_NAME "QUORVEL-${PROJECT_VERSION}-${package_system}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)

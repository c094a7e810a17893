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
quorvel_release_inputs(${PROJECT_BINARY_DIR}/QUORVELConfig.cmake ${PROJECT_BINARY_DIR}/QUORVELConfigVersion.cmake)

if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(package_system win64)
    else()
        set(package_system win32)
    endif()
else()
    string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" package_system)
endif()
set(package_file_name "QUORVEL-${PROJECT_VERSION}-${package_system}")

if(MSVC)
    # Library and programs link the DLL C runtime (/MD); the machines they
    # go to may not have that Visual C++ runtime, so its DLLs ship beside them.
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${CMAKE_INSTALL_BINDIR})
    include(InstallRequiredSystemLibraries)
endif()

# Packaging belongs to whoever builds the product: a project that takes
# QUORVEL in with add_subdirectory or FetchContent keeps its own package name
# and generators.
if(PROJECT_IS_TOP_LEVEL)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME QUORVEL)
    set(CPACK_PACKAGE_VENDOR QUORVEL)
    set(CPACK_PACKAGE_FILE_NAME ${package_file_name})
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    include(CPack)
    quorvel_add_release_target(${package_file_name} ${package_system})
endif()

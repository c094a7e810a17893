# quorvel_add_program(<name> <description> <source>...): one of the console
# programs that ship: linked to QUORVEL at load time and to the tool's
# settings code, with the project's warnings, the Windows resources, lean
# and stripped release binaries, and installed in bin/.
function(quorvel_add_program name description)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE protocol_selection QUORVEL::QUORVEL)
    quorvel_enable_warnings(${name})
    quorvel_add_windows_resources(${name} "${description}")
    quorvel_split_debug_info(${name})
    quorvel_lean_windows_code(${name})
    if(NOT WIN32 AND NOT APPLE)
        # libQUORVEL.so is in lib/ next to bin/, in the build tree as installed.
        set_target_properties(${name} PROPERTIES
            INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}"
            BUILD_WITH_INSTALL_RPATH ON)
    endif()
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# What the MinGW-w64 Windows release needs beyond the build itself: a
# Microsoft-format import library, stripped binaries with their debug
# information in separate files, and the release and symbols ZIPs.

# quorvel_add_msvc_import_library(<target> <def file>): lib/QUORVEL.lib for
# programs built with the Microsoft toolchain, made from the export list.
#
# llvm-dlltool writes the short import format that Microsoft's own tools
# write and marks each 32-bit import "no prefix": a 32-bit Microsoft-ABI
# caller refers to the C name _QUORVEL_INIT, and the loader looks up the
# DLL's undecorated export QUORVEL_INIT, by name. MinGW's own import library
# (libQUORVEL.dll.a, made by the linker) stays for MinGW callers.
function(quorvel_add_msvc_import_library target def_file)
    find_program(QUORVEL_LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(machine i386:x86-64)
    else()
        set(machine i386)
    endif()
    set(import_library ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/${target}.lib)
    if(NOT CMAKE_ARCHIVE_OUTPUT_DIRECTORY)
        set(import_library ${CMAKE_CURRENT_BINARY_DIR}/${target}.lib)
    endif()
    add_custom_command(OUTPUT ${import_library}
        COMMAND ${QUORVEL_LLVM_DLLTOOL} -m ${machine} -d ${def_file} -D $<TARGET_FILE_NAME:${target}>
                -l ${import_library}
        DEPENDS ${def_file}
        COMMENT "Making the Microsoft-format import library ${target}.lib")
    add_custom_target(${target}_msvc_import_library ALL DEPENDS ${import_library})
    set_property(GLOBAL APPEND PROPERTY QUORVEL_RELEASE_PARTS ${target}_msvc_import_library)
    install(FILES ${import_library} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()

# quorvel_lean_windows_code(<target>...): the MinGW-w64 binaries' code
# neither throws, allocates nor asks for a type at run time. Built without
# exceptions and RTTI, none of it refers to the C++ runtime, so none of the
# runtime's unwinder, terminate handler and demangler is linked in (most of
# what a static libstdc++ adds to a binary): each binary carries its own
# code, the C runtime's start-up and, where it formats, MinGW's printf.
function(quorvel_lean_windows_code)
    if(NOT MINGW)
        return()
    endif()
    foreach(target IN LISTS ARGN)
        target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    endforeach()
endfunction()

# quorvel_split_debug_info(<target>...), called where the targets are made:
# after each link, the debug
# information moves into <binary>.debug next to the binary, and the binary is
# stripped and names that file in its .gnu_debuglink (with the file's CRC),
# where a debugger looks for it. The build tree then holds what ships.
# objcopy writes a PE time stamp of its own: SOURCE_DATE_EPOCH decides it.
function(quorvel_split_debug_info)
    if(NOT MINGW)
        return()
    endif()
    foreach(target IN LISTS ARGN)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${QUORVEL_WITH_SOURCE_DATE} ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}>
                    $<TARGET_FILE_NAME:${target}>.debug
            COMMAND ${QUORVEL_WITH_SOURCE_DATE} ${CMAKE_OBJCOPY} --strip-all
                    --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
            WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
            VERBATIM)
        set_property(GLOBAL APPEND PROPERTY QUORVEL_DEBUG_FILES
            ${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>.debug)
        set_property(GLOBAL APPEND PROPERTY QUORVEL_RELEASE_PARTS ${target})
    endforeach()
endfunction()

# quorvel_add_release_target(<package file name> <win64|win32>): target quorvel_release
# makes, in this order:
# 1. stage/, the installed tree, from which every package is made;
# 2. its .exe, .dll and .ps1 files signed, when the build signs (QuorvelSign.cmake);
# 3. release/<name>.zip of stage/, and release/<name>-symbols.zip of the
#    debug files, in the bin/ folder they belong next to (unpacking both
#    ZIPs into one folder is enough for a debugger); then release/<name>.msi
#    of stage/bin (QuorvelMsi.cmake), after the signing of the binaries it
#    carries;
# 4. each release/*.msi signed;
# 5. release/SHA256SUMS, last, over every ZIP and MSI.
# release/ and stage/ are emptied first, and a signing step that fails (a
# wrong password, say) removes both: no package of unsigned or half-signed
# binaries is left behind. SHA256SUMS marks a complete release.
function(quorvel_add_release_target package_file_name system)
    if(NOT MINGW)
        return()
    endif()
    find_program(QUORVEL_STRIP_NONDETERMINISM strip-nondeterminism)
    get_property(debug_files GLOBAL PROPERTY QUORVEL_DEBUG_FILES)
    get_property(parts GLOBAL PROPERTY QUORVEL_RELEASE_PARTS)
    set(release_dir ${PROJECT_BINARY_DIR}/release)
    set(stage_dir ${PROJECT_BINARY_DIR}/stage)
    set(pack_zip ${CMAKE_COMMAND} -DSOURCE_DATE_EPOCH=${QUORVEL_SOURCE_DATE_EPOCH}
        -DSTRIP_NONDETERMINISM=${QUORVEL_STRIP_NONDETERMINISM})
    set(pack_zip_script -P ${PROJECT_SOURCE_DIR}/cmake/pack_zip.cmake)
    string(REPLACE ";" "," debug_files "${debug_files}")
    quorvel_sign_command(sign_binaries ${stage_dir} REQUIRED "${stage_dir};${release_dir}" *.exe *.dll *.ps1)
    quorvel_sign_command(sign_packages ${release_dir} OPTIONAL "${stage_dir};${release_dir}" *.msi)
    quorvel_msi_command(make_msi ${package_file_name} ${system} ${stage_dir}/${CMAKE_INSTALL_BINDIR} ${release_dir})
    add_custom_target(quorvel_release
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${release_dir} ${stage_dir}
        COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --config $<CONFIG> --prefix ${stage_dir}
        COMMAND ${sign_binaries}
        COMMAND ${pack_zip} -DFROM=${stage_dir} -DZIP=${release_dir}/${package_file_name}.zip ${pack_zip_script}
        COMMAND ${pack_zip} -DFROM=${PROJECT_BINARY_DIR} -DZIP=${release_dir}/${package_file_name}-symbols.zip
                -DFILES=${debug_files} ${pack_zip_script}
        COMMAND ${make_msi}
        COMMAND ${sign_packages}
        COMMAND ${CMAKE_COMMAND} -DDIRECTORY=${release_dir} -P ${PROJECT_SOURCE_DIR}/cmake/write_checksums.cmake
        WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
        COMMENT "Making release/: ${package_file_name} ZIPs, MSI and SHA256SUMS"
        VERBATIM)
    add_dependencies(quorvel_release ${parts})
endfunction()

# What the MinGW-w64 Windows release needs beyond the build itself: a
# Microsoft-format import library, stripped binaries with their PDBs, and the
# release, symbols and symbol-server ZIPs.

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
    quorvel_release_inputs(${import_library})
endfunction()

# quorvel_release_inputs(<file>...): files that install(FILES) puts into the
# release. The release is made again when one of them changes (a target's
# files count already). Every install(FILES) of the project names its files
# here too.
function(quorvel_release_inputs)
    set_property(GLOBAL APPEND PROPERTY QUORVEL_RELEASE_INPUTS ${ARGN})
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

# QUORVEL_SOURCE_URL: where a debugger fetches the sources of this very
# commit over HTTP(S), the path of a file relative to the checkout appended
# (https://<host>/<repository>/raw/<commit>/). Given, every PDB carries a
# srcsrv stream that maps each of its source files there; empty, none.
set(QUORVEL_SOURCE_URL "" CACHE STRING
    "URL of the sources at the release's commit, ending in /, for the PDBs' srcsrv stream (empty: none)")
if(MINGW AND QUORVEL_SOURCE_URL)
    # srcsrv reads % as the start of a variable and * as a field separator.
    if(NOT QUORVEL_SOURCE_URL MATCHES "^https?://[^%* \t]+/$")
        message(FATAL_ERROR "QUORVEL_SOURCE_URL must be an http or https URL ending in / without %, * or "
            "blanks, is '${QUORVEL_SOURCE_URL}'")
    endif()
    message(STATUS "PDBs map their sources to ${QUORVEL_SOURCE_URL}")
endif()

# quorvel_linked_objects(<target> <list variable>): the object files
# <target> is linked from, its own and those of the object and static
# libraries it links, as generator expressions.
function(quorvel_linked_objects target variable)
    set(objects "$<TARGET_OBJECTS:${target}>")
    get_target_property(libraries ${target} LINK_LIBRARIES)
    foreach(library IN LISTS libraries)
        if(TARGET ${library})
            get_target_property(aliased ${library} ALIASED_TARGET)
            if(aliased)
                set(library ${aliased})
            endif()
            get_target_property(type ${library} TYPE)
            if(type STREQUAL OBJECT_LIBRARY OR type STREQUAL STATIC_LIBRARY)
                quorvel_linked_objects(${library} library_objects)
                list(APPEND objects ${library_objects})
            endif()
        endif()
    endforeach()
    list(REMOVE_DUPLICATES objects)
    set(${variable} ${objects} PARENT_SCOPE)
endfunction()

# quorvel_write_object_list(<target> <file>): the file, one object a line,
# once every library is linked (deferred to the end of the configure).
function(quorvel_write_object_list target file)
    quorvel_linked_objects(${target} objects)
    set(content "")
    foreach(target_objects IN LISTS objects)
        string(APPEND content "$<JOIN:${target_objects},\n>\n")
    endforeach()
    file(GENERATE OUTPUT ${file} CONTENT "${content}")
endfunction()

# quorvel_split_debug_info(<target>...), called where the targets are made:
# the linker writes each binary's debug information into <binary>.pdb beside
# it (QuorvelHardening.cmake); after the link, llvm-objcopy strips the DWARF
# that the MinGW-w64 C runtime's and GCC's archives bring into the binary
# (its time stamp stays). The build tree then holds what ships.
function(quorvel_split_debug_info)
    if(NOT MINGW)
        return()
    endif()
    foreach(target IN LISTS ARGN)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:${target}>
            VERBATIM)
        set_property(GLOBAL APPEND PROPERTY QUORVEL_DEBUG_FILES
            ${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_BASE_NAME:${target}>.pdb)
        set_property(GLOBAL APPEND PROPERTY QUORVEL_SHIPPED_BINARIES $<TARGET_FILE_NAME:${target}>)
        set_property(GLOBAL APPEND PROPERTY QUORVEL_RELEASE_PARTS ${target})
        if(QUORVEL_SOURCE_URL)
            # The srcsrv stream is written before each link, from the
            # objects linked, and the linker gets it by a path relative to
            # the build tree (it records its command line in the PDB).
            find_program(QUORVEL_LLVM_READOBJ NAMES llvm-readobj-16 REQUIRED)
            set(objects_file ${PROJECT_BINARY_DIR}/srcsrv/${target}.objects)
            set(stream srcsrv/${target}.txt)
            # A deferred call reads its arguments when it runs: they are
            # written into it as they are now.
            cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]]
                CALL quorvel_write_object_list [[${target}]] [[${objects_file}]])")
            add_custom_command(TARGET ${target} PRE_LINK
                COMMAND ${CMAKE_COMMAND} -DOBJECTS_FILE=${objects_file} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                        -DURL=${QUORVEL_SOURCE_URL} -DREADOBJ=${QUORVEL_LLVM_READOBJ} -DOUT=${PROJECT_BINARY_DIR}/${stream}
                        -P ${PROJECT_SOURCE_DIR}/cmake/source_index.cmake
                VERBATIM)
            target_link_options(${target} PRIVATE LINKER:--Xlink=-pdbstream:srcsrv=${stream})
        endif()
    endforeach()
endfunction()

# quorvel_add_release_target(<package file name> <win64|win32>): release/,
# part of the default build (target quorvel_release), made in this order:
# 1. stage/, the installed tree, from which every package is made;
# 2. its .exe, .dll and .ps1 files signed, when the build signs (QuorvelSign.cmake);
# 3. release/<name>.zip of stage/, release/<name>-symbols.zip of the PDBs,
#    in the bin/ folder they belong next to (unpacking both ZIPs into one
#    folder is enough for a debugger), and release/<name>-symbol-server.zip,
#    the PDBs and the shipped binaries laid out for a symbol server
#    (symbol_server.cmake); then release/<name>.msi
#    of stage/bin (QuorvelMsi.cmake), after the signing of the binaries it
#    carries;
# 4. each release/*.msi signed;
# 5. release/SOURCE, what the release was built from (write_source.cmake);
# 6. release/SHA256SUMS, last, over every ZIP and MSI and SOURCE.
# release/ and stage/ are emptied first, and a signing step that fails (a
# wrong password, say) removes both: no package of unsigned or half-signed
# binaries is left behind. SHA256SUMS marks a complete release.
#
# SHA256SUMS is the output of one custom command that depends on everything
# the release is made of: the shipped targets, the files installed beside
# them (quorvel_release_inputs), the install rules, the scripts that pack,
# sign and list, and release-inputs.txt, written by configure with what a
# file cannot show: the version, the time stamps, the commit, the signing
# settings. Configure rewrites that file only when one of these changes. So
# any build after a change, and after a reconfigure that signs otherwise,
# makes release/ again, and a build with nothing changed leaves it alone:
# release/ is always what the build's configuration makes.
function(quorvel_add_release_target package_file_name system)
    if(NOT MINGW)
        return()
    endif()
    find_program(QUORVEL_STRIP_NONDETERMINISM strip-nondeterminism)
    get_property(debug_files GLOBAL PROPERTY QUORVEL_DEBUG_FILES)
    get_property(parts GLOBAL PROPERTY QUORVEL_RELEASE_PARTS)
    get_property(inputs GLOBAL PROPERTY QUORVEL_RELEASE_INPUTS)
    set(release_dir ${PROJECT_BINARY_DIR}/release)
    set(stage_dir ${PROJECT_BINARY_DIR}/stage)
    set(pack_zip ${CMAKE_COMMAND} -DSOURCE_DATE_EPOCH=${QUORVEL_SOURCE_DATE_EPOCH}
        -DSTRIP_NONDETERMINISM=${QUORVEL_STRIP_NONDETERMINISM})
    set(pack_zip_script -P ${PROJECT_SOURCE_DIR}/cmake/pack_zip.cmake)
    string(REPLACE ";" "," debug_files "${debug_files}")
    # The symbol server's tree holds the shipped binaries, signed when the release is.
    find_program(QUORVEL_LLVM_READOBJ NAMES llvm-readobj-16 REQUIRED)
    get_property(shipped_binaries GLOBAL PROPERTY QUORVEL_SHIPPED_BINARIES)
    list(TRANSFORM shipped_binaries PREPEND ${stage_dir}/${CMAKE_INSTALL_BINDIR}/)
    string(REPLACE ";" "," shipped_binaries "${shipped_binaries}")
    set(symbol_server_dir ${PROJECT_BINARY_DIR}/symbol-server)
    quorvel_sign_command(sign_binaries ${stage_dir} REQUIRED "${stage_dir};${release_dir}" *.exe *.dll *.ps1)
    quorvel_sign_command(sign_packages ${release_dir} OPTIONAL "${stage_dir};${release_dir}" *.msi)
    quorvel_msi_command(make_msi ${package_file_name} ${system} ${stage_dir}/${CMAKE_INSTALL_BINDIR} ${release_dir})

    # The commit the release is built from (and a configure when HEAD
    # moves: QuorvelHardening.cmake); empty without git.
    set(commit "")
    find_package(Git QUIET)
    if(GIT_FOUND)
        execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --verify HEAD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE git_status ERROR_QUIET)
        if(NOT git_status EQUAL 0)
            set(commit "")
        endif()
    endif()
    set(release_inputs ${PROJECT_BINARY_DIR}/release-inputs.txt)
    file(CONFIGURE OUTPUT ${release_inputs} CONTENT "version ${PROJECT_VERSION}
system ${system}
SOURCE_DATE_EPOCH ${QUORVEL_SOURCE_DATE_EPOCH}
commit ${commit}
signing certificate ${QUORVEL_SIGN_PKCS12}
password file ${QUORVEL_SIGN_PASSWORD_FILE}
time-stamp server ${QUORVEL_SIGN_TIMESTAMP_URL}
without time stamp ${QUORVEL_SIGN_WITHOUT_TIMESTAMP}
strip-nondeterminism ${QUORVEL_STRIP_NONDETERMINISM}
")
    # The install rules of every directory.
    set(install_scripts ${PROJECT_BINARY_DIR}/cmake_install.cmake)
    set(directories ${PROJECT_SOURCE_DIR})
    while(directories)
        list(POP_FRONT directories directory)
        get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
        foreach(subdirectory IN LISTS subdirectories)
            get_property(binary_dir DIRECTORY ${subdirectory} PROPERTY BINARY_DIR)
            list(APPEND install_scripts ${binary_dir}/cmake_install.cmake)
        endforeach()
        list(APPEND directories ${subdirectories})
    endwhile()
    set(signing_files "")
    foreach(file IN ITEMS "${QUORVEL_SIGN_PKCS12}" "${QUORVEL_SIGN_PASSWORD_FILE}")
        if(file AND EXISTS "${file}")
            list(APPEND signing_files ${file})
        endif()
    endforeach()

    add_custom_command(OUTPUT ${release_dir}/SHA256SUMS
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${release_dir} ${stage_dir} ${symbol_server_dir}
        COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --config $<CONFIG> --prefix ${stage_dir}
        COMMAND ${sign_binaries}
        COMMAND ${pack_zip} -DFROM=${stage_dir} -DZIP=${release_dir}/${package_file_name}.zip ${pack_zip_script}
        COMMAND ${pack_zip} -DFROM=${PROJECT_BINARY_DIR} -DZIP=${release_dir}/${package_file_name}-symbols.zip
                -DFILES=${debug_files} ${pack_zip_script}
        COMMAND ${CMAKE_COMMAND} -DBINARIES=${shipped_binaries} -DPDB_DIR=${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_BINDIR}
                -DOUT=${symbol_server_dir} -DREADOBJ=${QUORVEL_LLVM_READOBJ}
                -P ${PROJECT_SOURCE_DIR}/cmake/symbol_server.cmake
        COMMAND ${pack_zip} -DFROM=${symbol_server_dir} -DZIP=${release_dir}/${package_file_name}-symbol-server.zip
                ${pack_zip_script}
        COMMAND ${make_msi}
        COMMAND ${sign_packages}
        COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DVERSION=${PROJECT_VERSION}
                -DEPOCH=${QUORVEL_SOURCE_DATE_EPOCH} -DOUTPUT=${release_dir}/SOURCE
                -P ${PROJECT_SOURCE_DIR}/cmake/write_source.cmake
        COMMAND ${CMAKE_COMMAND} -DDIRECTORY=${release_dir} -P ${PROJECT_SOURCE_DIR}/cmake/write_checksums.cmake
        DEPENDS ${parts} ${inputs} ${install_scripts} ${release_inputs} ${signing_files}
                ${PROJECT_SOURCE_DIR}/cmake/pack_zip.cmake ${PROJECT_SOURCE_DIR}/cmake/sign_files.cmake
                ${PROJECT_SOURCE_DIR}/cmake/symbol_server.cmake
                ${PROJECT_SOURCE_DIR}/cmake/QuorvelMsi.cmake ${PROJECT_SOURCE_DIR}/cmake/QUORVEL.wxs
                ${PROJECT_SOURCE_DIR}/cmake/write_source.cmake ${PROJECT_SOURCE_DIR}/cmake/write_checksums.cmake
        WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
        COMMENT "Making release/: ${package_file_name} ZIPs, MSI, SOURCE and SHA256SUMS"
        VERBATIM)
    add_custom_target(quorvel_release ALL DEPENDS ${release_dir}/SHA256SUMS)
endfunction()

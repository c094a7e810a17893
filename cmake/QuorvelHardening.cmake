# The Windows binaries are hardened, and the MinGW-w64 release is
# reproducible: two builds of one commit, in any folders, at any time, give
# the same bytes.

# QUORVEL_SOURCE_DATE_EPOCH, the one time every release file carries (ZIP
# entry times, the MSI's; a binary's PE time stamp is a hash of its content,
# below): SOURCE_DATE_EPOCH when set, else the last
# commit's time, else 315532800 (1980-01-01 00:00:00 UTC, the earliest time
# a ZIP entry can hold), for a source tree without git. Only the MinGW-w64
# release uses it.
set(QUORVEL_SOURCE_DATE_EPOCH_WITHOUT_GIT 315532800)
if(NOT MINGW)
    set(QUORVEL_SOURCE_DATE_EPOCH "")
elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(QUORVEL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
    set(epoch_origin "SOURCE_DATE_EPOCH")
else()
    set(QUORVEL_SOURCE_DATE_EPOCH ${QUORVEL_SOURCE_DATE_EPOCH_WITHOUT_GIT})
    set(epoch_origin "no git: the fixed value")
    find_package(Git QUIET)
    if(GIT_FOUND)
        execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
            RESULT_VARIABLE git_status ERROR_QUIET)
        execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE git_dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(git_status EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
            set(QUORVEL_SOURCE_DATE_EPOCH ${commit_time})
            set(epoch_origin "the last commit")
            # A new commit or checkout configures again, so the time follows HEAD.
            if(EXISTS ${git_dir}/logs/HEAD)
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_dir}/logs/HEAD)
            endif()
        endif()
    endif()
endif()
if(MINGW AND NOT QUORVEL_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, is '${QUORVEL_SOURCE_DATE_EPOCH}'")
endif()

if(MINGW)
    message(STATUS "Release time stamps: ${QUORVEL_SOURCE_DATE_EPOCH} (from ${epoch_origin})")
    # -Brepro makes each PDB's GUID and each binary's PE time stamp a hash of
    # the content (not a random number and the time of the link), so two
    # builds give the same binary and PDB; llvm-objcopy keeps the time stamp
    # when it strips. Debuggers and symbol stores know a binary by its name,
    # time stamp and image size: a hash gives each binary a key of its own,
    # where the release's time would give the win64 and win32 QUORVEL.dll,
    # of one size, the same.
    add_link_options(LINKER:--Xlink=-Brepro)
    # CodeView debug information, which lld gathers into <binary>.pdb beside
    # each binary; the binary's debug entry names it by file name only
    # (%_PDB%), so no build folder ships, and a debugger looks for it next to
    # the binary and on its symbol path. The compiler's command line stays out
    # of the PDB: it holds the build's folders. lld would make each relative
    # path in the PDB (sources, objects, its own folder) absolute with the
    # folder it runs in; -pdbsourcepath:. keeps them relative to the build
    # tree, and the sources, mapped below, relative to the checkout
    # (Demos\QUORVEL\QUORVEL.cpp).
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-gcodeview> $<$<COMPILE_LANGUAGE:C,CXX>:-gno-codeview-command-line>)
    add_link_options(LINKER:--pdb= LINKER:--Xlink=-pdbaltpath:%_PDB% LINKER:--Xlink=-pdbsourcepath:.)
    # No absolute path of the checkout or the build tree in the binaries or
    # their PDBs: the checkout is mapped to ., the build tree to build. The
    # compiler tries the last of these options first, and the build tree
    # usually lies inside the checkout.
    add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)

    # Stack protection for every function with a local array or an address
    # taken, and the checked string functions of MinGW-w64's headers (they
    # need the optimizer to know buffer sizes). Both call into libssp.
    add_compile_options(-fstack-protector-strong)
    add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
    # The linker's defaults, stated so that no other linker drops them.
    add_link_options(LINKER:--dynamicbase LINKER:--nxcompat)
    # x64 binaries are marked compatible with CET shadow stacks (in their
    # extended DLL characteristics debug entry). Control Flow Guard needs
    # MinGW-w64 11's C runtime; Debian 12 has 10 (docs/USING-THE-LIBRARY.md).
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        add_link_options(LINKER:--high-entropy-va LINKER:--Xlink=-cetcompat)
    else()
        # x86 code keeps EBP as a frame pointer in every function, so that
        # what walks a stack by the EBP chain without symbols (ETW and WPR
        # sampling, RtlCaptureStackBackTrace, crash reporters with no PDB)
        # gets through QUORVEL's frames; debuggers with the PDB use its frame
        # data either way. x64 code is unwound from the image's own tables.
        add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fno-omit-frame-pointer>)
    endif()
elseif(MSVC)
    # Control Flow Guard, the stack cookie (/GS, the default, kept explicit),
    # address space layout randomisation and no-execute data. The resource
    # compiler takes none of these options.
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:/guard:cf> $<$<COMPILE_LANGUAGE:C,CXX>:/GS>)
    add_link_options(/guard:cf /DYNAMICBASE /NXCOMPAT)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        add_link_options(/HIGHENTROPYVA)
    endif()
endif()

# quorvel_link_stack_protector(<target>...): the shipped binaries carry
# libssp themselves. The compiler driver asks for -lssp, which would find
# libssp.dll.a and make each binary import libssp-0.dll, a DLL no Windows
# machine has; the static archive named first among the libraries resolves
# the guard and the checked functions, so the driver's own -lssp is left with
# nothing to import. Its guard set-up uses advapi32.
#
# The failure handler is our own (quorvel_stack_cookie_failure, a
# __fastfail). libssp defines its __stack_chk_fail in the one object that
# also holds the guard, so both cannot be linked as they are: the archive
# linked is a copy in the build tree in which libssp's handler is renamed
# __libssp_stack_chk_fail and nothing calls it. The linker gets the copy by a
# path relative to the build tree, which it records in the PDB as it is.
function(quorvel_link_stack_protector)
    if(NOT MINGW)
        return()
    endif()
    set(libssp_copy toolchain/libssp.a)
    if(NOT TARGET quorvel_libssp)
        # i686 C names carry a leading underscore.
        set(c_prefix "")
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            set(c_prefix _)
        endif()
        find_file(QUORVEL_LIBSSP libssp.a PATHS ${QUORVEL_MINGW_GCC_DIR} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
            REQUIRED)
        add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${libssp_copy}
            COMMAND ${CMAKE_OBJCOPY} --redefine-sym=${c_prefix}__stack_chk_fail=${c_prefix}__libssp_stack_chk_fail
                    ${QUORVEL_LIBSSP} ${PROJECT_BINARY_DIR}/${libssp_copy}
            DEPENDS ${QUORVEL_LIBSSP}
            COMMENT "Copying libssp.a with its failure handler renamed"
            VERBATIM)
        add_custom_target(quorvel_libssp DEPENDS ${PROJECT_BINARY_DIR}/${libssp_copy})
    endif()
    foreach(target IN LISTS ARGN)
        target_link_libraries(${target} PRIVATE quorvel_stack_cookie_failure)
        target_link_options(${target} PRIVATE ${libssp_copy})
        add_dependencies(${target} quorvel_libssp)
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_BINARY_DIR}/${libssp_copy})
    endforeach()
endfunction()

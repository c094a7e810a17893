# cmake -DSOURCE_DIR=<checkout> -DVERSION=<version> -DEPOCH=<seconds> -DOUTPUT=<file> -P write_source.cmake
# Writes release/SOURCE, what the release was built from, so that anyone
# can build it again (SHA256SUMS covers it):
#   version 1.0.0
#   commit <the commit's full id>
#   changes none
#   SOURCE_DATE_EPOCH <seconds>
# "changes uncommitted" marks a build of a checkout whose tracked files
# differ from that commit: it cannot be built again from the commit alone.
# A source tree without git writes "commit none (source tree without git)"
# and "changes unknown"; its SOURCE_DATE_EPOCH is then the fixed time the
# build used (QuorvelHardening.cmake).
cmake_minimum_required(VERSION 3.25)
foreach(variable SOURCE_DIR VERSION EPOCH OUTPUT)
    if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
        message(FATAL_ERROR "write_source.cmake: -D${variable}=... is required")
    endif()
endforeach()
set(commit "none (source tree without git)")
set(changes unknown)
find_package(Git QUIET)
if(GIT_FOUND)
    # Only SOURCE_DIR's own repository counts: a source tree unpacked
    # inside another one is not that one's commit.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel WORKING_DIRECTORY ${SOURCE_DIR}
        OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --verify HEAD WORKING_DIRECTORY ${SOURCE_DIR}
        OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
    file(REAL_PATH "${SOURCE_DIR}" source_real)
    if(top)
        file(REAL_PATH "${top}" top)
    endif()
    if(status EQUAL 0 AND head MATCHES "^[0-9a-f]+$" AND top STREQUAL source_real)
        set(commit ${head})
        # Tracked files only: build trees and other untracked files are not
        # the source. Exit status 1: there are differences.
        execute_process(COMMAND ${GIT_EXECUTABLE} diff --quiet HEAD -- WORKING_DIRECTORY ${SOURCE_DIR}
            RESULT_VARIABLE status ERROR_VARIABLE error)
        if(status EQUAL 0)
            set(changes none)
        elseif(status EQUAL 1)
            set(changes uncommitted)
        else()
            message(FATAL_ERROR "write_source.cmake: git diff failed in ${SOURCE_DIR}: ${error}")
        endif()
    endif()
endif()
file(WRITE ${OUTPUT} "version ${VERSION}\ncommit ${commit}\nchanges ${changes}\nSOURCE_DATE_EPOCH ${EPOCH}\n")
message(STATUS "${OUTPUT}: commit ${commit}, changes ${changes}")

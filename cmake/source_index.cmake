# cmake -DOBJECTS_FILE=<file> -DSOURCE_DIR=<checkout> -DURL=<url> -DREADOBJ=<llvm-readobj> -DOUT=<file> -P source_index.cmake
# Writes OUT, the srcsrv stream the linker puts into a binary's PDB
# (-pdbstream:srcsrv=OUT): for each source file of the checkout that the
# objects listed in OBJECTS_FILE (one a line: those the binary is linked
# from) record, the URL a debugger fetches it from, URL followed by the
# file's path relative to the checkout. The linker copies each object's
# source paths into the PDB; with -ffile-prefix-map and -pdbsourcepath they
# are relative to the checkout (Demos\QUORVEL\QUORVEL.cpp), and the stream
# names them so. The toolchain's own headers and sources (absolute paths
# under /usr) have no URL and are left out. Sorted and without a time, the
# stream is the same in every build of one commit.
cmake_minimum_required(VERSION 3.25)
foreach(variable OBJECTS_FILE SOURCE_DIR URL READOBJ OUT)
    if(NOT ${variable})
        message(FATAL_ERROR "source_index.cmake: ${variable} not given")
    endif()
endforeach()

file(STRINGS "${OBJECTS_FILE}" objects)
set(sources "")
foreach(object IN LISTS objects)
    # Compiled resources (.res) carry no source.
    if(NOT object MATCHES "\\.obj$")
        continue()
    endif()
    execute_process(COMMAND "${READOBJ}" --codeview "${object}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${READOBJ} cannot read ${object}")
    endif()
    string(REGEX MATCHALL "Filename: [^\n]*" names "${dump}")
    foreach(name IN LISTS names)
        string(REGEX REPLACE "^Filename: (.*) \\(0x[0-9A-F]+\\)$" "\\1" name "${name}")
        if(name MATCHES "^/")
            continue()
        endif()
        # The compiler writes the mapped checkout (.) as a leading backslash.
        string(REPLACE "/" "\\" name "${name}")
        string(REGEX REPLACE "^\\.?\\\\" "" name "${name}")
        string(REPLACE "\\" "/" relative "${name}")
        # Files of the build tree (mapped to build) are not in the sources' URL.
        if(relative MATCHES "^build/" OR NOT EXISTS "${SOURCE_DIR}/${relative}")
            continue()
        endif()
        list(APPEND sources "${name}*${relative}")
    endforeach()
endforeach()
list(REMOVE_DUPLICATES sources)
list(SORT sources)

# srcsrv's HTTP form: the debugger fetches SRCSRVTRG itself, %var1% being the
# path as the PDB records it and %var2% the path in the URL.
string(REGEX MATCH "^[a-z]+" scheme "${URL}")
string(JOIN "\n" source_lines ${sources})
set(stream "SRCSRV: ini ------------------------------------------------
VERSION=2
VERCTRL=http
SRCSRV: variables ------------------------------------------
SRCSRVVERCTRL=${scheme}
QUORVEL_SOURCES=${URL}
SRCSRVTRG=%QUORVEL_SOURCES%%var2%
SRCSRV: source files ---------------------------------------
${source_lines}
SRCSRV: end ------------------------------------------------
")
# CRLF, as the Windows tools that write and read the stream have it.
string(REPLACE "\n" "\r\n" stream "${stream}")
file(WRITE "${OUT}" "${stream}")

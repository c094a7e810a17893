# cmake -DBINARIES=<file,...> -DPDB_DIR=<dir> -DOUT=<dir> -DREADOBJ=<llvm-readobj> -P symbol_server.cmake
# Lays out OUT as a symbol server (the tree symstore makes) for each of
# BINARIES (the shipped, signed files) and its PDB, found in PDB_DIR by the
# name the binary's CodeView entry gives:
#   pingme.txt                              what marks a folder or share as a store
#   <name.pdb>/<GUID><age>/<name.pdb>       what a debugger asks for a binary's symbols
#   <name.dll>/<TIMESTAMP><sizeofimage>/<name.dll>   what it asks for a module of a minidump
# The folder names come from the binary's own header and debug entry,
# written as the debuggers' symbol server client writes them when it asks
# (printf's %08X%04X%04X%02X...%x for a PDB, %08X%x for a binary): the GUID in
# upper case (its first three fields little-endian numbers), the time stamp
# in upper case eight digits wide, the age and the image size in lower case.
# A share or IIS ignores the case; an HTTP store on a case-sensitive server
# (S3, nginx, blob storage) answers 404 to any other spelling.
# DbgHelp and Visual Studio take a plain folder or share on the symbol path
# (not srv*...) for a store only when pingme.txt is at its root; symstore
# writes one too. Its content is not read.
cmake_minimum_required(VERSION 3.25)
foreach(variable BINARIES PDB_DIR OUT READOBJ)
    if(NOT ${variable})
        message(FATAL_ERROR "symbol_server.cmake: ${variable} not given")
    endif()
endforeach()

# hex(<variable> <decimal> <TOUPPER|TOLOWER>): hexadecimal, no leading zeros.
function(hex variable value case)
    math(EXPR text "${value}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "^0x" "" text "${text}")
    string(${case} "${text}" text)
    set(${variable} ${text} PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${OUT}")
file(WRITE "${OUT}/pingme.txt" "")
string(REPLACE "," ";" BINARIES "${BINARIES}")
foreach(binary IN LISTS BINARIES)
    get_filename_component(name "${binary}" NAME)
    execute_process(COMMAND "${READOBJ}" --file-headers --coff-debug-directory "${binary}"
        OUTPUT_VARIABLE dump RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${READOBJ} cannot read ${binary}")
    endif()
    # The file header's time stamp comes first; the debug entries' follow.
    if(NOT dump MATCHES "TimeDateStamp: [^\n]*\\((0x[0-9A-F]+)\\)")
        message(FATAL_ERROR "${binary}: no PE time stamp")
    endif()
    math(EXPR timestamp "${CMAKE_MATCH_1}")
    if(NOT dump MATCHES "SizeOfImage: ([0-9]+)")
        message(FATAL_ERROR "${binary}: no SizeOfImage")
    endif()
    set(size_of_image ${CMAKE_MATCH_1})
    if(NOT dump MATCHES "PDBGUID: \\(([0-9A-F ]+)\\)[^\n]*\n *PDBAge: ([0-9]+)\n *PDBFileName: ([^\n]+)")
        message(FATAL_ERROR "${binary}: no CodeView debug entry naming a PDB")
    endif()
    string(REPLACE " " ";" guid_bytes "${CMAKE_MATCH_1}")
    set(age ${CMAKE_MATCH_2})
    set(pdb_name "${CMAKE_MATCH_3}")
    list(LENGTH guid_bytes guid_length)
    if(NOT guid_length EQUAL 16 OR pdb_name MATCHES "[/\\\\]")
        message(FATAL_ERROR "${binary}: CodeView entry with GUID '${guid_bytes}' and PDB '${pdb_name}'")
    endif()
    # Data1 (4 bytes), Data2 and Data3 (2 each) are little-endian; the last 8 bytes are in order.
    set(guid "")
    foreach(index IN ITEMS 3 2 1 0 5 4 7 6 8 9 10 11 12 13 14 15)
        list(GET guid_bytes ${index} byte)
        string(APPEND guid "${byte}")
    endforeach()
    hex(age_text ${age} TOLOWER)
    hex(timestamp_text ${timestamp} TOUPPER)
    string(LENGTH "${timestamp_text}" length)
    while(length LESS 8)
        string(PREPEND timestamp_text "0")
        math(EXPR length "${length} + 1")
    endwhile()
    hex(size_text ${size_of_image} TOLOWER)
    if(NOT EXISTS "${PDB_DIR}/${pdb_name}")
        message(FATAL_ERROR "${binary} names ${pdb_name}, which is not in ${PDB_DIR}")
    endif()
    file(COPY "${PDB_DIR}/${pdb_name}" DESTINATION "${OUT}/${pdb_name}/${guid}${age_text}")
    file(COPY "${binary}" DESTINATION "${OUT}/${name}/${timestamp_text}${size_text}")
    message(STATUS "${OUT}: ${pdb_name}/${guid}${age_text}, ${name}/${timestamp_text}${size_text}")
endforeach()

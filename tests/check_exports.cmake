# Compares the dynamic symbols that LIBRARY defines with the names in DEF_FILE.
execute_process(COMMAND nm -D --defined-only --format=posix ${LIBRARY}
    OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "(^|\n)[^ \n]+" exported "${symbols}")
list(TRANSFORM exported STRIP)
# Version nodes are not functions.
list(FILTER exported EXCLUDE REGEX "^$")

file(STRINGS ${DEF_FILE} def_lines)
set(expected "")
foreach(line IN LISTS def_lines)
    if(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)")
        list(APPEND expected ${CMAKE_MATCH_1})
    endif()
endforeach()

list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
    message(FATAL_ERROR "exported: ${exported}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${exported}")

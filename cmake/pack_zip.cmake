# cmake -DFROM=<dir> -DZIP=<file> [-DFILES=<path,...>] -DSOURCE_DATE_EPOCH=<seconds>
#       -DSTRIP_NONDETERMINISM=<program> -P pack_zip.cmake
# Packs FILES (paths relative to FROM; default: every file below FROM) into
# ZIP so that the same files give the same bytes anywhere: libarchive writes
# the files' times in the builder's time zone, their owners and their modes,
# which strip-nondeterminism then replaces by SOURCE_DATE_EPOCH and fixed
# values, in name order.
cmake_minimum_required(VERSION 3.25)
foreach(variable FROM ZIP SOURCE_DATE_EPOCH)
    if(NOT ${variable})
        message(FATAL_ERROR "pack_zip.cmake: ${variable} not given")
    endif()
endforeach()
if(NOT STRIP_NONDETERMINISM OR NOT EXISTS "${STRIP_NONDETERMINISM}")
    message(FATAL_ERROR "strip-nondeterminism is needed to make reproducible ZIPs "
        "(Debian package strip-nondeterminism); configure again once it is installed")
endif()
string(REPLACE "," ";" FILES "${FILES}")
if(NOT FILES)
    file(GLOB_RECURSE FILES LIST_DIRECTORIES false RELATIVE "${FROM}" "${FROM}/*")
endif()
if(NOT FILES)
    message(FATAL_ERROR "pack_zip.cmake: nothing to pack in ${FROM}")
endif()
list(SORT FILES)
get_filename_component(zip_dir "${ZIP}" DIRECTORY)
file(MAKE_DIRECTORY "${zip_dir}")
file(REMOVE "${ZIP}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ZIP}" --format=zip -- ${FILES}
    WORKING_DIRECTORY "${FROM}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE "${ZIP}")
    message(FATAL_ERROR "Packing ${ZIP} failed")
endif()
execute_process(COMMAND "${STRIP_NONDETERMINISM}" --type zip --timestamp ${SOURCE_DATE_EPOCH} "${ZIP}"
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE "${ZIP}")
    message(FATAL_ERROR "strip-nondeterminism failed on ${ZIP}")
endif()
list(LENGTH FILES count)
message(STATUS "${ZIP}: ${count} files")

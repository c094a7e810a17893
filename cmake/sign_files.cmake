# cmake -DPKCS12=<file> -DPASSWORD_FILE=<file> -DTIMESTAMP_URL=<url> -DOSSLSIGNCODE=<program>
#       -DDIRECTORY=<dir> -DREQUIRED=REQUIRED|OPTIONAL -DPATTERNS=<glob,...> -DDISCARD=<dir,...>
#       -P sign_files.cmake
# Signs each file below DIRECTORY that matches one of PATTERNS with
# Authenticode (SHA-256), time-stamped by TIMESTAMP_URL when given (the
# configuration insists on one or an explicit opt-out, QuorvelSign.cmake).
# An MSI's signature also covers the package's file metadata
# (MsiDigitalSignatureEx). Without PKCS12 it does nothing. Each file is
# signed into a copy that replaces it only once signed; the first failure
# stops everything and removes the DISCARD folders (the staged tree and the
# release), so no mix of signed and unsigned files is left to be packed or
# shipped.
cmake_minimum_required(VERSION 3.25)
if(NOT PKCS12)
    return()
endif()
string(REPLACE "," ";" DISCARD "${DISCARD}")
macro(fail)
    file(REMOVE_RECURSE ${DISCARD})
    message(FATAL_ERROR ${ARGV})
endmacro()
foreach(file IN ITEMS "${PKCS12}" "${PASSWORD_FILE}")
    if(file AND NOT EXISTS "${file}")
        fail("Cannot sign the release: ${file} does not exist (QUORVEL_SIGN_PKCS12, QUORVEL_SIGN_PASSWORD_FILE)")
    endif()
endforeach()

string(REPLACE "," ";" PATTERNS "${PATTERNS}")
set(files "")
foreach(pattern IN LISTS PATTERNS)
    file(GLOB_RECURSE matches LIST_DIRECTORIES false "${DIRECTORY}/${pattern}")
    list(APPEND files ${matches})
endforeach()
list(SORT files)
if(NOT files)
    if(REQUIRED STREQUAL "REQUIRED")
        fail("Nothing to sign in ${DIRECTORY} (${PATTERNS})")
    endif()
    return()
endif()

set(options -pkcs12 "${PKCS12}" -h sha256 -n QUORVEL)
if(PASSWORD_FILE)
    list(APPEND options -readpass "${PASSWORD_FILE}")
endif()
if(TIMESTAMP_URL)
    list(APPEND options -ts "${TIMESTAMP_URL}")
endif()
foreach(file IN LISTS files)
    set(signed "${file}.signing")
    file(REMOVE "${signed}")
    set(file_options "")
    if(file MATCHES "\\.[mM][sS][iI]$")
        set(file_options -add-msi-dse)
    endif()
    execute_process(COMMAND "${OSSLSIGNCODE}" sign ${options} ${file_options} -in "${file}" -out "${signed}"
        RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0 OR NOT EXISTS "${signed}")
        fail("Signing ${file} failed, the release is removed.\n${output}\n"
            "Check the certificate file ${PKCS12} and the password in ${PASSWORD_FILE}"
            " (or the time-stamp server ${TIMESTAMP_URL}).")
    endif()
    # osslsigncode writes a new file with the default mode: the signed file
    # keeps the mode the install gave the original (0755 or 0644), which the
    # release ZIP records, so that a ZIP packed from a rebuild with the
    # signatures attached is the published one byte for byte.
    execute_process(COMMAND test -x "${file}" RESULT_VARIABLE not_executable)
    set(permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    if(not_executable EQUAL 0)
        list(APPEND permissions OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
    endif()
    file(CHMOD "${signed}" PERMISSIONS ${permissions})
    file(RENAME "${signed}" "${file}")
    message(STATUS "Signed ${file}")
endforeach()

# Authenticode signing of the Windows release with osslsigncode, when the
# builder has a code-signing certificate. Only paths are kept in the cache
# and passed on command lines: osslsigncode reads the password from its file.
set(QUORVEL_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file (.pfx, .p12) with the code-signing certificate and its key; empty: the release is not signed")
set(QUORVEL_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File whose first line is the password of QUORVEL_SIGN_PKCS12")
set(QUORVEL_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server for the signatures, so they stay valid after the certificate expires")
option(QUORVEL_SIGN_WITHOUT_TIMESTAMP
    "Sign without a time-stamp server: the signatures stop verifying when the certificate expires" OFF)

if(MINGW)
    if(QUORVEL_SIGN_PKCS12)
        find_program(QUORVEL_OSSLSIGNCODE osslsigncode)
        if(NOT QUORVEL_OSSLSIGNCODE)
            message(FATAL_ERROR "QUORVEL_SIGN_PKCS12 is set: signing needs osslsigncode (Debian package osslsigncode)")
        endif()
        # A signature without a time stamp is valid only while the
        # certificate is: Windows then rejects the whole release. Nobody
        # gets that by forgetting an option.
        if(QUORVEL_SIGN_TIMESTAMP_URL)
            message(STATUS "The release will be signed with ${QUORVEL_SIGN_PKCS12}, "
                "time-stamped by ${QUORVEL_SIGN_TIMESTAMP_URL}")
        elseif(QUORVEL_SIGN_WITHOUT_TIMESTAMP)
            message(WARNING "The release will be signed with ${QUORVEL_SIGN_PKCS12} WITHOUT a time stamp "
                "(QUORVEL_SIGN_WITHOUT_TIMESTAMP=ON): its signatures stop verifying when the certificate expires.")
        else()
            message(FATAL_ERROR "QUORVEL_SIGN_PKCS12 is set but QUORVEL_SIGN_TIMESTAMP_URL is not: signatures "
                "without a time stamp stop verifying when the certificate expires. Give an RFC 3161 time-stamp "
                "server with -DQUORVEL_SIGN_TIMESTAMP_URL=<url>, or sign without one on purpose with "
                "-DQUORVEL_SIGN_WITHOUT_TIMESTAMP=ON.")
        endif()
    else()
        message(STATUS "The release will not be signed (QUORVEL_SIGN_PKCS12 is not set)")
    endif()
endif()

# quorvel_sign_command(<variable> <directory> REQUIRED|OPTIONAL <discard> <pattern>...):
# in <variable>, the command that signs every file below <directory> that
# matches a pattern; it does nothing when the build does not sign, with
# REQUIRED fails when no file matches, and on failure removes the folders
# in the list <discard>.
function(quorvel_sign_command variable directory required discard)
    # A list would become several arguments of the custom command.
    string(REPLACE ";" "," patterns "${ARGN}")
    string(REPLACE ";" "," discard "${discard}")
    set(${variable} ${CMAKE_COMMAND} -DPKCS12=${QUORVEL_SIGN_PKCS12} -DPASSWORD_FILE=${QUORVEL_SIGN_PASSWORD_FILE}
        -DTIMESTAMP_URL=${QUORVEL_SIGN_TIMESTAMP_URL} -DOSSLSIGNCODE=${QUORVEL_OSSLSIGNCODE}
        -DDIRECTORY=${directory} -DREQUIRED=${required} -DPATTERNS=${patterns} -DDISCARD=${discard}
        -P ${PROJECT_SOURCE_DIR}/cmake/sign_files.cmake PARENT_SCOPE)
endfunction()

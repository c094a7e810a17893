# The Windows Installer package of a MinGW-w64 release:
# release/QUORVEL-<version>-<win64|win32>.msi, beside the ZIPs, for
# deployment systems. What it installs is described in QUORVEL.wxs.
#
# Included by the project, quorvel_msi_command(<variable> <package file name>
# <system> <stage bin folder> <release folder>) sets <variable> to the
# command that builds release/<name>.msi from the installed tree staged for
# the release (signed, where the build signs): the same bytes as the ZIP.
# quorvel_add_release_target runs it after the ZIPs.
#
# Run as a script, it builds one MSI:
#   cmake -DSTAGE=<folder with the six files> -DVERSION=1.0.0 -DSYSTEM=win64
#         -DOUTPUT=<file.msi> -DWORK=<scratch folder> [-DSOURCE_DIR=<git tree>]
#         -P QuorvelMsi.cmake
# Its .dll and .exe files must be of VERSION: their FILEVERSION VERSION.0,
# which the File table carries. It needs wixl, msibuild and msiinfo
# (Debian: wixl, msitools) and faketime.
#
# The build is reproducible: the same files, version and QUORVEL.wxs give the
# same bytes. Every time the package holds (the summary's creation and save
# times, the cabinet's file dates) is SOURCE_DATE_EPOCH; unset, the time of
# the last commit of SOURCE_DIR; without git, 1980-01-01 00:00:00 UTC, as
# for the rest of the release (QuorvelHardening.cmake).

# Name-based GUIDs (product, component and package codes) are derived in
# this namespace. Never change it: the components' GUIDs must stay the same
# from version to version.
set(QUORVEL_MSI_GUID_NAMESPACE DE1DF75D-4B99-492D-ABF1-785E696379F0)

# The files the package installs, in QUORVEL.wxs's order, and the
# component of each.
set(QUORVEL_MSI_FILES QUORVEL.dll QUORVELSerialProtocolSelection.exe QUORVELSerialProtocolStatus.exe
    apply-configuration.cmd Configuration.ini LICENSE)
set(QUORVEL_MSI_COMPONENTS Library Selection Status Apply Configuration License)
# Their keys in the File table (QUORVEL.wxs's File Id).
set(QUORVEL_MSI_FILE_KEYS QUORVEL.dll QUORVELSerialProtocolSelection.exe QUORVELSerialProtocolStatus.exe
    apply_configuration.cmd Configuration.ini LICENSE)

function(quorvel_msi_command variable package_file_name system stage_bin_dir release_dir)
    set(${variable}
        ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUORVEL_SOURCE_DATE_EPOCH}
        ${CMAKE_COMMAND} -DSTAGE=${stage_bin_dir} -DVERSION=${PROJECT_VERSION} -DSYSTEM=${system}
        -DOUTPUT=${release_dir}/${package_file_name}.msi -DWORK=${PROJECT_BINARY_DIR}/msi-work
        -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
        PARENT_SCOPE)
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    return()
endif()
cmake_minimum_required(VERSION 3.25)

# quorvel_pe_file_version(<variable> <file>): the FILEVERSION of the version
# resource of a PE file, "a.b.c.d"; "" without one. The resource's fixed part
# (VS_FIXEDFILEINFO) starts with the signature 0xFEEF04BD and a structure
# version, then holds FILEVERSION as two little-endian DWORDs, a.b and c.d,
# each the higher word first.
function(quorvel_pe_file_version variable file)
    file(READ ${file} hex HEX)
    set(version "")
    set(start 0)
    while(TRUE)
        string(SUBSTRING "${hex}" ${start} -1 rest)
        string(FIND "${rest}" "bd04effe" found)
        if(found LESS 0)
            break()
        endif()
        math(EXPR position "${start} + ${found}")
        math(EXPR odd "${position} % 2")
        if(odd EQUAL 0)
            math(EXPR fields_at "${position} + 16")
            string(SUBSTRING "${hex}" ${fields_at} 16 fields)
            set(parts "")
            # Byte offsets of each word's low byte: b, a, d, c.
            foreach(low IN ITEMS 4 0 12 8)
                math(EXPR high "${low} + 2")
                string(SUBSTRING "${fields}" ${low} 2 low_byte)
                string(SUBSTRING "${fields}" ${high} 2 high_byte)
                math(EXPR part "0x${high_byte}${low_byte}")
                list(APPEND parts ${part})
            endforeach()
            list(JOIN parts . version)
            break()
        endif()
        math(EXPR start "${position} + 1")
    endwhile()
    set(${variable} ${version} PARENT_SCOPE)
endfunction()

# --- Script mode: build one MSI. ---

foreach(variable IN ITEMS STAGE VERSION SYSTEM OUTPUT WORK)
    if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
        message(FATAL_ERROR "QuorvelMsi.cmake: -D${variable}=... is required")
    endif()
endforeach()
# wixl's architecture, the summary's platform (as wixl writes it: 32-bit is
# "Intel"), and the attributes wixl gives each component (256: 64-bit).
if(SYSTEM STREQUAL win64)
    set(arch x64)
    set(platform x64)
    set(base_attributes 256)
elseif(SYSTEM STREQUAL win32)
    set(arch x86)
    set(platform Intel)
    set(base_attributes 0)
else()
    message(FATAL_ERROR "QuorvelMsi.cmake: SYSTEM must be win64 or win32, not '${SYSTEM}'")
endif()
# Windows Installer compares product versions by their first three fields,
# each at most 255.255.65535.
if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" OR CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255
   OR CMAKE_MATCH_3 GREATER 65535)
    message(FATAL_ERROR "QuorvelMsi.cmake: VERSION '${VERSION}' is not a Windows Installer product version")
endif()

foreach(tool IN ITEMS wixl msibuild msiinfo faketime)
    find_program(QUORVEL_${tool} ${tool})
    if(NOT QUORVEL_${tool})
        message(FATAL_ERROR "QuorvelMsi.cmake: ${tool} not found (Debian packages: wixl msitools faketime)")
    endif()
endforeach()

# The time every embedded date takes.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
    set(epoch "")
    if(DEFINED SOURCE_DIR)
        execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct
            OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_status)
        if(NOT git_status EQUAL 0)
            set(epoch "")
        endif()
    endif()
    if(epoch STREQUAL "")
        set(epoch 315532800)
    endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "QuorvelMsi.cmake: SOURCE_DATE_EPOCH '${epoch}' is not a number of seconds")
endif()
# string(TIMESTAMP) formats SOURCE_DATE_EPOCH when it is set.
set(ENV{SOURCE_DATE_EPOCH} ${epoch})
string(TIMESTAMP fake_time "%Y-%m-%d %H:%M:%S" UTC)
string(TIMESTAMP touch_time "%Y%m%d%H%M.%S" UTC)

# The files, copied so that their dates can be set: the cabinet records
# each file's modification time.
set(files_dir ${WORK}/${SYSTEM}/files)
file(REMOVE_RECURSE ${WORK}/${SYSTEM})
file(MAKE_DIRECTORY ${files_dir})
set(wxs ${CMAKE_CURRENT_LIST_DIR}/QUORVEL.wxs)
# The package code must differ for any two different databases: it follows
# the files, QUORVEL.wxs, this script (which mends the database) and wixl's
# version.
file(SHA256 ${wxs} wxs_digest)
file(SHA256 ${CMAKE_CURRENT_LIST_FILE} script_digest)
execute_process(COMMAND ${QUORVEL_wixl} --version OUTPUT_VARIABLE wixl_version OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
set(content_digest "${wxs_digest} ${script_digest} wixl ${wixl_version}")
set(defines -D Arch=${SYSTEM} -D Version=${VERSION})
# Windows Installer decides whether to put a file over an existing one by
# their versions: a versioned file (a program or library, whose version
# resource says which FILEVERSION it is) replaces an older version, and is
# kept against an unversioned one. The File table must therefore carry each
# binary's FILEVERSION, which wixl does not read: without it, an upgrade
# costed against the installed, versioned files keeps them, and removing
# the old product afterwards (RemoveExistingProducts) leaves none at all.
# Each binary of the package of version a.b.c is a.b.c.0.
set(versioned_keys "")
set(file_versions "")
foreach(file component key IN ZIP_LISTS QUORVEL_MSI_FILES QUORVEL_MSI_COMPONENTS QUORVEL_MSI_FILE_KEYS)
    if(NOT EXISTS ${STAGE}/${file})
        message(FATAL_ERROR "QuorvelMsi.cmake: ${STAGE} has no ${file}")
    endif()
    if(file MATCHES "\\.(dll|exe)$")
        quorvel_pe_file_version(file_version ${STAGE}/${file})
        if(NOT file_version STREQUAL "${VERSION}.0")
            message(FATAL_ERROR "QuorvelMsi.cmake: ${STAGE}/${file} is version '${file_version}' (its FILEVERSION),"
                " the package ${VERSION}: a package carries the binaries of its own version, ${VERSION}.0")
        endif()
        list(APPEND versioned_keys ${key})
        list(APPEND file_versions ${file_version})
    endif()
    file(COPY_FILE ${STAGE}/${file} ${files_dir}/${file})
    file(SHA256 ${files_dir}/${file} digest)
    string(APPEND content_digest " ${file} ${digest}")
    string(UUID guid NAMESPACE ${QUORVEL_MSI_GUID_NAMESPACE} NAME "component ${SYSTEM} ${file}" TYPE SHA1 UPPER)
    list(APPEND defines -D Guid${component}=${guid})
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC touch -t ${touch_time} ${QUORVEL_MSI_FILES}
    WORKING_DIRECTORY ${files_dir} COMMAND_ERROR_IS_FATAL ANY)

# A new product code for each version (and architecture); the package code
# names these very bytes, so it follows the content.
string(UUID product_code NAMESPACE ${QUORVEL_MSI_GUID_NAMESPACE} NAME "product ${SYSTEM} ${VERSION}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${QUORVEL_MSI_GUID_NAMESPACE}
    NAME "package ${SYSTEM} ${VERSION} ${content_digest}" TYPE SHA1 UPPER)

# wixl and msibuild write the current time into the summary, so both run at
# the fixed time (frozen: -f without '@').
set(at_fixed_time ${CMAKE_COMMAND} -E env TZ=UTC ${QUORVEL_faketime} -f "${fake_time}")
set(msi ${WORK}/${SYSTEM}/QUORVEL.msi)
# wixl finds the files' Source names in its working directory.
execute_process(COMMAND ${at_fixed_time} ${QUORVEL_wixl} -a ${arch} ${defines} -D ProductCode=${product_code}
        -o ${msi} ${wxs}
    WORKING_DIRECTORY ${files_dir} RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS ${msi})
    message(FATAL_ERROR "QuorvelMsi.cmake: wixl failed (${status})")
endif()

# What wixl cannot write, set in the built database with msibuild:
# - Configuration.ini's component never-overwrite (128) and permanent (16):
#   an existing Configuration.ini (the administrator's) is never replaced,
#   and removal never deletes it. Windows Installer would otherwise replace
#   an unversioned file whose modification date is not after its creation
#   date, which is what a copied file has.
# - RemoveFile: apply-configuration.log, removed with the batch file (2: on
#   removal).
# - The binaries' File rows: their version, language 1033 (their version
#   resource's). A versioned file has no MsiFileHash row: that table is for
#   unversioned files, whose hash decides whether to replace them.
# - The summary: wixl writes a random package code; this one follows the
#   content.
execute_process(COMMAND ${QUORVEL_msiinfo} export ${msi} Component OUTPUT_VARIABLE component_table
    COMMAND_ERROR_IS_FATAL ANY)
set(row_pattern "\nConfiguration\t([^\t]*)\t([^\t]*)\t([0-9]+)\t")
if(NOT component_table MATCHES "${row_pattern}" OR NOT CMAKE_MATCH_3 EQUAL base_attributes)
    message(FATAL_ERROR "QuorvelMsi.cmake: no Configuration component with attributes ${base_attributes}:\n"
        "${component_table}")
endif()
math(EXPR attributes "${base_attributes} | 128 | 16")
string(REGEX REPLACE "${row_pattern}" "\nConfiguration\t\\1\t\\2\t${attributes}\t" component_table
    "${component_table}")
file(WRITE ${WORK}/${SYSTEM}/Component.idt "${component_table}")
file(WRITE ${WORK}/${SYSTEM}/RemoveFile.idt
    "FileKey\tComponent_\tFileName\tDirProperty\tInstallMode\r\n"
    "s72\ts72\tL255\ts72\ti2\r\n"
    "RemoveFile\tFileKey\r\n"
    "apply_configuration.log\tApply\tapply-configuration.log\tINSTALLFOLDER\t2\r\n")
set(queries "")
foreach(key file_version IN ZIP_LISTS versioned_keys file_versions)
    list(APPEND queries
        -q "UPDATE `File` SET `Version` = '${file_version}', `Language` = '1033' WHERE `File` = '${key}'"
        -q "DELETE FROM `MsiFileHash` WHERE `File_` = '${key}'")
endforeach()
execute_process(COMMAND ${at_fixed_time} ${QUORVEL_msibuild} ${msi}
        -i ${WORK}/${SYSTEM}/Component.idt -i ${WORK}/${SYSTEM}/RemoveFile.idt ${queries}
        -s "QUORVEL ${VERSION} (${SYSTEM})" QUORVEL "${platform};1033" "{${package_code}}"
    COMMAND_ERROR_IS_FATAL ANY)

# The mended rows are read back: a build whose package would replace or
# remove the administrator's settings must fail.
execute_process(COMMAND ${QUORVEL_msiinfo} export ${msi} Component OUTPUT_VARIABLE component_table
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${QUORVEL_msiinfo} export ${msi} RemoveFile OUTPUT_VARIABLE remove_file_table
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${QUORVEL_msiinfo} suminfo ${msi} OUTPUT_VARIABLE summary COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${QUORVEL_msiinfo} export ${msi} File OUTPUT_VARIABLE file_table COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${QUORVEL_msiinfo} export ${msi} MsiFileHash OUTPUT_VARIABLE hash_table
    COMMAND_ERROR_IS_FATAL ANY)
foreach(key file_version IN ZIP_LISTS versioned_keys file_versions)
    string(REPLACE "." "\\." key_pattern "${key}")
    if(NOT file_table MATCHES "\n${key_pattern}\t[^\t]*\t[^\t]*\t[0-9]+\t([^\t]*)\t([^\t]*)\t"
       OR NOT CMAKE_MATCH_1 STREQUAL file_version OR NOT CMAKE_MATCH_2 STREQUAL "1033")
        message(FATAL_ERROR "QuorvelMsi.cmake: the File row of ${key} does not carry its FILEVERSION"
            " ${file_version} and language 1033:\n${file_table}")
    endif()
    if(hash_table MATCHES "\n${key_pattern}\t")
        message(FATAL_ERROR "QuorvelMsi.cmake: the versioned ${key} has an MsiFileHash row:\n${hash_table}")
    endif()
endforeach()
if(NOT component_table MATCHES "\nConfiguration\t[^\t]*\t[^\t]*\t${attributes}\t"
   OR NOT remove_file_table MATCHES "\napply_configuration.log\tApply\tapply-configuration.log\tINSTALLFOLDER\t2"
   OR NOT summary MATCHES "Template: ${platform};1033"
   OR NOT summary MATCHES "Revision number \\(UUID\\): {${package_code}}")
    message(FATAL_ERROR "QuorvelMsi.cmake: msibuild did not mend ${msi}")
endif()

file(RENAME ${msi} ${OUTPUT})

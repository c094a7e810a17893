# cmake -DDIRECTORY=<release dir> -P write_checksums.cmake
# Writes DIRECTORY/SHA256SUMS, the SHA-256 of every ZIP, MSI and NuGet
# package in it and of SOURCE (the commit it was built from), in the format
# `sha256sum -c SHA256SUMS` checks. It runs after all signing.
cmake_minimum_required(VERSION 3.25)
file(GLOB packages LIST_DIRECTORIES false RELATIVE "${DIRECTORY}" "${DIRECTORY}/*.zip" "${DIRECTORY}/*.msi"
    "${DIRECTORY}/*.nupkg")
if(NOT packages)
    message(FATAL_ERROR "No ZIP, MSI or NuGet package in ${DIRECTORY} to list in SHA256SUMS")
endif()
if(NOT EXISTS "${DIRECTORY}/SOURCE")
    message(FATAL_ERROR "No SOURCE in ${DIRECTORY} to list in SHA256SUMS")
endif()
list(APPEND packages SOURCE)
list(SORT packages)
set(sums "")
foreach(package IN LISTS packages)
    file(SHA256 "${DIRECTORY}/${package}" hash)
    string(APPEND sums "${hash}  ${package}\n")
endforeach()
file(WRITE "${DIRECTORY}/SHA256SUMS.new" "${sums}")
file(RENAME "${DIRECTORY}/SHA256SUMS.new" "${DIRECTORY}/SHA256SUMS")
list(LENGTH packages count)
message(STATUS "${DIRECTORY}/SHA256SUMS: ${count} files")

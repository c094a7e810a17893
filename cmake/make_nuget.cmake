# cmake -DWIN64_RELEASE=<dir> -DWIN32_RELEASE=<dir> -DOUT=<dir> [-DDOTNET=<program>]
#       [-DREPOSITORY=<git URL>]
#       [-DPKCS12=<file> -DPASSWORD_FILE=<file> -DTIMESTAMP_URL=<url> -DOSSLSIGNCODE=<program>
#        [-DTEST_RIG_PACKAGE_NEVER_SHIPPED=ON]]
#       -P make_nuget.cmake
# Makes OUT/QUORVEL.<version>.nupkg, its symbol package
# OUT/QUORVEL.<version>.snupkg (Quorvel.Net.pdb, the sources in it) and
# OUT/SHA256SUMS from the two finished
# releases (build/mingw-x64/release, build/mingw-x86/release): the package
# needs both architectures' QUORVEL.dll, and each comes from a CMake build of
# its own, so the package is made after both, from their ZIPs.
#
# dotnet pack makes the package from Demos/QUORVEL/dotnet/Quorvel.csproj
# (its contents and metadata are there). What pack cannot do is done here:
# taking both QUORVEL.dll out of the release ZIPs (so they are those bytes,
# signed when the releases are), the version's release notes out of
# CHANGELOG.md, Authenticode-signing both Quorvel.Net.dll between build and
# pack, and, with PKCS12, signing the package (dotnet nuget sign, with the
# time stamp of TIMESTAMP_URL, which a signed package must have: without
# one, a consumer that requires signed packages fails its restore with
# NU3027 as an error, and every consumer with NU3037 once the certificate
# has expired). On Linux and macOS NuGet takes time stamps only from the
# authorities of the .NET SDK's own list, so the test rig, whose authority
# is its own, signs without one: TEST_RIG_PACKAGE_NEVER_SHIPPED=ON says that
# the package is the rig's, and the package's title says so (its file name
# cannot: NuGet finds a package only as QUORVEL.<version>.nupkg).
#
# REPOSITORY, the repository's address (for instance
# `git remote get-url origin`), goes into the package's metadata.
#
# The same inputs give the same bytes from any checkout folder: the compiler
# is deterministic with the build folder mapped away (Quorvel.csproj), and
# pack dates every entry SOURCE_DATE_EPOCH, the releases', from their SOURCE.
cmake_minimum_required(VERSION 3.25)
if(DEFINED PACKAGE_WITHOUT_TIMESTAMP)
    message(FATAL_ERROR "make_nuget.cmake: PACKAGE_WITHOUT_TIMESTAMP is gone: a signed package is time-stamped "
        "(TIMESTAMP_URL); only the test rig's, never shipped, goes without (TEST_RIG_PACKAGE_NEVER_SHIPPED=ON)")
endif()
if(TEST_RIG_PACKAGE_NEVER_SHIPPED AND NOT PKCS12)
    message(FATAL_ERROR "make_nuget.cmake: TEST_RIG_PACKAGE_NEVER_SHIPPED is for a signed package (PKCS12)")
endif()
# scripts/compare-release knows this title too.
set(test_rig_title "QUORVEL test-rig package that never ships (signed without a time stamp)")
if(PKCS12 AND NOT TIMESTAMP_URL AND NOT TEST_RIG_PACKAGE_NEVER_SHIPPED)
    message(FATAL_ERROR "make_nuget.cmake: a signed package needs a time stamp (TIMESTAMP_URL): without one a "
        "consumer that requires signed packages fails its restore (NU3027), and every consumer once the certificate "
        "has expired (NU3037). A test package that never ships: -DTEST_RIG_PACKAGE_NEVER_SHIPPED=ON")
endif()
foreach(variable WIN64_RELEASE WIN32_RELEASE OUT)
    if(NOT ${variable})
        message(FATAL_ERROR "make_nuget.cmake: ${variable} not given")
    endif()
    file(REAL_PATH "${${variable}}" ${variable} BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}")
endforeach()
get_filename_component(source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT DOTNET)
    find_program(DOTNET dotnet)
endif()
if(NOT DOTNET)
    message(FATAL_ERROR "The NuGet package needs the .NET SDK (dotnet) to build Quorvel.Net.dll")
endif()

# The version is the releases': each holds exactly one QUORVEL-<version>-<system>.zip.
foreach(system IN ITEMS win64 win32)
    string(TOUPPER ${system} upper)
    file(GLOB zip "${${upper}_RELEASE}/QUORVEL-*-${system}.zip")
    list(LENGTH zip count)
    if(NOT count EQUAL 1 OR NOT EXISTS "${${upper}_RELEASE}/SHA256SUMS")
        message(FATAL_ERROR "No complete ${system} release in ${${upper}_RELEASE} (build its quorvel_release target)")
    endif()
    string(REGEX REPLACE ".*/QUORVEL-(.*)-${system}\\.zip$" "\\1" version_${system} "${zip}")
    set(zip_${system} "${zip}")
endforeach()
if(NOT version_win64 STREQUAL version_win32)
    message(FATAL_ERROR "The releases differ in version: ${version_win64} (win64), ${version_win32} (win32)")
endif()
set(version ${version_win64})

# Both releases come from one commit at one time, which their SOURCE names;
# the package is of that commit too, and its folder says so in a copy.
file(READ "${WIN64_RELEASE}/SOURCE" source_win64)
file(READ "${WIN32_RELEASE}/SOURCE" source_win32)
if(NOT source_win64 STREQUAL source_win32)
    message(FATAL_ERROR "The releases are of different sources:\n${source_win64}(win64)\n${source_win32}(win32)")
endif()
if(NOT source_win64 MATCHES "\nSOURCE_DATE_EPOCH ([0-9]+)\n")
    message(FATAL_ERROR "${WIN64_RELEASE}/SOURCE names no SOURCE_DATE_EPOCH")
endif()
set(epoch ${CMAKE_MATCH_1})

# Everything is made in OUT/work and moved into place at the end: a failure
# leaves no package behind.
set(work "${OUT}/work")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${work}")
macro(fail)
    file(REMOVE_RECURSE "${OUT}")
    message(FATAL_ERROR ${ARGV})
endmacro()

# The version's entry of CHANGELOG.md: the lines under "## <version>" up to
# the next heading, which the package carries as its release notes.
file(STRINGS "${source_dir}/CHANGELOG.md" changelog_lines)
set(release_notes "")
set(in_entry FALSE)
foreach(line IN LISTS changelog_lines)
    if(line MATCHES "^## ")
        if(in_entry)
            break()
        endif()
        if(line STREQUAL "## ${version}")
            set(in_entry TRUE)
            continue()
        endif()
    endif()
    if(in_entry)
        string(APPEND release_notes "${line}\n")
    endif()
endforeach()
string(STRIP "${release_notes}" release_notes)
if(release_notes STREQUAL "")
    fail("CHANGELOG.md has no entry \"## ${version}\": write it before making the package")
endif()
file(WRITE "${work}/release-notes.txt" "${release_notes}\n")

foreach(pair IN ITEMS win64:win-x64 win32:win-x86)
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 system)
    list(GET pair 1 rid)
    file(MAKE_DIRECTORY "${work}/${system}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${zip_${system}}" bin/QUORVEL.dll
        WORKING_DIRECTORY "${work}/${system}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT EXISTS "${work}/${system}/bin/QUORVEL.dll")
        fail("No bin/QUORVEL.dll in ${zip_${system}}")
    endif()
    file(COPY "${work}/${system}/bin/QUORVEL.dll" DESTINATION "${work}/native/${rid}")
endforeach()

# Built from a copy of its sources, so that the checkout stays clean (obj/,
# bin/) and the build's folder is the same kind of path anywhere.
file(COPY "${source_dir}/Demos/QUORVEL/dotnet/" DESTINATION "${work}/Quorvel")
# The commit is SOURCE's, not asked of git: a copy of the checkout without
# git makes the same package.
set(repository_options -p:EnableSourceControlManagerQueries=false)
if(source_win64 MATCHES "\ncommit ([0-9a-f]+)\n")
    list(APPEND repository_options -p:RepositoryCommit=${CMAKE_MATCH_1})
endif()
if(REPOSITORY)
    list(APPEND repository_options -p:RepositoryUrl=${REPOSITORY} -p:RepositoryType=git)
endif()
# No build servers left running after the build (-nodeReuse, UseSharedCompilation),
# and no Directory.Build.props or .targets of a folder above the build's taken in.
set(msbuild_options -c Release -nologo -nodeReuse:false -p:UseSharedCompilation=false
    -p:ImportDirectoryBuildProps=false -p:ImportDirectoryBuildTargets=false -p:Version=${version}
    -p:QuorvelNativeDir=${work}/native -p:QuorvelReleaseNotesFile=${work}/release-notes.txt ${repository_options})
execute_process(COMMAND "${DOTNET}" build "${work}/Quorvel/Quorvel.csproj" ${msbuild_options}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    fail("Building Quorvel.Net.dll failed:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -DPKCS12=${PKCS12} -DPASSWORD_FILE=${PASSWORD_FILE}
        -DTIMESTAMP_URL=${TIMESTAMP_URL} -DOSSLSIGNCODE=${OSSLSIGNCODE} -DDIRECTORY=${work}/Quorvel/bin/Release
        -DREQUIRED=REQUIRED -DPATTERNS=Quorvel.Net.dll -DDISCARD=${OUT} -P ${source_dir}/cmake/sign_files.cmake
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    fail("Signing Quorvel.Net.dll failed")
endif()
# Pack takes the files just built and signed (--no-build) and dates every
# entry SOURCE_DATE_EPOCH; its checks' warnings are errors (Quorvel.csproj).
# The test rig's package, never shipped, says so in its title.
set(pack_options "")
if(TEST_RIG_PACKAGE_NEVER_SHIPPED)
    set(pack_options "-p:Title=${test_rig_title}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch}
        "${DOTNET}" pack "${work}/Quorvel/Quorvel.csproj" --no-build -o "${work}/out" ${msbuild_options} ${pack_options}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
set(nupkg "${work}/out/QUORVEL.${version}.nupkg")
set(snupkg "${work}/out/QUORVEL.${version}.snupkg")
if(NOT status EQUAL 0 OR NOT EXISTS "${nupkg}" OR NOT EXISTS "${snupkg}")
    fail("Packing ${nupkg} failed:\n${output}")
endif()

# The package's own signature, with the release's certificate, time-stamped:
# what dotnet nuget verify --all and NuGet's signature checks look for.
if(PKCS12)
    set(password "")
    if(PASSWORD_FILE)
        file(STRINGS "${PASSWORD_FILE}" password LIMIT_COUNT 1)
    endif()
    set(timestamp_options "")
    if(NOT TEST_RIG_PACKAGE_NEVER_SHIPPED)
        set(timestamp_options --timestamper "${TIMESTAMP_URL}")
    endif()
    execute_process(COMMAND "${DOTNET}" nuget sign "${nupkg}" --certificate-path "${PKCS12}"
            --certificate-password "${password}" ${timestamp_options} --overwrite
        RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        fail("Signing ${nupkg} failed:\n${output}")
    endif()
endif()

# NuGet writes a signed package readable by its owner only: a package is
# for everyone to read, whoever copies it on.
foreach(file IN ITEMS "${nupkg}" "${snupkg}")
    file(CHMOD "${file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
file(RENAME "${nupkg}" "${OUT}/QUORVEL.${version}.nupkg")
file(RENAME "${snupkg}" "${OUT}/QUORVEL.${version}.snupkg")
file(COPY "${WIN64_RELEASE}/SOURCE" DESTINATION "${OUT}")
file(REMOVE_RECURSE "${work}")
execute_process(COMMAND ${CMAKE_COMMAND} -DDIRECTORY=${OUT} -P ${source_dir}/cmake/write_checksums.cmake
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    fail("Writing ${OUT}/SHA256SUMS failed")
endif()

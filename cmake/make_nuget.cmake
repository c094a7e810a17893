# cmake -DWIN64_RELEASE=<dir> -DWIN32_RELEASE=<dir> -DOUT=<dir> [-DDOTNET=<program>]
#       [-DLICENSE=<SPDX expression>] [-DREPOSITORY=<git URL>]
#       [-DPKCS12=<file> -DPASSWORD_FILE=<file> -DTIMESTAMP_URL=<url> -DOSSLSIGNCODE=<program>]
#       -P make_nuget.cmake
# Makes OUT/QUORVEL.<version>.nupkg and OUT/SHA256SUMS from the two finished
# releases (build/mingw-x64/release, build/mingw-x86/release): the package
# needs both architectures' QUORVEL.dll, and each comes from a CMake build of
# its own, so the package is made after both, from their ZIPs.
#
# The package holds runtimes/win-x64|win-x86/native/QUORVEL.dll, taken out of
# the release ZIPs (so they are those bytes, signed when the releases are),
# lib/netstandard2.0/Quorvel.Net.dll (Demos/QUORVEL/dotnet, built here and
# signed with PKCS12 when given), the .nuspec and the package's README.
#
# The same inputs give the same bytes from any checkout folder: the compiler
# is deterministic with the build folder mapped away (Quorvel.csproj), the
# .nuspec and the package's part files are written here with fixed content
# and names (dotnet pack would name the core-properties part at random and
# stamp the time), and the ZIP is packed by pack_zip.cmake with every entry
# the releases' SOURCE_DATE_EPOCH, from their SOURCE.
cmake_minimum_required(VERSION 3.25)
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
find_program(STRIP_NONDETERMINISM strip-nondeterminism)

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
set(package "${work}/package")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${package}")
macro(fail)
    file(REMOVE_RECURSE "${OUT}")
    message(FATAL_ERROR ${ARGV})
endmacro()

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
    file(COPY "${work}/${system}/bin/QUORVEL.dll" DESTINATION "${package}/runtimes/${rid}/native")
endforeach()

# Quorvel.Net.dll, built from a copy of its sources, so that the checkout stays
# clean (obj/, bin/) and the build's folder is the same kind of path anywhere.
file(COPY "${source_dir}/Demos/QUORVEL/dotnet/" DESTINATION "${work}/Quorvel"
    FILES_MATCHING PATTERN "*.cs" PATTERN "*.csproj")
# No build servers left running after the build (-nodeReuse, UseSharedCompilation),
# and no Directory.Build.props or .targets of a folder above the build's taken in.
execute_process(COMMAND "${DOTNET}" build "${work}/Quorvel/Quorvel.csproj" -c Release -nologo
        -p:Version=${version} -o "${work}/lib" -nodeReuse:false -p:UseSharedCompilation=false
        -p:ImportDirectoryBuildProps=false -p:ImportDirectoryBuildTargets=false
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    fail("Building Quorvel.Net.dll failed:\n${output}")
endif()
file(COPY "${work}/lib/Quorvel.Net.dll" "${work}/lib/Quorvel.Net.xml" DESTINATION "${package}/lib/netstandard2.0")
execute_process(COMMAND ${CMAKE_COMMAND} -DPKCS12=${PKCS12} -DPASSWORD_FILE=${PASSWORD_FILE}
        -DTIMESTAMP_URL=${TIMESTAMP_URL} -DOSSLSIGNCODE=${OSSLSIGNCODE} -DDIRECTORY=${package}/lib
        -DREQUIRED=REQUIRED -DPATTERNS=Quorvel.Net.dll -DDISCARD=${OUT} -P ${source_dir}/cmake/sign_files.cmake
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    fail("Signing Quorvel.Net.dll failed")
endif()

# The .nuspec and the Open Packaging Conventions parts that dotnet pack
# writes, with fixed names and no time in them.
set(VERSION ${version})
if(NOT LICENSE)
    set(LICENSE "LicenseRef-QUORVEL")
endif()
set(REPOSITORY_ELEMENT "")
if(REPOSITORY)
    set(REPOSITORY_ELEMENT "\n    <repository type=\"git\" url=\"${REPOSITORY}\" />")
endif()
configure_file("${source_dir}/Demos/QUORVEL/dotnet/QUORVEL.nuspec.in" "${package}/QUORVEL.nuspec" @ONLY)
file(COPY "${source_dir}/Demos/QUORVEL/dotnet/README.md" DESTINATION "${package}")
string(MD5 properties_name "QUORVEL ${version}")
file(WRITE "${package}/package/services/metadata/core-properties/${properties_name}.psmdcp"
"<?xml version=\"1.0\" encoding=\"utf-8\"?>
<coreProperties xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" \
xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" \
xmlns=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\">
  <dc:creator>QUORVEL developers</dc:creator>
  <dc:description>Register access to the four-port serial board from .NET</dc:description>
  <dc:identifier>QUORVEL</dc:identifier>
  <version>${version}</version>
  <keywords>serial board register native windows</keywords>
  <lastModifiedBy>cmake/make_nuget.cmake</lastModifiedBy>
</coreProperties>
")
file(WRITE "${package}/_rels/.rels"
"<?xml version=\"1.0\" encoding=\"utf-8\"?>
<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">
  <Relationship Type=\"http://schemas.microsoft.com/packaging/2010/07/manifest\" Target=\"/QUORVEL.nuspec\" Id=\"R0\" />
  <Relationship Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties\" \
Target=\"/package/services/metadata/core-properties/${properties_name}.psmdcp\" Id=\"R1\" />
</Relationships>
")
file(WRITE "${package}/[Content_Types].xml"
"<?xml version=\"1.0\" encoding=\"utf-8\"?>
<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">
  <Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\" />
  <Default Extension=\"nuspec\" ContentType=\"application/octet\" />
  <Default Extension=\"dll\" ContentType=\"application/octet\" />
  <Default Extension=\"xml\" ContentType=\"application/octet\" />
  <Default Extension=\"md\" ContentType=\"application/octet\" />
  <Default Extension=\"psmdcp\" ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\" />
</Types>
")

set(nupkg "${work}/QUORVEL.${version}.nupkg")
execute_process(COMMAND ${CMAKE_COMMAND} -DFROM=${package} -DZIP=${nupkg} -DSOURCE_DATE_EPOCH=${epoch}
        -DSTRIP_NONDETERMINISM=${STRIP_NONDETERMINISM} -P ${source_dir}/cmake/pack_zip.cmake
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    fail("Packing ${nupkg} failed")
endif()
file(RENAME "${nupkg}" "${OUT}/QUORVEL.${version}.nupkg")
file(COPY "${WIN64_RELEASE}/SOURCE" DESTINATION "${OUT}")
file(REMOVE_RECURSE "${work}")
execute_process(COMMAND ${CMAKE_COMMAND} -DDIRECTORY=${OUT} -P ${source_dir}/cmake/write_checksums.cmake
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    fail("Writing ${OUT}/SHA256SUMS failed")
endif()

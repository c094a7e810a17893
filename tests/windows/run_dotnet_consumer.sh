#!/usr/bin/env bash
# Makes a .NET console program as a user makes one, from the NuGet package of
# the release (dotnet new console, dotnet add package QUORVEL, dotnet publish
# self-contained for Windows), and runs it under Wine against the simulated
# board driver: the package's QuorvelBoard and the README's bare DllImport
# declarations. Prints a line per check and closes with "N passed, N failed".
#   run_dotnet_consumer.sh WINE_BOARD PREFIX NUGET_RELEASE RELEASE_DIR win64|win32 CACHE
# NUGET_RELEASE holds QUORVEL.<version>.nupkg; RELEASE_DIR the unpacked
# release ZIP whose bin/QUORVEL.dll the program must get. PREFIX "-": publish
# and check the program, run none (for a machine that cannot run it) and exit
# with 77, skipped, when the checks passed. CACHE keeps NuGet's downloads (the
# runtime packs) between runs.
set -uo pipefail
board=$1 prefix=$2 nuget=$(cd "$3" && pwd) release=$4 system=$5 cache=$6
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "$system" = win64 ]; then
    rid=win-x64
else
    rid=win-x86
fi

source "$here/../wine/check.sh"

# Everything dotnet keeps goes below CACHE, which a clean machine makes on
# the first run. NuGet takes a package of a version it has seen from its
# cache: the QUORVEL package is dropped from there, so this release's is used.
export DOTNET_CLI_HOME=$cache/home NUGET_PACKAGES=$cache/packages
export DOTNET_NOLOGO=1 DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
export MSBUILDDISABLENODEREUSE=1 UseSharedCompilation=false
rm -rf "$NUGET_PACKAGES/quorvel"

# The project: the release folder is a package source next to nuget.org,
# which serves the runtime packs of the self-contained publish.
project=$work/consumer
publish=$work/publish
status=0
{
    dotnet new console -o "$project" &&
        cp "$here/dotnet_consumer/Program.cs" "$here/dotnet_consumer/Declarations.cs" "$project/" &&
        printf '<configuration><packageSources><add key="release" value="%s" /></packageSources></configuration>\n' \
            "$nuget" >"$project/nuget.config" &&
        dotnet add "$project" package QUORVEL --source "$nuget" &&
        dotnet publish "$project" -c Release -r $rid --self-contained -o "$publish"
} >"$work/publish.log" 2>&1 || status=$?
check "$rid: dotnet new, add package QUORVEL, publish --self-contained" "$status" 0
[ "$status" -eq 0 ] || { tail -n 30 "$work/publish.log"; echo "$passed passed, $failed failed"; exit 1; }

# The package brought the DLL of the process's kind: the release's own bytes.
difference=$(cmp "$release/bin/QUORVEL.dll" "$publish/QUORVEL.dll" 2>&1)
check "$rid: QUORVEL.dll next to the program is the $system release's" "$difference" ""
# Windows' file names ignore case: no two files of the folder may differ only in it.
clashes=$(cd "$publish" && ls | sort -f | uniq -di)
check "$rid: no two published files whose names differ only in case" "$clashes" ""
# The package's declarations (for .NET Framework) are the README's, which
# the program compiles: Declarations.cs is the guide's block, whole.
declarations() { grep -A2 -F '[DllImport("QUORVEL.dll"' "$1" | grep -v '^--$' | sed 's/^ *//'; }
check "the package's DllImport declarations are the README's" \
    "$(declarations "$here/../../Demos/QUORVEL/dotnet/QuorvelBoard.DllImport.cs")" \
    "$(declarations "$here/dotnet_consumer/Declarations.cs")"
guide_block=$(awk '/^\*\*Without the package\*\*/ { found = 1 } found && /^```csharp$/ { inside = 1; next }
    inside && /^```$/ { exit } inside' "$here/../../docs/USING-THE-LIBRARY.md")
check "docs/USING-THE-LIBRARY.md's C# declarations are Declarations.cs" "$guide_block" \
    "$(cat "$here/dotnet_consumer/Declarations.cs")"
# The managed assembly is signed when the release's DLLs are.
if command -v osslsigncode >/dev/null; then
    signed() { osslsigncode extract-signature -in "$1" -out "$work/signature" >/dev/null 2>&1 && echo signed || echo unsigned; rm -f "$work/signature"; }
    check "$rid: Quorvel.Net.dll signed as QUORVEL.dll is" "$(signed "$publish/Quorvel.Net.dll")" "$(signed "$publish/QUORVEL.dll")"
fi

# A signed package (the signed release's): dotnet nuget verify --all accepts
# it, and refuses it with one byte changed. NuGet on Linux trusts only the
# roots of the .NET SDK's list, so the certificate that signed it is named
# as a trusted signer (scripts/compare-release checks it is the publisher's).
nupkg=$(ls "$nuget"/QUORVEL.*.nupkg)
if [ "$system" = win64 ] && unzip -Z1 "$nupkg" | grep -qx '.signature.p7s'; then
    unzip -p "$nupkg" .signature.p7s >"$work/signature.p7s"
    openssl cms -verify -noverify -inform DER -in "$work/signature.p7s" -certsout "$work/signer.pem" -out /dev/null \
        2>/dev/null
    fingerprint=$(openssl x509 -in "$work/signer.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g')
    printf '<configuration><trustedSigners><author name="release"><certificate fingerprint="%s" hashAlgorithm="SHA256" allowUntrustedRoot="true" /></author></trustedSigners></configuration>\n' \
        "$fingerprint" >"$work/trust.config"
    status=0
    dotnet nuget verify --all "$nupkg" --configfile "$work/trust.config" >"$work/verify.log" 2>&1 || status=$?
    check "signed package: dotnet nuget verify --all accepts it" "$status" 0
    cp "$nupkg" "$work/changed.nupkg"
    size=$(stat -c %s "$nupkg")
    printf '\xff' | dd of="$work/changed.nupkg" bs=1 seek=$((size / 2)) conv=notrunc status=none
    status=0
    dotnet nuget verify --all "$work/changed.nupkg" --configfile "$work/trust.config" >"$work/verify.log" 2>&1 || status=$?
    check "signed package, one byte changed: refused, its integrity check failing" \
        "$status $(grep -o 'NU3008' "$work/verify.log" | head -n 1)" "1 NU3008"    # The rig signs its package without a time stamp (its authority is not
    # one NuGet trusts): such a package says it never ships.
    check "signed package without a time stamp: its title says it is the test rig's" \
        "$(unzip -p "$nupkg" QUORVEL.nuspec | sed -n 's|.*<title>\(.*\)</title>.*|\1|p')" \
        "QUORVEL test-rig package that never ships (signed without a time stamp)"
fi
# The symbol package beside it: for each Quorvel.Net.dll of the package, the
# portable PDB its debug directory names (the GUID after "RSDS"), with the
# sources embedded (the embedded-source record's GUID, 0e8a571b-...).
symbols=$nuget/$(basename "$nupkg" .nupkg).snupkg
if [ "$system" = win64 ]; then
    check "the symbol package: a PDB of each Quorvel.Net.dll, sources embedded" "$(python3 - "$nupkg" "$symbols" <<'PYTHON'
import sys, uuid, zipfile
package, symbols = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2])
embedded_source = uuid.UUID("0e8a571b-6926-466e-b4ad-8ab04611f5fe").bytes_le
for name in sorted(n for n in package.namelist() if n.endswith("Quorvel.Net.dll")):
    dll = package.read(name)
    guid = dll[dll.index(b"RSDS") + 4:][:16]
    pdb = symbols.read(name[:-4] + ".pdb") if name[:-4] + ".pdb" in symbols.namelist() else b""
    print(name, "PDB matches" if guid in pdb else "no matching PDB",
          "sources embedded" if embedded_source in pdb else "no sources")
PYTHON
)" "lib/net462/Quorvel.Net.dll PDB matches sources embedded
lib/net8.0/Quorvel.Net.dll PDB matches sources embedded
lib/netstandard2.0/Quorvel.Net.dll PDB matches sources embedded"
fi
# Every file of the package folder is for everyone to read.
check "the package folder's files are world-readable" "$(find "$nuget" -type f ! -perm -0004)" ""

# The package's other consumers, once, in the win64 run (they are the same
# for both releases): .NET Framework projects, runtimes it has no DLL for, a
# trimmed publish.
if [ "$system" = win64 ]; then
    package=$work/package
    mkdir "$package" && (cd "$package" && cmake -E tar xf "$nuget"/QUORVEL.*.nupkg)
    # Which of the package's DLLs each QUORVEL.dll below FOLDER is: "path rid ...".
    native_dlls() {
        (cd "$1" && find . -iname QUORVEL.dll | sed 's|^\./||' | sort) | while read -r dll; do
            for kind in win-x64 win-x86; do
                cmp -s "$1/$dll" "$package/runtimes/$kind/native/QUORVEL.dll" && printf '%s %s ' "$dll" "$kind"
            done
        done
    }
    net48=$work/net48
    mkdir "$net48"
    cp "$here/dotnet_consumer/net48/Program.cs" "$net48/"
    cp "$project/nuget.config" "$net48/"
    # Any key signs the consumer; the package's own is at hand.
    cp "$here/../../Demos/QUORVEL/dotnet/Quorvel.snk" "$net48/consumer.snk"
    version=$(basename "$nuget"/QUORVEL.*.nupkg .nupkg) && version=${version#QUORVEL.}
    sed "s/@VERSION@/$version/" "$here/dotnet_consumer/net48/net48.csproj" >"$net48/net48.csproj"
    # platform|the DLLs in the output (AnyCPU: both, each in its folder)
    for row in "AnyCPU|x64/QUORVEL.dll win-x64 x86/QUORVEL.dll win-x86 " "x86|QUORVEL.dll win-x86 " \
        "x64|QUORVEL.dll win-x64 "; do
        IFS='|' read -r platform want <<<"$row"
        status=0
        dotnet build "$net48" -c Release -p:PlatformTarget="$platform" -o "$work/net48-$platform" \
            >"$work/net48.log" 2>&1 || status=$?
        [ "$status" -eq 0 ] || tail -n 20 "$work/net48.log"
        check "net48 SDK-style $platform, strong-named: builds" "$status" 0
        check "net48 SDK-style $platform: QUORVEL.dll in the output" "$(native_dlls "$work/net48-$platform")" "$want"
    done
    # packages.config: NuGet unpacks the package into packages/ and the
    # project imports its build/ targets after the common ones; AnyCPU.
    legacy=$work/packages-config
    mkdir -p "$legacy/packages" && cp -a "$package" "$legacy/packages/QUORVEL.$version"
    cp "$here/dotnet_consumer/net48/Program.cs" "$legacy/"
    sed "s/@VERSION@/$version/" "$here/dotnet_consumer/net48/packages-config.csproj" >"$legacy/packages-config.csproj"
    status=0
    dotnet build "$legacy/packages-config.csproj" -c Release -o "$work/legacy-out" >"$work/legacy.log" 2>&1 || status=$?
    [ "$status" -eq 0 ] || tail -n 20 "$work/legacy.log"
    check "packages.config layout, AnyCPU: builds" "$status" 0
    check "packages.config layout, AnyCPU: QUORVEL.dll in the output" "$(native_dlls "$work/legacy-out")" \
        "x64/QUORVEL.dll win-x64 x86/QUORVEL.dll win-x86 "
    # ClickOnce's file list of a .NET Framework program (the loose files its
    # application manifest names): both DLLs, as the targets make them
    # Content. Read through its own target, as generating the manifest is
    # Windows-only.
    clickonce_files() {
        dotnet msbuild "$1" -nologo -p:Configuration=Release -p:OutputType=WinExe -p:GenerateClickOnceManifests=true \
            -p:CustomAfterMicrosoftCommonTargets="$here/dotnet_consumer/net48/clickonce-files.targets" \
            -t:QuorvelTestClickOnceFiles 2>&1 | sed -n 's/^ *clickonce: //p' | tr '\\' / | sort -u | tr '\n' ' '
    }
    check "ClickOnce's file list, net48 SDK-style WinExe, AnyCPU" "$(clickonce_files "$net48/net48.csproj")" \
        "x64/QUORVEL.dll x86/QUORVEL.dll "
    check "ClickOnce's file list, packages.config WinExe, AnyCPU" \
        "$(clickonce_files "$legacy/packages-config.csproj")" "x64/QUORVEL.dll x86/QUORVEL.dll "

    # Going back a release: from a 1.0.1 whose x64 QUORVEL.dll differs by a
    # byte, of the same size and date, to this one. The output must hold
    # this release's DLL again.
    rollback=$work/rollback
    newer=$(awk -F. '{ printf "%s.%s.%d", $1, $2, $3 + 1 }' <<<"$version")
    mkdir -p "$rollback/feed" "$rollback/app"
    cp "$nupkg" "$rollback/feed/QUORVEL.$version.nupkg"
    python3 - "$nupkg" "$rollback/feed/QUORVEL.$newer.nupkg" "$version" "$newer" <<'PYTHON'
import sys, zipfile
source, target, version, newer = sys.argv[1:]
with zipfile.ZipFile(source) as old, zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as new:
    for entry in old.infolist():
        data = old.read(entry)
        if entry.filename == ".signature.p7s":
            continue
        if entry.filename.endswith((".nuspec", ".psmdcp")):
            data = data.replace(b"<version>%s</version>" % version.encode(), b"<version>%s</version>" % newer.encode())
        if entry.filename == "runtimes/win-x64/native/QUORVEL.dll":
            data = data[:-1] + bytes([data[-1] ^ 0xFF])
        new.writestr(entry, data)  # the entry's date kept
PYTHON
    cp "$net48/Program.cs" "$net48/consumer.snk" "$rollback/app/"
    printf '<configuration><packageSources><clear /><add key="feed" value="%s" /><add key="nuget.org" value="https://api.nuget.org/v3/index.json" /></packageSources></configuration>\n' \
        "$rollback/feed" >"$rollback/app/nuget.config"
    for step in "$newer" "$version"; do
        sed "s/@VERSION@/$step/" "$here/dotnet_consumer/net48/net48.csproj" >"$rollback/app/net48.csproj"
        status=0
        dotnet build "$rollback/app" -c Release -o "$rollback/out" >"$work/rollback.log" 2>&1 || status=$?
        [ "$status" -eq 0 ] || tail -n 20 "$work/rollback.log"
        unzip -p "$rollback/feed/QUORVEL.$step.nupkg" runtimes/win-x64/native/QUORVEL.dll >"$rollback/QUORVEL-$step.dll"
        check "net48 AnyCPU, package $step after $([ "$step" = "$version" ] && echo "$newer" || echo nothing): builds" \
            "$status" 0
        check "net48 AnyCPU, package $step: x64/QUORVEL.dll in the output is $step's" \
            "$(cmp "$rollback/QUORVEL-$step.dll" "$rollback/out/x64/QUORVEL.dll" 2>&1)" ""
    done
    # .NET Framework here is Mono, on Linux: the first call says where
    # QUORVEL runs. (A real .NET Framework on Windows is not here.)
    if command -v mono >/dev/null && [ -f /usr/lib/mono/4.5/Facades/netstandard.dll ]; then
        out=$(mono "$work/net48-AnyCPU/net48.exe" 2>&1)
        check "net48 AnyCPU under Mono on Linux: exit status" "$?" 3
        check "net48 AnyCPU under Mono on Linux: PlatformNotSupportedException" "$out" \
            "64-bit
PlatformNotSupportedException: QUORVEL.dll runs on Windows only, in win-x64 and win-x86 processes"
        # Where Quorvel.Net.dll looks for QUORVEL.dll in the hosts of .NET
        # Framework programs (the search itself, as Linux loads no DLL):
        # "mono_row what ARGUMENTS... -- expected"; the work folder reads
        # "@" and Mono's shadow-copy folder "…".
        mono_row() {
            local what=$1 arguments=() out
            shift
            while [ "$1" != -- ]; do arguments+=("$1") && shift; done
            out=$(mono "${arguments[@]}" 2>&1 | sed -E "s|$work|@|g; s|/assembly/shadow/[0-9a-f]+/[0-9a-f_]+|/…|g")
            check "under Mono, $what" "$out" "$2"
        }
        hosts=$work/hosts
        mkdir -p "$hosts/site/bin" "$hosts/host" "$hosts/plug-in"
        cp -a "$work/net48-AnyCPU/." "$hosts/site/bin/"
        mono_row "an ordinary program: x64\\ beside it" "$work/net48-AnyCPU/net48.exe" ordinary -- \
            "found @/net48-AnyCPU/x64/QUORVEL.dll
run from @/net48-AnyCPU/Quorvel.Net.dll"
        # As ASP.NET sets up a site's AppDomain: base the site's root, the
        # program in its bin, run from shadow copies.
        mono_row "a site's AppDomain (private bin path, shadow copy): bin\\x64, not the copy's folder" \
            "$work/net48-AnyCPU/net48.exe" site "$hosts/site" -- "found @/hosts/site/bin/x64/QUORVEL.dll
run from @/hosts/shadow-copies/site/…/Quorvel.Net.dll"
        rm -rf "$hosts/site/bin/x64" "$hosts/site/bin/x86" "$hosts/shadow-copies"
        mono_row "a site's AppDomain without QUORVEL.dll: every folder named" \
            "$work/net48-AnyCPU/net48.exe" site "$hosts/site" -- "QUORVEL.dll (x64) was found in none of these folders: @/hosts/site/bin/x64; @/hosts/site/bin; @/hosts/shadow-copies/site/…/x64; @/hosts/shadow-copies/site/…; @/hosts/site/x64; @/hosts/site; nor in the system folder
run from @/hosts/shadow-copies/site/…/Quorvel.Net.dll"
        # A host with none of the plug-in's assemblies loads it from its folder.
        cp "$work/net48-AnyCPU/net48.exe" "$hosts/host/"
        cp -a "$work/net48-AnyCPU/Quorvel.Net.dll" "$work/net48-AnyCPU/x64" "$work/net48-AnyCPU/x86" "$hosts/plug-in/"
        mono_row "a plug-in loaded with LoadFrom: its own x64\\, not the host's folder" \
            "$hosts/host/net48.exe" plugin "$hosts/plug-in/Quorvel.Net.dll" -- "found @/hosts/plug-in/x64/QUORVEL.dll
run from @/hosts/plug-in/Quorvel.Net.dll"
        mono_row "QuorvelException thrown in another AppDomain: arrives whole" \
            "$work/net48-AnyCPU/net48.exe" serialized -- "QuorvelException QUORVEL_READ register 0x10 error 1117 library \"Error in Reading...!\" HResult 0x8007045D message \"QUORVEL_READ of register 0x10 failed\""
        # The strong name's version is the major version's; the file's and
        # the informational version are the release's. Built here at another
        # version, from a copy of the sources.
        cp -a "$here/../../Demos/QUORVEL/dotnet" "$work/quorvel-source"
        status=0
        dotnet build "$work/quorvel-source/Quorvel.csproj" -c Release -f netstandard2.0 -p:Version=2.3.4-rc.1 \
            -o "$work/versioned" >"$work/versioned.log" 2>&1 || status=$?
        [ "$status" -eq 0 ] || tail -n 20 "$work/versioned.log"
        mono_row "the versions of Quorvel.Net.dll 2.3.4-rc.1" \
            "$work/net48-AnyCPU/net48.exe" versions "$work/versioned/Quorvel.Net.dll" -- "AssemblyVersion 2.0.0.0
FileVersion 2.3.4
InformationalVersion 2.3.4-rc.1"
    else
        echo "skip net48 under Mono: no mono with its facades (Debian: mono-runtime mono-devel)"
    fi

    # Runtimes without a QUORVEL.dll fail the build, naming the two there
    # are; no runtime at all builds (here, on Linux).
    other=$work/other-runtimes
    cp -a "$project" "$other" && rm -rf "$other/bin" "$other/obj"
    for other_rid in win-arm64 linux-x64; do
        status=0
        out=$(dotnet build "$other" -c Release -r $other_rid -p:UseAppHost=false 2>&1) || status=$?
        check "-r $other_rid: the build fails" "$status" 1
        check "-r $other_rid: with the package's message" \
            "$(grep -o "error QUORVEL001: [^[]*" <<<"$out" | sort -u)" \
            "error QUORVEL001: The QUORVEL package has QUORVEL.dll for win-x64 and win-x86 only, not for the runtime identifier '$other_rid': build for win-x64 or win-x86, or, for a program that calls QuorvelBoard only on Windows, set QuorvelAllowOtherRuntimes to true. "
    done
    # A library that takes the package is built for any runtime; a Linux
    # program that uses it, and never calls the board, builds once it says so.
    library=$work/library
    mkdir -p "$library/lib" "$library/app"
    cp "$project/nuget.config" "$library/"
    framework=$(sed -n 's|.*<TargetFramework>\(.*\)</TargetFramework>.*|\1|p' "$project/consumer.csproj")
    printf '<Project Sdk="Microsoft.NET.Sdk"><PropertyGroup><TargetFramework>%s</TargetFramework></PropertyGroup><ItemGroup><PackageReference Include="QUORVEL" Version="%s" /></ItemGroup></Project>\n' \
        "$framework" "$version" >"$library/lib/lib.csproj"
    printf 'public static class Board { public static byte Read() => new Quorvel.QuorvelBoard().ReadRegister(0x13); }\n' \
        >"$library/lib/Board.cs"
    printf '<Project Sdk="Microsoft.NET.Sdk"><PropertyGroup><OutputType>Exe</OutputType><TargetFramework>%s</TargetFramework></PropertyGroup><ItemGroup><ProjectReference Include="../lib/lib.csproj" /></ItemGroup></Project>\n' \
        "$framework" >"$library/app/app.csproj"
    printf 'if (System.OperatingSystem.IsWindows()) System.Console.WriteLine(Board.Read()); else System.Console.WriteLine("not Windows");\n' \
        >"$library/app/Program.cs"
    status=0
    dotnet build "$library/lib" -c Release -r linux-x64 >"$work/library.log" 2>&1 || status=$?
    [ "$status" -eq 0 ] || tail -n 20 "$work/library.log"
    check "a library taking the package, -r linux-x64: builds" "$status" 0
    status=0
    out=$(dotnet publish "$library/app" -c Release -r linux-x64 -o "$library/out" 2>&1) || status=$?
    check "a program using that library, -r linux-x64: QUORVEL001" \
        "$status $(grep -o "error QUORVEL001: .*QuorvelAllowOtherRuntimes to true" <<<"$out" | sort -u | wc -l)" "1 1"
    status=0
    dotnet publish "$library/app" -c Release -r linux-x64 -p:QuorvelAllowOtherRuntimes=true -o "$library/out" \
        >"$work/library.log" 2>&1 || status=$?
    [ "$status" -eq 0 ] || tail -n 20 "$work/library.log"
    check "that program with QuorvelAllowOtherRuntimes, -r linux-x64: publishes" "$status" 0
    check "that program on Linux: runs, never calling the board" "$(dotnet "$library/out/app.dll" 2>&1)" "not Windows"
    # Built without the line that marks it a Windows program, the platform
    # analyzer warns at the package's calls.
    sed -i '/SupportedOSPlatform("windows")/d' "$other/Program.cs"
    status=0
    dotnet build "$other" -c Release >"$work/other.log" 2>&1 || status=$?
    check "no runtime identifier, on Linux: builds" "$status" 0
    check "not marked for Windows: the platform analyzer warns at QuorvelBoard" \
        "$(grep -c "warning CA1416: .*'QuorvelBoard' is only supported on: 'windows'" "$work/other.log" | sed 's/^[1-9][0-9]*$/some/')" some

    # Trimmed, the program publishes without a warning (and runs, below).
    trimmed=$work/trimmed
    status=0
    dotnet publish "$project" -c Release -r $rid --self-contained -p:PublishTrimmed=true -o "$trimmed" \
        >"$work/trimmed.log" 2>&1 || status=$?
    check "$rid trimmed publish: succeeds" "$status" 0
    check "$rid trimmed publish: no warning" "$(grep -i ': warning ' "$work/trimmed.log" | sort -u)" ""

    # The .NET Standard 2.0 assembly, which .NET Framework programs get, in
    # the layout the targets give an AnyCPU one (both DLLs in x64\ and x86\,
    # none beside the program): run below under .NET, as Wine has no .NET
    # Framework, it loads the DLL of its bitness and makes its calls.
    standard=$work/netstandard
    cp -a "$project" "$standard" && rm -rf "$standard/bin" "$standard/obj"
    sed -i "s|<PackageReference Include=\"QUORVEL\"[^>]*>|<Reference Include=\"Quorvel.Net\" HintPath=\"$package/lib/netstandard2.0/Quorvel.Net.dll\" />|" \
        "$standard/consumer.csproj"
    status=0
    dotnet publish "$standard" -c Release -r $rid --self-contained -o "$work/anycpu-layout" \
        >"$work/netstandard.log" 2>&1 || status=$?
    [ "$status" -eq 0 ] || tail -n 20 "$work/netstandard.log"
    check "the netstandard2.0 assembly, $rid: publishes" "$status" 0
    for kind in x64:win-x64 x86:win-x86; do
        mkdir -p "$work/anycpu-layout/${kind%%:*}"
        cp "$package/runtimes/${kind#*:}/native/QUORVEL.dll" "$work/anycpu-layout/${kind%%:*}/"
    done
    rm -f "$work/anycpu-layout/QUORVEL.dll"
    # The same without either DLL; and beside it and beside the published
    # program, a plug-in's folder with the .NET Standard assembly and its
    # x64\ or x86\.
    cp -a "$work/anycpu-layout" "$work/anycpu-missing" && rm -rf "$work/anycpu-missing/x64" "$work/anycpu-missing/x86"
    for folder in "$publish" "$work/anycpu-missing"; do
        mkdir -p "$folder/plug-in/${rid#win-}"
        cp "$package/lib/netstandard2.0/Quorvel.Net.dll" "$folder/plug-in/"
        cp "$package/runtimes/$rid/native/QUORVEL.dll" "$folder/plug-in/${rid#win-}/"
    done
fi

if [ "$prefix" = - ]; then
    echo "$passed passed, $failed failed (published only: this machine cannot run it)"
    [ "$failed" -eq 0 ] || exit 1
    exit 77
fi

# The program without QUORVEL.dll beside it.
nodll=$work/nodll
cp -a "$publish" "$nodll" && rm "$nodll/QUORVEL.dll"

# run MODE PORTS FAULTS [FOLDER]: runs the program (of FOLDER, default the
# published one) in MODE; sets OUT (CR removed), RC and LOG.
run() {
    local folder=${4:-$publish}
    rm -f "$work/requests.log"
    OUT=$(WINE_BOARD_DOTNET=1 bash "$board" run "$prefix" "$folder" "$work/requests.log" "$2" "$3" -- \
        "$folder/consumer.exe" "$1" | tr -d '\r')
    RC=${PIPESTATUS[0]}
    LOG=$(cat "$work/requests.log" 2>/dev/null)
}
printf 'read 10\n' >"$work/read-10-fails"
printf 'write 13\nread 10\n' >"$work/write-13-read-10-fail"
roundtrip_log="COM3 open
COM3 80052038 13c0 0 ok
COM3 80052034 13 1 ok
COM3 close"

# mode|ports|faults|exit status|output|board's log|folder (default the published one)
# (The library's read and write messages end without a line feed. Windows
# error codes: 2 file not found, the registry's for a missing board; 1117
# ERROR_IO_DEVICE, the board driver's for a refused request. "not 0": a
# program that dies of an unhandled exception ends with the exception code,
# 0xE0434352 for .NET's, of which Linux keeps the low 8 bits.)
no_board="Driver is not installed
QuorvelException QUORVEL_INIT register none error 2 library \"\" message starts with the call: True"
rows=(
    "unhandled|nodriver|-|not 0|Driver is not installed|"
    "roundtrip|7 3 12 4|-|0|0x13 = 0xC0|$roundtrip_log"
    "roundtrip|nodriver|-|1|$no_board|"
    "twice|nodriver|-|0|$no_board
$no_board|"
    "twice|7 3 12 4|-|0|DllNotFoundException
DllNotFoundException||$nodll"
    "forgotten|7 3 12 4|-|0|0x13 = 0xC0|COM3 open
COM3 close
$roundtrip_log
COM3 open
COM3 80052038 13c0 0 ok
COM3 close"
    "faults|7 3 12 4|$work/write-13-read-10-fail|0|Error in Writing...!QuorvelException QUORVEL_WRITE register 0x13 error 1117 library \"Error in Writing...!\" message starts with the call: True
Error in Reading...!QuorvelException QUORVEL_READ register 0x10 error 1117 library \"Error in Reading...!\" message starts with the call: True|COM3 open
COM3 80052038 13c0 0 fail
COM3 80052034 10 1 fail
COM3 80052038 1177 0 ok
COM3 close"
    "threads|7 3 12 4|-|0|the reads ended with ObjectDisposedException|pattern:^COM3 open
COM3 80052038 13c0 0 ok(
COM3 80052034 13 1 ok)+
COM3 close$"
    "second|7 3 12 4|-|0|A QuorvelBoard is already open in this process; QUORVEL.dll holds one board per process: dispose the open one first.|COM3 open
COM3 80052038 13c0 0 ok
COM3 close"
    "handover|7 3 12 4|-|0|0x13 = 0xC0|COM3 open
COM3 close
$roundtrip_log"
    "bare|7 3 12 4|$work/read-10-fails|0|INIT 0
WRITE 0
READ 0 0xC0
Error in Reading...!READ 0x10 -1 error 1117
CLOSE 1|COM3 open
COM3 80052038 13c0 0 ok
COM3 80052034 13 1 ok
COM3 80052034 10 1 fail
COM3 close"
)
# The trimmed program runs as the untrimmed one does, and so does the one
# with the .NET Standard assembly, from the AnyCPU layout.
if [ "$system" = win64 ]; then
    rows+=("roundtrip|7 3 12 4|-|0|0x13 = 0xC0|$roundtrip_log|$trimmed")
    rows+=("roundtrip|7 3 12 4|-|0|0x13 = 0xC0|$roundtrip_log|$work/anycpu-layout")
    rows+=("missing|7 3 12 4|-|0|QUORVEL.dll (x64) was found in none of these folders: <program>\\x64; <program>; nor in the system folder||$work/anycpu-missing")
    # A plug-in's copy, in a program without QUORVEL.dll: it loads the one
    # of its own folder.
    rows+=("plugin|7 3 12 4|-|0|plug-in: written|COM3 open
COM3 80052038 13c0 0 ok
COM3 close|$work/anycpu-missing")
    # A second copy of the assembly, in another AssemblyLoadContext: refused
    # while the first board is open, as a second object is.
    rows+=("contexts|7 3 12 4|-|0|second copy: A QuorvelBoard is already open in this process; QUORVEL.dll holds one board per process: dispose the open one first.
second copy: opened once the first board was disposed|COM3 open
COM3 80052038 13c0 0 ok
COM3 close
COM3 open
COM3 80052038 13c1 0 ok
COM3 close")
    for row in "${rows[@]}"; do
        [[ $row == faults\|* || $row == twice\|nodriver* ]] && rows+=("$row|$work/anycpu-layout")
    done
fi
for row in "${rows[@]}"; do
    IFS='|' read -r -d '' mode ports faults want_rc want_out want_log folder <<<"$row"
    want_log=${want_log%$'\n'} folder=${folder%$'\n'}
    run "$mode" "$ports" "$faults" "$folder"
    what="$rid $mode ($ports${folder:+, $(basename "$folder")})"
    [ "$want_rc" != "not 0" ] || [ "$RC" -eq 0 ] || RC="not 0"
    check "$what: exit status" "$RC" "$want_rc"
    check "$what: standard output" "$OUT" "$want_out"
    # A log of varying length is matched against a pattern (a regular expression).
    if [[ $want_log == pattern:* ]]; then
        [[ $LOG =~ ${want_log#pattern:} ]] && want_log=$LOG || want_log="a log matching ${want_log#pattern:}"
    fi
    check "$what: the board's log" "$LOG" "$want_log"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

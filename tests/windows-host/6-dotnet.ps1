# Windows step 6: the NuGet package as .NET developers take it, built on
# the runner: SDK-style .NET Framework 4.8 projects (AnyCPU, x86, x64), a
# packages.config project restored with nuget.exe and built with Visual
# Studio's MSBuild, and a framework-dependent .NET 8 program. Each runs on
# a machine without the board and must get QuorvelException with Windows
# error 2 (file not found: no driver), which proves the package's native
# DLL loaded on real .NET Framework and .NET.
# Under Wine: no (.NET Framework, nuget.exe and Visual Studio's MSBuild are the runner's; the .NET rows under Wine are run_dotnet_consumer.sh's)
#
#   6-dotnet.ps1 [-Artifact FOLDER] [-Work FOLDER]
#     Artifact  build_artifact.sh's output, nuget/ holding the package (QUORVEL_ARTIFACT)
#     Work      a scratch folder (QUORVEL_WORK)
param([string]$Artifact, [string]$Work)
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
. (Join-Path $PSScriptRoot 'Check.ps1')
$Artifact = Get-Setting $Artifact 'QUORVEL_ARTIFACT'
$script:Work = Get-Setting $Work 'QUORVEL_WORK'

# The line each consumer prints with no board: its bitness and the error.
$Consumers = @(
    @{ Name = 'net48 AnyCPU'; Kind = 'sdk'; Framework = 'net48'; Platform = 'AnyCPU'; Out = '64-bit: QuorvelException, Windows error 2' }
    @{ Name = 'net48 x86'; Kind = 'sdk'; Framework = 'net48'; Platform = 'x86'; Out = '32-bit: QuorvelException, Windows error 2' }
    @{ Name = 'net48 x64'; Kind = 'sdk'; Framework = 'net48'; Platform = 'x64'; Out = '64-bit: QuorvelException, Windows error 2' }
    @{ Name = 'net8.0 framework-dependent'; Kind = 'sdk'; Framework = 'net8.0'; Platform = 'AnyCPU'; Out = '64-bit: QuorvelException, Windows error 2' }
    @{ Name = 'net48 packages.config (nuget.exe, MSBuild)'; Kind = 'packages.config'; Framework = 'net48'; Platform = 'AnyCPU'
        Out = '64-bit: QuorvelException, Windows error 2' }
)

$feed = Join-Path $Artifact 'nuget'
$package = Get-ChildItem -LiteralPath $feed -Filter 'QUORVEL.*.nupkg' | Select-Object -First 1
$version = $package.BaseName.Substring('QUORVEL.'.Length)
$source = Join-Path $PSScriptRoot 'dotnet\Consumer.cs'
# The package from the artifact's folder, everything else from nuget.org.
$nugetConfig = @"
<?xml version="1.0" encoding="utf-8"?>
<configuration>
  <packageSources>
    <clear />
    <add key="artifact" value="$feed" />
    <add key="nuget.org" value="https://api.nuget.org/v3/index.json" />
  </packageSources>
</configuration>
"@

foreach ($consumer in $Consumers) {
    $project = Join-Path $script:Work ($consumer.Name -replace '[^A-Za-z0-9]+', '-')
    $null = New-Item -ItemType Directory -Path $project -Force
    Copy-Item -LiteralPath $source -Destination $project
    Set-Content -LiteralPath (Join-Path $project 'nuget.config') -Value $nugetConfig
    $out = Join-Path $project 'out'
    if ($consumer.Kind -eq 'sdk') {
        Set-Content -LiteralPath (Join-Path $project 'Consumer.csproj') -Value @"
<Project Sdk="Microsoft.NET.Sdk">
  <PropertyGroup>
    <OutputType>Exe</OutputType>
    <TargetFramework>$($consumer.Framework)</TargetFramework>
    <PlatformTarget>$($consumer.Platform)</PlatformTarget>
    <LangVersion>7.3</LangVersion>
  </PropertyGroup>
  <ItemGroup>
    <PackageReference Include="QUORVEL" Version="$version" />
    <!-- .NET Framework's reference assemblies from NuGet, whichever
         targeting packs the image has. -->
    <PackageReference Include="Microsoft.NETFramework.ReferenceAssemblies" Version="1.0.3" PrivateAssets="all"
                      Condition="'`$(TargetFramework)' == 'net48'" />
  </ItemGroup>
</Project>
"@
        $build = Invoke-Program 'dotnet' @('build', $project, '-c', 'Release', '-o', $out) $project (Join-Path $project 'build')
    } else {
        # A classic project: packages.config, a HintPath into packages\,
        # and the Import of the package's build targets NuGet would add.
        $packageFolder = "packages\QUORVEL.$version"
        Set-Content -LiteralPath (Join-Path $project 'packages.config') -Value @"
<?xml version="1.0" encoding="utf-8"?>
<packages>
  <package id="QUORVEL" version="$version" targetFramework="net48" />
</packages>
"@
        Set-Content -LiteralPath (Join-Path $project 'Consumer.csproj') -Value @"
<?xml version="1.0" encoding="utf-8"?>
<Project ToolsVersion="15.0" xmlns="http://schemas.microsoft.com/developer/msbuild/2003">
  <Import Project="`$(MSBuildExtensionsPath)\`$(MSBuildToolsVersion)\Microsoft.Common.props" />
  <PropertyGroup>
    <Configuration Condition=" '`$(Configuration)' == '' ">Release</Configuration>
    <Platform Condition=" '`$(Platform)' == '' ">AnyCPU</Platform>
    <OutputType>Exe</OutputType>
    <AssemblyName>Consumer</AssemblyName>
    <TargetFrameworkVersion>v4.8</TargetFrameworkVersion>
    <Prefer32Bit>false</Prefer32Bit>
    <OutputPath>out\</OutputPath>
  </PropertyGroup>
  <ItemGroup>
    <Reference Include="System" />
    <Reference Include="Quorvel.Net">
      <HintPath>$packageFolder\lib\netstandard2.0\Quorvel.Net.dll</HintPath>
    </Reference>
  </ItemGroup>
  <ItemGroup>
    <Compile Include="Consumer.cs" />
    <None Include="packages.config" />
  </ItemGroup>
  <Import Project="`$(MSBuildToolsPath)\Microsoft.CSharp.targets" />
  <Import Project="$packageFolder\build\QUORVEL.targets" />
</Project>
"@
        $vswhere = Join-Path ${env:ProgramFiles(x86)} 'Microsoft Visual Studio\Installer\vswhere.exe'
        $msbuild = (& $vswhere -latest -requires Microsoft.Component.MSBuild -find 'MSBuild\**\Bin\MSBuild.exe' |
            Select-Object -First 1)
        $nuget = (Get-Command nuget.exe -CommandType Application | Select-Object -First 1).Source
        $restore = Invoke-Program $nuget @('restore', (Join-Path $project 'packages.config'), '-PackagesDirectory',
            (Join-Path $project 'packages'), '-ConfigFile', (Join-Path $project 'nuget.config'), '-NonInteractive') $project `
            (Join-Path $project 'restore')
        Test-Check "$($consumer.Name): nuget.exe restore" $restore.Status 0
        if ($restore.Status -ne 0) { Write-Output $restore.Out }
        $build = Invoke-Program $msbuild @((Join-Path $project 'Consumer.csproj'), '/p:Configuration=Release',
            '/nologo', '/v:minimal') $project (Join-Path $project 'build')
    }
    Test-Check "$($consumer.Name): builds" $build.Status 0
    if ($build.Status -ne 0) { Write-Output $build.Out; continue }
    $run = Invoke-Program (Join-Path $out 'Consumer.exe') @() $out (Join-Path $project 'run')
    # (The library's own message may follow on standard output.)
    Test-Check "$($consumer.Name): runs and gets the error" `
        "$($run.Status) $(Get-MatchReport $run.Out ('(?m)^' + [regex]::Escape($consumer.Out) + '$'))" '0 as expected'
}

Complete-Step

// The .NET Framework program of run_dotnet_consumer.sh's net48 rows. With no
// argument it says its bitness and reads a register, or says why it cannot.
// The other modes show, in the hosts .NET Framework programs run in, where
// Quorvel.Net.dll looks for QUORVEL.dll: on Linux, under Mono, the search
// itself is asked (FindNativeLibrary, by reflection, as nothing is loaded
// there), and its folders printed.
//   site ROOT     an AppDomain as ASP.NET makes one: base ROOT, private bin
//                 path bin, shadow copy on into ROOT\..\shadow-copies (this
//                 program in ROOT\bin)
//   plugin DLL    Quorvel.Net.dll loaded with Assembly.LoadFrom from the
//                 plug-in's folder, not this program's
//   ordinary      this program's own Quorvel.Net.dll
//   serialized    a QuorvelException thrown in another AppDomain
//   versions DLL  the versions a Quorvel.Net.dll carries
#nullable enable
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Reflection;
using Quorvel;

static class Program
{
    static int Main(string[] args)
    {
        if (args.Length == 0)
            return ReadRegister();
        switch (args[0])
        {
            case "site":
            {
                var setup = new AppDomainSetup
                {
                    ApplicationBase = args[1],
                    PrivateBinPath = "bin",
                    ShadowCopyFiles = "true",
                    CachePath = Path.GetFullPath(Path.Combine(args[1], "..", "shadow-copies")),
                    ApplicationName = "site",
                };
                AppDomain site = AppDomain.CreateDomain("site", null, setup);
                var probe = (Probe)site.CreateInstanceAndUnwrap(typeof(Probe).Assembly.FullName, typeof(Probe).FullName);
                Console.WriteLine(probe.Search(null));
                return 0;
            }
            case "plugin":
                // Nothing here names a type of Quorvel.Net.dll: this
                // program's folder has none, as a host has none of its
                // plug-ins' assemblies.
                Console.WriteLine(new Probe().Search(args[1]));
                return 0;
            case "ordinary":
                Console.WriteLine(new Probe().Search(null));
                return 0;
            case "serialized":
                return Serialized();
            case "versions":
                return Versions(Assembly.LoadFrom(args[1]));
        }
        Console.WriteLine("usage: net48 [site ROOT|plugin DLL|ordinary|serialized|versions DLL]");
        return 2;
    }

    static int Versions(Assembly assembly)
    {
        Console.WriteLine("AssemblyVersion " + assembly.GetName().Version);
        Console.WriteLine("FileVersion " + FileVersionInfo.GetVersionInfo(assembly.Location).FileVersion);
        Console.WriteLine("InformationalVersion "
            + assembly.GetCustomAttribute<AssemblyInformationalVersionAttribute>()!.InformationalVersion);
        return 0;
    }

    static int ReadRegister()
    {
        Console.WriteLine(Environment.Is64BitProcess ? "64-bit" : "32-bit");
        try
        {
            using (var board = new QuorvelBoard())
                Console.WriteLine("0x13 = 0x" + board.ReadRegister(0x13).ToString("X2"));
            return 0;
        }
        catch (PlatformNotSupportedException e)
        {
            Console.WriteLine("PlatformNotSupportedException: " + e.Message);
            return 3;
        }
    }

    // A QuorvelException with all four properties, thrown in another
    // AppDomain, arrives here whole.
    static int Serialized()
    {
        AppDomain other = AppDomain.CreateDomain("other", null, AppDomain.CurrentDomain.SetupInformation);
        var thrower = (Probe)other.CreateInstanceAndUnwrap(typeof(Probe).Assembly.FullName, typeof(Probe).FullName);
        try
        {
            thrower.Throw();
        }
        catch (QuorvelException e)
        {
            Console.WriteLine("QuorvelException " + e.Call + " register " + (e.Register is byte r ? "0x" + r.ToString("X2") : "none")
                + " error " + e.NativeErrorCode + " library \"" + e.LibraryMessage + "\" HResult 0x" + e.HResult.ToString("X8")
                + " message \"" + e.Message + "\"");
            return 0;
        }
        return 1;
    }
}

// Runs in the AppDomain it is made in.
public sealed class Probe : MarshalByRefObject
{
    // Where Quorvel.Net.dll (this program's, or the one at DLL) looks for
    // QUORVEL.dll: the DLL found, or the message that names the folders
    // looked in; and where the assembly runs from.
    public string Search(string? dll)
    {
        Assembly quorvel = dll == null ? OwnQuorvel() : Assembly.LoadFrom(dll);
        Type board = quorvel.GetType("Quorvel.QuorvelBoard", throwOnError: true)!;
        var tried = new List<string>();
        var found = (string?)board.GetMethod("FindNativeLibrary", BindingFlags.NonPublic | BindingFlags.Static)!
            .Invoke(null, new object[] { tried });
        string result = found != null
            ? "found " + found
            : (string)board.GetMethod("NotFoundMessage", BindingFlags.NonPublic | BindingFlags.Static)!
                .Invoke(null, new object[] { tried })!;
        return result + "\nrun from " + quorvel.Location;
    }

    [System.Runtime.CompilerServices.MethodImpl(System.Runtime.CompilerServices.MethodImplOptions.NoInlining)]
    static Assembly OwnQuorvel() => typeof(QuorvelBoard).Assembly;

    public void Throw()
    {
        var exception = (Exception)Activator.CreateInstance(typeof(QuorvelException),
            BindingFlags.NonPublic | BindingFlags.Instance, null,
            new object?[] { "QUORVEL_READ", (byte?)0x10, 1117, "Error in Reading...!", "QUORVEL_READ of register 0x10 failed" },
            null)!;
        throw exception;
    }
}

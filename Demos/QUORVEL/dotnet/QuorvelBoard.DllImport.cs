using System;
using System.Collections.Generic;
using System.ComponentModel;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;

namespace Quorvel
{
    // QUORVEL.dll's functions for .NET Standard 2.0, that is .NET Framework
    // 4.6.2 and later, as the README gives them: cdecl (on 32-bit Windows the
    // DllImport default is StdCall, which would leave the stack unbalanced),
    // the library's last error kept, and the DLL looked for only beside this
    // assembly and in the system folder.
    public sealed partial class QuorvelBoard
    {
        [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl, SetLastError = true)]
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]
        internal static extern int QUORVEL_INIT();

        [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl, SetLastError = true)]
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]
        internal static extern int QUORVEL_READ(int reg, out byte value);

        [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl, SetLastError = true)]
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]
        internal static extern int QUORVEL_WRITE(int reg, int value);

        [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl, SetLastError = true)]
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]
        internal static extern int QUORVEL_CLOSE();

        // LoadLibraryEx's flags: the DLL's own folder, then System32, for
        // the DLLs it imports; nothing from the working directory or PATH.
        const uint LoadLibrarySearchDllLoadDir = 0x100;
        const uint LoadLibrarySearchSystem32 = 0x800;

        [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
        [DefaultDllImportSearchPaths(DllImportSearchPath.System32)]
        static extern IntPtr LoadLibraryExW(string fileName, IntPtr reserved, uint flags);

        // The process's one-board guard (QuorvelBoard.cs): a named event,
        // created or opened, and its handle closed.
        [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
        [DefaultDllImportSearchPaths(DllImportSearchPath.System32)]
        static extern IntPtr CreateEventW(IntPtr attributes, int manualReset, int initialState, string name);

        [DllImport("kernel32.dll", SetLastError = true)]
        [DefaultDllImportSearchPaths(DllImportSearchPath.System32)]
        static extern int CloseHandle(IntPtr handle);

        static bool nativeLibraryLoaded;

        void ThrowIfDisposed()
        {
            if (handle.IsClosed)
                throw new ObjectDisposedException(nameof(QuorvelBoard));
        }

        // .NET Framework programs get QUORVEL.dll from the package's targets:
        // beside the program when it is built for x64 or x86, in x64\ and
        // x86\ beside it for AnyCPU. Where "beside the program" is depends on
        // the host, so the DLL of this process's bitness is looked for in
        // each folder of NativeLibraryFolders, in its x64\ or x86\ and then
        // in the folder itself, and loaded by its path; the declarations
        // above then bind to it, as Windows hands out a loaded DLL by its
        // name. Called under Gate; a failure throws again on the next try.
        static void LoadNativeLibrary()
        {
            if (nativeLibraryLoaded)
                return;
            var tried = new List<string>();
            string? path = FindNativeLibrary(tried);
            if (path == null)
            {
                // None of ours: the system folder, which the declarations
                // above allow too, is the last place asked.
                if (LoadLibraryExW("QUORVEL.dll", IntPtr.Zero, LoadLibrarySearchSystem32) == IntPtr.Zero)
                    throw new DllNotFoundException(NotFoundMessage(tried));
            }
            else if (LoadLibraryExW(path, IntPtr.Zero, LoadLibrarySearchDllLoadDir | LoadLibrarySearchSystem32) == IntPtr.Zero)
            {
                throw new DllNotFoundException(path + " cannot be loaded: "
                    + new Win32Exception(Marshal.GetLastWin32Error()).Message);
            }
            nativeLibraryLoaded = true;
        }

        // The first QUORVEL.dll of the folders below, or null; TRIED gets
        // every folder looked in, in order.
        internal static string? FindNativeLibrary(List<string> tried)
        {
            string bitness = Environment.Is64BitProcess ? "x64" : "x86";
            foreach (string folder in NativeLibraryFolders())
            {
                // One spelling per folder, whichever way it came ("C:\app\", "C:\app").
                string trimmed = folder.Length > 3 ? folder.TrimEnd('\\', '/') : folder;
                string? path = LookIn(Path.Combine(trimmed, bitness), tried) ?? LookIn(trimmed, tried);
                if (path != null)
                    return path;
            }
            return null;
        }

        static string? LookIn(string folder, List<string> tried)
        {
            if (tried.Contains(folder, StringComparer.OrdinalIgnoreCase))
                return null;
            tried.Add(folder);
            string path = Path.Combine(folder, "QUORVEL.dll");
            return File.Exists(path) ? path : null;
        }

        internal static string NotFoundMessage(List<string> tried) =>
            "QUORVEL.dll (" + (Environment.Is64BitProcess ? "x64" : "x86") + ") was found in none of these folders: "
            + string.Join("; ", tried) + "; nor in the system folder";

        // Where a program's files are, in the order the hosts make it matter:
        // - this assembly's own folder, from its CodeBase: the file it was
        //   loaded from, a plug-in's folder for Assembly.LoadFrom, and the
        //   real bin folder under ASP.NET's shadow copy, where Location is
        //   the copy in the cache (looked in too, after it);
        // - the AppDomain's private bin paths (ASP.NET: bin), relative to
        //   its base folder;
        // - the AppDomain's base folder (a program's own folder; ASP.NET's
        //   site root).
        static IEnumerable<string> NativeLibraryFolders()
        {
            var assembly = typeof(QuorvelBoard).Assembly;
            string? codeBase = null;
            try
            {
                codeBase = assembly.CodeBase;
            }
            catch (NotSupportedException)
            {
                // An assembly with no file of its own (a single-file program).
            }
            if (codeBase != null && Uri.TryCreate(codeBase, UriKind.Absolute, out Uri? uri) && uri.IsFile)
                yield return Path.GetDirectoryName(uri.LocalPath)!;
            if (!string.IsNullOrEmpty(assembly.Location))
                yield return Path.GetDirectoryName(assembly.Location)!;
            string baseDirectory = AppDomain.CurrentDomain.BaseDirectory;
            foreach (string privateBinPath in (AppDomain.CurrentDomain.RelativeSearchPath ?? "").Split(';'))
                if (privateBinPath.Trim().Length != 0)
                    yield return Path.GetFullPath(Path.Combine(baseDirectory, privateBinPath.Trim()));
            yield return baseDirectory;
        }
    }
}

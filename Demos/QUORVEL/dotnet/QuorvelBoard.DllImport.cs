using System;
using System.ComponentModel;
using System.IO;
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

        static bool nativeLibraryLoaded;

        void ThrowIfDisposed()
        {
            if (handle.IsClosed)
                throw new ObjectDisposedException(nameof(QuorvelBoard));
        }

        // An AnyCPU .NET Framework program gets both QUORVEL.dll from the
        // package's targets, in x64\ and x86\ beside it. The one of this
        // process's bitness is loaded here by its path; the declarations
        // above then bind to it, as Windows hands out a loaded DLL by its
        // name. Elsewhere (a program of one bitness, .NET with its
        // runtimes\ folders) QUORVEL.dll lies beside the program. Called
        // under Gate; a failure throws again on the next try.
        static void LoadNativeLibrary()
        {
            if (nativeLibraryLoaded)
                return;
            string path = Path.Combine(AppDomain.CurrentDomain.BaseDirectory,
                Environment.Is64BitProcess ? "x64" : "x86", "QUORVEL.dll");
            if (File.Exists(path)
                && LoadLibraryExW(path, IntPtr.Zero, LoadLibrarySearchDllLoadDir | LoadLibrarySearchSystem32) == IntPtr.Zero)
                throw new DllNotFoundException(path + " cannot be loaded: "
                    + new Win32Exception(Marshal.GetLastWin32Error()).Message);
            nativeLibraryLoaded = true;
        }
    }
}

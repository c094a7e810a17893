using System;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Runtime.Versioning;

// QUORVEL.dll exists for Windows only: the platform analyzer tells a caller
// that may run elsewhere (elsewhere the constructor throws
// PlatformNotSupportedException).
[assembly: SupportedOSPlatform("windows")]

namespace Quorvel
{
    // QUORVEL.dll's functions for .NET 8 and later: marshalling stubs made at
    // compile time (no run-time code generation, so trimming and native AOT
    // keep them whole), cdecl, the library's last error kept, and the DLL
    // looked for only beside this assembly and in the system folder.
    public sealed partial class QuorvelBoard
    {
        [LibraryImport("QUORVEL.dll", SetLastError = true)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]
        private static partial int QUORVEL_INIT();

        [LibraryImport("QUORVEL.dll", SetLastError = true)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]
        private static partial int QUORVEL_READ(int reg, out byte value);

        [LibraryImport("QUORVEL.dll", SetLastError = true)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]
        private static partial int QUORVEL_WRITE(int reg, int value);

        [LibraryImport("QUORVEL.dll", SetLastError = true)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]
        private static partial int QUORVEL_CLOSE();

        // The process's one-board guard (QuorvelBoard.cs): a named event,
        // created or opened, and its handle closed.
        [LibraryImport("kernel32.dll", SetLastError = true, StringMarshalling = StringMarshalling.Utf16)]
        [DefaultDllImportSearchPaths(DllImportSearchPath.System32)]
        private static partial IntPtr CreateEventW(IntPtr attributes, int manualReset, int initialState, string name);

        [LibraryImport("kernel32.dll", SetLastError = true)]
        [DefaultDllImportSearchPaths(DllImportSearchPath.System32)]
        private static partial int CloseHandle(IntPtr handle);

        void ThrowIfDisposed() => ObjectDisposedException.ThrowIf(handle.IsClosed, this);

        // .NET finds QUORVEL.dll itself: beside the program, or in the
        // runtimes\<rid>\native folder that the program's deps.json names.
        static void LoadNativeLibrary()
        {
        }
    }
}

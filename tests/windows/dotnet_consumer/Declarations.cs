using System.Runtime.InteropServices;

static partial class QuorvelNative
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
}

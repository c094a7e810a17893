using System.Runtime.InteropServices;

// The declarations as the README gives them to a program that copies
// QUORVEL.dll beside itself, word for word.
static partial class Bare
{
    [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl)]
    static extern int QUORVEL_INIT();

    [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl)]
    static extern int QUORVEL_READ(int reg, out byte value);

    [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl)]
    static extern int QUORVEL_WRITE(int reg, int value);

    [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl)]
    static extern int QUORVEL_CLOSE();
}

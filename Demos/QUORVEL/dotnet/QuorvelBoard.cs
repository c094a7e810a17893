using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Threading;

namespace Quorvel
{
    /// <summary>
    /// The board, opened by the constructor and closed by <see cref="Dispose"/>.
    /// QUORVEL.dll holds one board handle per process: one QuorvelBoard may be
    /// open at a time, and it is used from one thread at a time.
    /// </summary>
    public sealed class QuorvelBoard : IDisposable
    {
        // The four functions are cdecl: on 32-bit Windows the default for
        // DllImport is StdCall, which would leave the stack unbalanced.
        [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl)]
        static extern int QUORVEL_INIT();

        [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl)]
        static extern int QUORVEL_READ(int reg, out byte value);

        [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl)]
        static extern int QUORVEL_WRITE(int reg, int value);

        [DllImport("QUORVEL.dll", CallingConvention = CallingConvention.Cdecl)]
        static extern int QUORVEL_CLOSE();

        // 1 while a board is open in this process. A second INIT would open
        // the port again over the library's one handle, and a second
        // object's Dispose would close the first one's port: refused instead.
        static int boardOpen;

        bool disposed;

        /// <summary>Finds the board's ports and opens the lowest (QUORVEL_INIT).</summary>
        /// <exception cref="InvalidOperationException">Another QuorvelBoard is open in this process.</exception>
        /// <exception cref="QuorvelException">The library could not open the board.</exception>
        public QuorvelBoard()
        {
            if (Interlocked.CompareExchange(ref boardOpen, 1, 0) != 0)
                throw new InvalidOperationException(
                    "A QuorvelBoard is already open in this process; QUORVEL.dll holds one board per process: "
                    + "dispose the open one first.");
            if (QUORVEL_INIT() != 0)
            {
                Volatile.Write(ref boardOpen, 0);
                throw new QuorvelException("QUORVEL_INIT");
            }
        }

        /// <summary>Reads a register (QUORVEL_READ).</summary>
        public byte ReadRegister(byte register)
        {
            ThrowIfDisposed();
            if (QUORVEL_READ(register, out byte value) != 0)
                throw new QuorvelException("QUORVEL_READ", register);
            return value;
        }

        /// <summary>Writes a register (QUORVEL_WRITE).</summary>
        public void WriteRegister(byte register, byte value)
        {
            ThrowIfDisposed();
            if (QUORVEL_WRITE(register, value) != 0)
                throw new QuorvelException("QUORVEL_WRITE", register);
        }

        /// <summary>Closes the board (QUORVEL_CLOSE); another QuorvelBoard, here or in another process, may then open it.</summary>
        public void Dispose()
        {
            if (disposed)
                return;
            disposed = true;
            QUORVEL_CLOSE();
            Volatile.Write(ref boardOpen, 0);
        }

        void ThrowIfDisposed()
        {
            if (disposed)
                throw new ObjectDisposedException(nameof(QuorvelBoard));
        }
    }

    /// <summary>
    /// A call that QUORVEL.dll reported as failed. The library has printed the
    /// reason on the process's standard output (e.g. "Driver is not installed").
    /// </summary>
    public sealed class QuorvelException : IOException
    {
        /// <summary>The library function that failed, e.g. "QUORVEL_INIT".</summary>
        public string Call { get; }

        internal QuorvelException(string call)
            : base(call + " failed (QUORVEL.dll printed the reason on standard output)")
        {
            Call = call;
        }

        internal QuorvelException(string call, byte register)
            : base(call + " of register 0x" + register.ToString("X2")
                + " failed (QUORVEL.dll printed the reason on standard output)")
        {
            Call = call;
        }
    }
}

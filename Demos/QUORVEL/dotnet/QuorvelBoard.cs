using System;
using System.Globalization;
using System.IO;
using System.Runtime.InteropServices;
using System.Runtime.Serialization;

namespace Quorvel
{
    /// <summary>
    /// The board, opened by the constructor and closed by <see cref="Dispose"/>
    /// (or, for a board never disposed, by the garbage collector).
    /// QUORVEL.dll holds one board handle per process: one QuorvelBoard may be
    /// open at a time. Its methods may be called from any thread; the calls
    /// into QUORVEL.dll are made one at a time.
    /// </summary>
    public sealed partial class QuorvelBoard : IDisposable
    {
        internal const string PlatformText =
            "QUORVEL.dll runs on Windows only, in win-x64 and win-x86 processes";

        // Every call into QUORVEL.dll, and the mark below, under this lock:
        // the library serves one thread at a time, and a Dispose on one
        // thread must not close the port under a read on another.
        static readonly object Gate = new object();

        // One board per process, whichever copy of this assembly opens it: a
        // second INIT would open the port again over the library's one
        // handle, and a second object's Dispose would close the first one's
        // port. A static mark would be this copy's only, and a second copy
        // (another AssemblyLoadContext, another AppDomain, as an application
        // pool's recycle runs them side by side) would keep one of its own.
        // The mark is a kernel object instead, named for the process, which
        // the open board's handle holds until the board is closed.
        static readonly string ProcessGuardName = "Local\\QUORVEL board of process "
#if NET5_0_OR_GREATER
            + Environment.ProcessId.ToString(CultureInfo.InvariantCulture);
#else
            + System.Diagnostics.Process.GetCurrentProcess().Id.ToString(CultureInfo.InvariantCulture);
#endif

        const int ErrorAlreadyExists = 183;

        readonly BoardHandle handle;

        /// <summary>Finds the board's ports and opens the lowest (QUORVEL_INIT).</summary>
        /// <exception cref="PlatformNotSupportedException">Not Windows, or a process neither x64 nor x86.</exception>
        /// <exception cref="InvalidOperationException">Another QuorvelBoard is open in this process.</exception>
        /// <exception cref="QuorvelException">The library could not open the board.</exception>
        public QuorvelBoard()
        {
            if (!RuntimeInformation.IsOSPlatform(OSPlatform.Windows)
                || (RuntimeInformation.ProcessArchitecture != Architecture.X64
                    && RuntimeInformation.ProcessArchitecture != Architecture.X86))
                throw new PlatformNotSupportedException(PlatformText);
            // Made before INIT, so that an open port always has its closer.
            var opened = new BoardHandle();
            lock (Gate)
            {
                IntPtr guard = TakeProcessGuard();
                try
                {
                    // A load failure (no QUORVEL.dll, one of the other
                    // bitness, no such export) throws out of here with the
                    // guard given back: a retry meets the same error again.
                    LoadNativeLibrary();
                    if (QUORVEL_INIT() != 0)
                        throw QuorvelException.FromLastError("QUORVEL_INIT", null);
                }
                catch
                {
                    _ = CloseHandle(guard);
                    throw;
                }
                opened.Hold(guard);
            }
            handle = opened;
        }

        /// <summary>Reads a register (QUORVEL_READ).</summary>
        /// <exception cref="ObjectDisposedException">The board was disposed.</exception>
        /// <exception cref="QuorvelException">The driver refused the read.</exception>
        public byte ReadRegister(byte register)
        {
            lock (Gate)
            {
                ThrowIfDisposed();
                if (QUORVEL_READ(register, out byte value) != 0)
                    throw QuorvelException.FromLastError("QUORVEL_READ", register);
                return value;
            }
        }

        /// <summary>Writes a register (QUORVEL_WRITE).</summary>
        /// <exception cref="ObjectDisposedException">The board was disposed.</exception>
        /// <exception cref="QuorvelException">The driver refused the write.</exception>
        public void WriteRegister(byte register, byte value)
        {
            lock (Gate)
            {
                ThrowIfDisposed();
                if (QUORVEL_WRITE(register, value) != 0)
                    throw QuorvelException.FromLastError("QUORVEL_WRITE", register);
            }
        }

        /// <summary>Closes the board (QUORVEL_CLOSE); another QuorvelBoard, here or in another process, may then open it.</summary>
        public void Dispose() => handle.Dispose();

        // The process's guard, created here: a handle to it, or
        // InvalidOperationException when it exists already, that is while a
        // board is open in this process (in this copy of the assembly or in
        // another).
        static IntPtr TakeProcessGuard()
        {
            IntPtr guard = CreateEventW(IntPtr.Zero, 1, 0, ProcessGuardName);
            int error = Marshal.GetLastWin32Error();
            if (guard == IntPtr.Zero)
                throw new InvalidOperationException("The QuorvelBoard guard " + ProcessGuardName
                    + " cannot be created: " + new System.ComponentModel.Win32Exception(error).Message);
            if (error == ErrorAlreadyExists)
            {
                _ = CloseHandle(guard);
                throw new InvalidOperationException(
                    "A QuorvelBoard is already open in this process; QUORVEL.dll holds one board per process: "
                    + "dispose the open one first.");
            }
            return guard;
        }

        // The open board as a handle, the process's guard: the runtime
        // releases it (QUORVEL_CLOSE, then the guard) when it is disposed,
        // or, when its board was dropped undisposed, from its critical
        // finalizer. The guard is held here, not by a handle object of its
        // own, whose finalizer could run first and let another copy open
        // the board before this one's port is closed.
        sealed class BoardHandle : SafeHandle
        {
            public BoardHandle()
                : base(IntPtr.Zero, ownsHandle: true)
            {
            }

            public override bool IsInvalid => handle == IntPtr.Zero;

            // The library keeps the port's handle itself; this one is the
            // guard's, which says that the board is open.
            public void Hold(IntPtr guard) => SetHandle(guard);

            protected override bool ReleaseHandle()
            {
                lock (Gate)
                {
                    // 0 says no port was open (a close failed leaves
                    // nothing to retry either): the board is given up all the same.
                    _ = QUORVEL_CLOSE();
                }
                return CloseHandle(handle) != 0;
            }
        }
    }

    /// <summary>
    /// A call that QUORVEL.dll reported as failed: which call, which register,
    /// the Windows error code the library left (<see cref="NativeErrorCode"/>)
    /// and, where it is known, the library's own message, which it has also
    /// printed on the process's standard output. On .NET Framework it crosses
    /// an AppDomain boundary whole, its properties with it.
    /// </summary>
    [Serializable]
    public sealed class QuorvelException : IOException
    {
        /// <summary>The library function that failed, e.g. "QUORVEL_INIT".</summary>
        public string? Call { get; }

        /// <summary>The register of a failed read or write; null for the others.</summary>
        public byte? Register { get; }

        /// <summary>The Windows error code of the failure (GetLastError after the call); 0 when unknown.</summary>
        public int NativeErrorCode { get; }

        /// <summary>What the library printed, e.g. "Error in Reading...!"; null where it is not known.</summary>
        public string? LibraryMessage { get; }

        /// <summary>An exception with a default message.</summary>
        public QuorvelException()
            : base("A QUORVEL.dll call failed")
        {
        }

        /// <summary>An exception with the given message.</summary>
        public QuorvelException(string message)
            : base(message)
        {
        }

        /// <summary>An exception with the given message and the exception that caused it.</summary>
        public QuorvelException(string message, Exception innerException)
            : base(message, innerException)
        {
        }

        QuorvelException(string call, byte? register, int nativeErrorCode, string? libraryMessage, string message)
            : base(message)
        {
            Call = call;
            Register = register;
            NativeErrorCode = nativeErrorCode;
            LibraryMessage = libraryMessage;
            // As Win32Exception and IOException do it: HRESULT_FROM_WIN32.
            HResult = nativeErrorCode == 0 ? HResult : unchecked((int)0x80070000 | (nativeErrorCode & 0xFFFF));
        }

#if !NET8_0_OR_GREATER
        // The serialized exception's own fields, beside Exception's: a
        // register of none is kept as -1.
        const string CallField = "QuorvelCall";
        const string RegisterField = "QuorvelRegister";
        const string NativeErrorCodeField = "QuorvelNativeErrorCode";
        const string LibraryMessageField = "QuorvelLibraryMessage";

        // The exception made again where it arrives, for instance in the
        // AppDomain that called into the one where it was thrown. (.NET 8
        // has retired this serialization, and the constructor with it.)
        QuorvelException(SerializationInfo info, StreamingContext context)
            : base(info, context)
        {
            Call = info.GetString(CallField);
            int register = info.GetInt32(RegisterField);
            Register = register < 0 ? null : (byte?)register;
            NativeErrorCode = info.GetInt32(NativeErrorCodeField);
            LibraryMessage = info.GetString(LibraryMessageField);
        }

        /// <summary>Serializes the exception with its call, register, Windows error code and library message.</summary>
        public override void GetObjectData(SerializationInfo info, StreamingContext context)
        {
            base.GetObjectData(info, context);
            info.AddValue(CallField, Call);
            info.AddValue(RegisterField, Register is byte register ? register : -1);
            info.AddValue(NativeErrorCodeField, NativeErrorCode);
            info.AddValue(LibraryMessageField, LibraryMessage);
        }
#endif

        // Reads the error code the failed call left; call it straight after
        // the call, before anything else may change it.
        internal static QuorvelException FromLastError(string call, byte? register)
        {
            int code = Marshal.GetLastWin32Error();
            // INIT prints either of two messages, and which one cannot be
            // told from the code; READ and WRITE print one each.
            string? libraryMessage = call switch
            {
                "QUORVEL_READ" => "Error in Reading...!",
                "QUORVEL_WRITE" => "Error in Writing...!",
                _ => null,
            };
            string target = register is byte r
                ? call + " of register 0x" + r.ToString("X2", CultureInfo.InvariantCulture)
                : call;
            string message = target + " failed: Windows error " + code.ToString(CultureInfo.InvariantCulture) + " ("
                + new System.ComponentModel.Win32Exception(code).Message + ")"
                + (libraryMessage == null ? "" : "; QUORVEL.dll: " + libraryMessage);
            return new QuorvelException(call, register, code, libraryMessage, message);
        }
    }
}

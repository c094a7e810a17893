// A console program made as a user makes one (dotnet new console, dotnet add
// package QUORVEL), with one mode per row of run_dotnet_consumer.sh.
using System;
using System.Diagnostics;
using System.Diagnostics.CodeAnalysis;
using System.IO;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Runtime.Loader;
using System.Threading;
using Quorvel;

// A Windows program: the platform analyzer holds it to QuorvelBoard's
// SupportedOSPlatform("windows"), and warns where this line is missing.
[assembly: System.Runtime.Versioning.SupportedOSPlatform("windows")]

// The README's lines with nothing to catch what they throw: with no board the
// program dies of the unhandled exception, which must not read as success.
if (args[0] == "unhandled")
{
    using var board = new QuorvelBoard();
    board.WriteRegister(0x13, 0xC0);
    return 0;
}

try
{
    switch (args[0])
    {
        case "roundtrip":
        {
            // The README's lines.
            using var board = new QuorvelBoard();
            board.WriteRegister(0x13, 0xC0);
            byte value = board.ReadRegister(0x13);
            Console.WriteLine($"0x13 = 0x{value:X2}");
            return 0;
        }
        case "second":
        {
            // The second board is refused, and the first one keeps its port.
            using var board = new QuorvelBoard();
            try
            {
                using var second = new QuorvelBoard();
                Console.WriteLine("a second board was opened");
                return 1;
            }
            catch (InvalidOperationException e)
            {
                Console.WriteLine(e.Message);
            }
            board.WriteRegister(0x13, 0xC0);
            return 0;
        }
        case "handover":
        {
            // After Dispose another process opens the port while this one runs.
            var board = new QuorvelBoard();
            board.Dispose();
            return RunChild();
        }
        case "twice":
        {
            // A constructor that failed leaves nothing marked open: the
            // second try meets the first one's error, not "already open".
            for (int attempt = 0; attempt < 2; attempt++)
            {
                try
                {
                    using var board = new QuorvelBoard();
                    Console.WriteLine("opened");
                }
                catch (Exception e) when (e is not QuorvelException)
                {
                    Console.WriteLine(e.GetType().Name);
                }
                catch (QuorvelException e)
                {
                    Console.WriteLine(Describe(e));
                }
            }
            return 0;
        }
        case "forgotten":
        {
            // A board never disposed is closed by the garbage collector: the
            // port opens again, in another process and in this one.
            OpenAndForget();
            GC.Collect();
            GC.WaitForPendingFinalizers();
            int child = RunChild();
            using var board = new QuorvelBoard();
            board.WriteRegister(0x13, 0xC0);
            return child;
        }
        case "faults":
        {
            // Failed register calls after a good open throw, naming the
            // call, the register and the driver's code; the board stays usable.
            using var board = new QuorvelBoard();
            try
            {
                board.WriteRegister(0x13, 0xC0);
                Console.WriteLine("the write was taken");
            }
            catch (QuorvelException e)
            {
                Console.WriteLine(Describe(e));
            }
            try
            {
                Console.WriteLine($"read 0x{board.ReadRegister(0x10):X2}");
            }
            catch (QuorvelException e)
            {
                Console.WriteLine(Describe(e));
            }
            board.WriteRegister(0x11, 0x77);
            return 0;
        }
        case "threads":
        {
            // Dispose on one thread while another reads: each read returns
            // the byte or, once the board is disposed, ObjectDisposedException;
            // no read reaches the library after its close.
            var board = new QuorvelBoard();
            board.WriteRegister(0x13, 0xC0);
            int reads = 0;
            string? unexpected = null;
            var reader = new Thread(() =>
            {
                try
                {
                    while (true)
                    {
                        if (board.ReadRegister(0x13) != 0xC0)
                            unexpected = "a wrong byte";
                        Interlocked.Increment(ref reads);
                    }
                }
                catch (ObjectDisposedException)
                {
                }
                catch (Exception e)
                {
                    unexpected = e.GetType().Name;
                }
            });
            reader.Start();
            while (Volatile.Read(ref reads) < 20)
                Thread.Yield();
            board.Dispose();
            reader.Join();
            Console.WriteLine(unexpected ?? "the reads ended with ObjectDisposedException");
            return 0;
        }
        case "bare":
            return QuorvelNative.Run();
        case "contexts":
            return SecondCopy(PlugInBoard());
        case "plugin":
            return PlugInOnly(PlugInBoard());
        case "missing":
        {
            // No QUORVEL.dll anywhere: the message names every folder looked in.
            try
            {
                using var board = new QuorvelBoard();
                Console.WriteLine("opened");
                return 1;
            }
            catch (DllNotFoundException e)
            {
                Console.WriteLine(e.Message.Replace(AppContext.BaseDirectory.TrimEnd('\\'), "<program>", StringComparison.Ordinal));
                return 0;
            }
        }
    }
}
catch (QuorvelException e)
{
    Console.WriteLine(Describe(e));
    return 1;
}
Console.WriteLine("usage: consumer roundtrip|second|handover|twice|forgotten|faults|threads|bare|unhandled|missing|contexts|plugin");
return 2;

static string Describe(QuorvelException e) =>
    $"QuorvelException {e.Call} register {(e.Register is byte r ? $"0x{r:X2}" : "none")} error {e.NativeErrorCode}"
    + $" library \"{e.LibraryMessage}\" message starts with the call: {e.Message.StartsWith(e.Call + " ", StringComparison.Ordinal)}";

static int RunChild()
{
    var child = Process.Start(new ProcessStartInfo(Environment.ProcessPath!, "roundtrip") { UseShellExecute = false })!;
    child.WaitForExit();
    return child.ExitCode;
}

[MethodImpl(MethodImplOptions.NoInlining)]
static void OpenAndForget() => _ = new QuorvelBoard();

// QuorvelBoard of a plug-in's copy of Quorvel.Net.dll (the .NET Standard
// one, in the folder plug-in beside the program, with its QUORVEL.dll in
// x64\ or x86\ there), loaded into an AssemblyLoadContext of its own.
[UnconditionalSuppressMessage("Trimming", "IL2026", Justification = "A mode of the untrimmed program only")]
static Type PlugInBoard() => new AssemblyLoadContext("plug-in")
    .LoadFromAssemblyPath(Path.Combine(AppContext.BaseDirectory, "plug-in", "Quorvel.Net.dll"))
    .GetType("Quorvel.QuorvelBoard", true)!;

// Only the plug-in's copy opens the board, in a program with no QUORVEL.dll
// of its own: the one it loads is the plug-in's, from its x64\ or x86\.
[UnconditionalSuppressMessage("Trimming", "IL2067", Justification = "A mode of the untrimmed program only")]
[UnconditionalSuppressMessage("Trimming", "IL2070", Justification = "A mode of the untrimmed program only")]
static int PlugInOnly(Type copy)
{
    using (var board = (IDisposable)Activator.CreateInstance(copy)!)
        copy.GetMethod("WriteRegister")!.Invoke(board, new object[] { (byte)0x13, (byte)0xC0 });
    Console.WriteLine("plug-in: written");
    return 0;
}

// While this copy's board is open the plug-in's copy is refused, as a second
// board of this copy is; it opens the board once this one is disposed.
[UnconditionalSuppressMessage("Trimming", "IL2067", Justification = "A mode of the untrimmed program only")]
[UnconditionalSuppressMessage("Trimming", "IL2070", Justification = "A mode of the untrimmed program only")]
static int SecondCopy(Type copy)
{
    using (var board = new QuorvelBoard())
    {
        try
        {
            using var second = (IDisposable)Activator.CreateInstance(copy)!;
            Console.WriteLine("the second copy opened a board");
            return 1;
        }
        catch (TargetInvocationException e) when (e.InnerException is InvalidOperationException)
        {
            Console.WriteLine("second copy: " + e.InnerException.Message);
        }
        board.WriteRegister(0x13, 0xC0);
    }
    using (var second = (IDisposable)Activator.CreateInstance(copy)!)
        copy.GetMethod("WriteRegister")!.Invoke(second, new object[] { (byte)0x13, (byte)0xC1 });
    Console.WriteLine("second copy: opened once the first board was disposed");
    return 0;
}

static partial class QuorvelNative
{
    // Each function's own result: 0, or -1 for a failed call (CLOSE: 1 when
    // it closed a handle), and the last error of a failed one. Register
    // 0x10 is made to fail by the test.
    public static int Run()
    {
        Console.WriteLine($"INIT {QUORVEL_INIT()}");
        Console.WriteLine($"WRITE {QUORVEL_WRITE(0x13, 0xC0)}");
        int status = QUORVEL_READ(0x13, out byte value);
        Console.WriteLine($"READ {status} 0x{value:X2}");
        // The last error is read first: formatting the line may change it.
        status = QUORVEL_READ(0x10, out _);
        int error = Marshal.GetLastWin32Error();
        Console.WriteLine($"READ 0x10 {status} error {error}");
        Console.WriteLine($"CLOSE {QUORVEL_CLOSE()}");
        return 0;
    }
}

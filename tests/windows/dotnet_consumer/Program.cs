// A console program made as a user makes one (dotnet new console, dotnet add
// package QUORVEL), with one mode per row of run_dotnet_consumer.sh.
using System;
using System.Diagnostics;
using Quorvel;

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
            var child = Process.Start(new ProcessStartInfo(Environment.ProcessPath!, "roundtrip") { UseShellExecute = false })!;
            child.WaitForExit();
            return child.ExitCode;
        }
        case "bare":
            return Bare.Run();
    }
}
catch (QuorvelException e)
{
    Console.WriteLine($"{e.GetType().Name} {e.Call}: {e.Message}");
    return 1;
}
Console.WriteLine("usage: consumer roundtrip|second|handover|bare|unhandled");
return 2;

static partial class Bare
{
    // Each function's own result: 0, or -1 for a failed call (CLOSE: 1 when
    // it closed a handle). Register 0x10 is made to fail by the test.
    public static int Run()
    {
        Console.WriteLine($"INIT {QUORVEL_INIT()}");
        Console.WriteLine($"WRITE {QUORVEL_WRITE(0x13, 0xC0)}");
        int status = QUORVEL_READ(0x13, out byte value);
        Console.WriteLine($"READ {status} 0x{value:X2}");
        Console.WriteLine($"READ 0x10 {QUORVEL_READ(0x10, out _)}");
        Console.WriteLine($"CLOSE {QUORVEL_CLOSE()}");
        return 0;
    }
}

// The .NET Framework program of run_dotnet_consumer.sh's net48 rows: it
// says its bitness and reads a register, or says why it cannot.
using System;
using Quorvel;

static class Program
{
    static int Main()
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
}

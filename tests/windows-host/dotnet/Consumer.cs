// The package's consumer of Windows step 6, built on the runner for .NET
// Framework 4.8 and .NET 8: it opens the board on a machine that has none.
// Its QuorvelException with the driver's Windows error shows the package's
// native DLL loaded; a DLL that does not load throws something else, which
// ends the program unhandled. C# 7.3: the .NET Framework projects'
// language version.
using System;
using Quorvel;

static class Consumer
{
    static int Main()
    {
        string bits = Environment.Is64BitProcess ? "64-bit" : "32-bit";
        try
        {
            using (new QuorvelBoard())
            {
                Console.WriteLine(bits + ": a board was opened");
                return 1;
            }
        }
        catch (QuorvelException e)
        {
            Console.WriteLine(bits + ": QuorvelException, Windows error " + e.NativeErrorCode);
            return 0;
        }
    }
}

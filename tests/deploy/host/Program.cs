// Runs PowerShell scripts one after another, each in a fresh runspace, as
// "powershell -File SCRIPT" would: their output on standard output, their
// errors on standard error. Exits with the first script's status that is not
// 0, or 0. Test rig under Wine: PowerShell's own console host needs a console
// that Wine does not give a program whose output is redirected.
//
//   QuorvelScriptHost [--constrained-language] SCRIPT...
// --constrained-language: each runspace is made in Constrained Language
// mode, as Windows PowerShell runs a script that App Control for Business
// or AppLocker does not allow.
using System;
using System.IO;
using System.Management.Automation;
using System.Management.Automation.Runspaces;

public static class Program
{
    static int Run(string script, PSLanguageMode languageMode)
    {
        var state = InitialSessionState.CreateDefault2();
        state.ExecutionPolicy = Microsoft.PowerShell.ExecutionPolicy.Bypass;
        state.LanguageMode = languageMode;
        using var runspace = RunspaceFactory.CreateRunspace(state);
        runspace.Open();
        using var shell = PowerShell.Create();
        shell.Runspace = runspace;
        // A script's "exit N" sets $LASTEXITCODE for its caller.
        shell.AddScript("& $args[0]; exit $LASTEXITCODE").AddArgument(script);
        int status;
        try {
            foreach (var item in shell.Invoke()) {
                Console.Out.WriteLine(item?.ToString());
            }
            status = runspace.SessionStateProxy.GetVariable("LASTEXITCODE") is int code ? code : 0;
        } catch (Exception e) {
            Console.Error.WriteLine(e.Message);
            status = 1;
        }
        foreach (var record in shell.Streams.Information) {
            Console.Out.WriteLine(record.ToString());
        }
        foreach (var error in shell.Streams.Error) {
            Console.Error.WriteLine(error.ToString());
            status = status == 0 ? 1 : status;
        }
        return status;
    }

    public static int Main(string[] arguments)
    {
        var languageMode = PSLanguageMode.FullLanguage;
        var scripts = arguments;
        if (arguments.Length > 0 && arguments[0] == "--constrained-language") {
            languageMode = PSLanguageMode.ConstrainedLanguage;
            scripts = arguments[1..];
        }
        // The SDK package brings the built-in modules (Write-Output and the
        // like) beside the program, not where PowerShell looks by default.
        Environment.SetEnvironmentVariable("PSModulePath",
            Path.Combine(AppContext.BaseDirectory, "runtimes", "win", "lib", "net10.0", "Modules"));
        int first = 0;
        foreach (string script in scripts) {
            int status = Run(script, languageMode);
            first = first == 0 ? status : first;
        }
        return first;
    }
}

"""Checks the start-up task definition (deploy/task/QUORVEL-apply-configuration.xml),
which cannot run here: Wine's Task Scheduler reads no triggers. It must be
well-formed Task Scheduler XML in UTF-16, run as SYSTEM on battery too, fire
at start-up and on the System-log events of a return from sleep or
hibernation and of every start (Fast Startup ones among them), each a minute
late, in the schema's element order, and start cmd with a command line that
runs the batch file from "Program Files" and from "Program Files (x86)"
alike, found through the environment, through every layer that reads it:
Task Scheduler hands Arguments to powershell.exe, whose command line the C
runtime splits; cmd /c takes away the first and the last quote.

    check_task.py TASK_XML
    check_task.py --command TASK_XML   prints the command powershell.exe runs
What the command does when run (install found or not, cmd missing, the
retries) is checked by running it in pwsh: tests/deploy/powershell_rows.sh.
"""
import re
import sys
import xml.etree.ElementTree as ET

NS = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
failures = []


def check(holds, what):
    print(("ok   " if holds else "FAIL ") + what)
    if not holds:
        failures.append(what)


def split_command_line(line):
    """The arguments the Microsoft C runtime makes of a command line (2008 rules)."""
    arguments, current, quoted, i, started = [], "", False, 0, False
    while i < len(line):
        c = line[i]
        if c == "\\":
            slashes = len(line[i:]) - len(line[i:].lstrip("\\"))
            if line[i + slashes:i + slashes + 1] == '"':
                current += "\\" * (slashes // 2)
                if slashes % 2:
                    current += '"'
                    i += slashes + 1
                else:
                    i += slashes
                started = True
                continue
            current += "\\" * slashes
            i += slashes
            started = True
            continue
        if c == '"':
            if quoted and line[i + 1:i + 2] == '"':
                current += '"'
                i += 2
                continue
            quoted = not quoted
            started = True
        elif c in " \t" and not quoted:
            if started:
                arguments.append(current)
            current, started = "", False
        else:
            current += c
            started = True
        i += 1
    if started:
        arguments.append(current)
    return arguments


def cmd_c_command(arguments):
    """What cmd /c runs: the text after /c, its first and last quote taken
    away when it starts with one, unless it holds exactly two quotes around
    a program name with a blank and no special character."""
    text = arguments.split("/c ", 1)[1]
    kept = text.count('"') == 2 and text.endswith('"') and " " in text and not re.search(r'[&<>()@^|]', text)
    if text.startswith('"') and not kept:
        last = text.rindex('"')
        text = text[1:last] + text[last + 1:]
    return text


raw = open(sys.argv[-1], "rb").read()
task = ET.fromstring(raw.decode("utf-16"))
action = task.find("t:Actions/t:Exec", NS)
arguments = split_command_line(action.findtext("t:Arguments", namespaces=NS))
if sys.argv[1] == "--command":
    # What powershell.exe runs, for the rows that run it (powershell_rows.sh).
    print(arguments[-1])
    sys.exit(0)

check(raw.startswith(b"\xff\xfe"), "UTF-16 little-endian with a byte-order mark, as schtasks /xml takes it")
check(task.tag == "{%s}Task" % NS["t"], "a Task Scheduler task")
check(task.findtext("t:Principals/t:Principal/t:UserId", namespaces=NS) == "S-1-5-18", "runs as SYSTEM")
settings = task.find("t:Settings", NS)
check(settings.findtext("t:DisallowStartIfOnBatteries", namespaces=NS) == "false" and
      settings.findtext("t:StopIfGoingOnBatteries", namespaces=NS) == "false", "starts and goes on on battery")
check(settings.findtext("t:ExecutionTimeLimit", namespaces=NS) == "PT10M", "stopped after ten minutes")
check(settings.findtext("t:MultipleInstancesPolicy", namespaces=NS) == "IgnoreNew", "a run still going ignores a new one")

triggers = task.find("t:Triggers", NS)
check(all(trigger.findtext("t:Delay", namespaces=NS) == "PT1M" for trigger in triggers), "every trigger a minute late")
check(triggers.find("t:BootTrigger", NS) is not None, "at start-up")
# The schema's sequence for an event trigger: Enabled (from the base
# trigger type), then Subscription, then Delay.
for trigger in triggers.findall("t:EventTrigger", NS):
    order = [child.tag.split("}")[1] for child in trigger]
    check(order == ["Enabled", "Subscription", "Delay"], "an event trigger's elements in the schema's order: %s" % order)
queries = [ET.fromstring(trigger.findtext("t:Subscription", namespaces=NS)).findtext("Query/Select")
           for trigger in triggers.findall("t:EventTrigger", NS)]
check("*[System[Provider[@Name='Microsoft-Windows-Power-Troubleshooter'] and EventID=1]]" in queries,
      "on Power-Troubleshooter 1 (resumed from sleep or hibernation)")
# Event 27's one field, BootType, is written at every start; the trigger
# takes every one rather than hang on how the log renders the value.
check("*[System[Provider[@Name='Microsoft-Windows-Kernel-Boot'] and EventID=27]]" in queries,
      "on every Kernel-Boot 27 (every start, a Fast Startup one among them)")

check(action.findtext("t:Command", namespaces=NS) == r"%SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe",
      "Windows PowerShell")
check(arguments[:5] == ["-NoProfile", "-NonInteractive", "-ExecutionPolicy", "Bypass", "-Command"]
      and len(arguments) == 6, "powershell.exe gets one -Command")
command = arguments[-1]
check(re.search(r"[A-Za-z]:\\", command) is None, "no drive letter in the command")
check("foreach ($root in @($env:ProgramFiles, ${env:ProgramFiles(x86)}))" in command,
      "the install looked for in ProgramFiles, then ProgramFiles(x86)")
found = re.search(r"& \"\$env:SystemRoot\\System32\\cmd\.exe\" /d /c '([^']*)'", command)
check(found is not None, "the loop starts cmd of SystemRoot with one argument")
batch = re.search(r'\$env:QUORVEL_BATCH_FILE = "([^"]*)"', command)
check(batch is not None and batch.group(1) == r"$root\QUORVEL\apply-configuration.cmd", "the batch file's path")
if found:
    for folder in (r"C:\Program Files\QUORVEL", r"C:\Program Files (x86)\QUORVEL"):
        # cmd expands the variable before it takes the quotes away.
        line = found.group(1).replace("%QUORVEL_BATCH_FILE%", folder + r"\apply-configuration.cmd")
        check(cmd_c_command("/c " + line) == '"%s\\apply-configuration.cmd"' % folder,
              "cmd runs the batch file, its path whole in quotes (%s)" % folder)

print("%d failed" % len(failures))
sys.exit(1 if failures else 0)

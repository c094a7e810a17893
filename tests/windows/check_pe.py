#!/usr/bin/env python3
"""Checks what the Windows binaries export, import and carry as resources.

    check_pe.py OBJDUMP DLL EXE VERSION DEF_FILE

Reads the export and import tables through `objdump -p` and the embedded
manifest and version information from the files' bytes; prints every
difference and exits 1 if there is one.
"""
import re
import subprocess
import sys

# What a QUORVEL binary may import: Windows' own DLLs and one C runtime.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll"}
C_RUNTIMES = {"msvcrt.dll", "ucrtbase.dll"}

problems = []


def check(condition, message):
    if not condition:
        problems.append(message)


def private_dump(objdump, path):
    return subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout


def exports(dump):
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return []
    return re.findall(r"^\s+\[\s*\d+\]\s+(\S+)\s*$", table[1], re.MULTILINE)


def imports(dump):
    """{dll name (lower case): [function names]}"""
    result = {}
    for block in re.split(r"\n\s*DLL Name: ", dump)[1:]:
        name, _, rest = block.partition("\n")
        members = []
        for line in rest.splitlines()[1:]:
            fields = line.split()
            if len(fields) < 3 or not re.fullmatch(r"[0-9a-f]+", fields[0]):
                break
            members.append(fields[2])
        result[name.strip().lower()] = members
    return result


def def_names(path):
    with open(path) as f:
        text = f.read().split("EXPORTS", 1)[1]
    return sorted(line.split()[0] for line in text.splitlines() if line.strip())


def utf16(text):
    return text.encode("utf-16-le")


def check_resources(path, version, description_word):
    with open(path, "rb") as f:
        data = f.read()
    check(b'level="asInvoker"' in data and b'uiAccess="false"' in data,
          f"{path}: no asInvoker manifest with uiAccess false")
    for name, value in [("ProductName", "QUORVEL"), ("FileVersion", version), ("ProductVersion", version)]:
        # VERSIONINFO strings: the key, zero padding to a 4-byte boundary, the value.
        pattern = re.escape(utf16(name)) + rb"(\x00\x00)+" + re.escape(utf16(value)) + rb"\x00\x00"
        check(re.search(pattern, data) is not None, f"{path}: version resource lacks {name} = {value}")
    check(re.search(re.escape(utf16("FileDescription")) + rb"(\x00\x00)+" + re.escape(utf16(description_word)), data)
          is not None, f"{path}: version resource lacks a FileDescription starting with {description_word}")
    major, minor, patch = (int(part) for part in version.split("."))
    fixed = (0xFEEF04BD).to_bytes(4, "little") + (0x10000).to_bytes(4, "little") + \
        ((major << 16) | minor).to_bytes(4, "little") + (patch << 16).to_bytes(4, "little")
    check(fixed in data, f"{path}: fixed file version is not {version}")


def main():
    objdump, dll, exe, version, def_file = sys.argv[1:6]
    dll_dump = private_dump(objdump, dll)
    exe_dump = private_dump(objdump, exe)

    check(sorted(exports(dll_dump)) == def_names(def_file),
          f"QUORVEL.dll exports {sorted(exports(dll_dump))}, expected {def_names(def_file)}")
    check(exports(exe_dump) == [], f"the program exports {exports(exe_dump)}")

    dll_imports = imports(dll_dump)
    exe_imports = imports(exe_dump)
    check(sorted(exe_imports.get("quorvel.dll", [])) == ["QUORVEL_CLOSE", "QUORVEL_INIT", "QUORVEL_WRITE"],
          f"the program imports {exe_imports.get('quorvel.dll')} from QUORVEL.dll")
    for name, table in [("QUORVEL.dll", dll_imports), ("the program", exe_imports)]:
        foreign = set(table) - SYSTEM_DLLS - C_RUNTIMES - {"quorvel.dll"}
        check(not foreign, f"{name} imports non-system DLLs {sorted(foreign)}")
    runtimes = [set(table) & C_RUNTIMES for table in (dll_imports, exe_imports)]
    check(runtimes[0] == runtimes[1] and len(runtimes[0]) == 1,
          f"library and program must share one C runtime DLL, have {runtimes}")
    check("wsprintfW" in dll_imports.get("user32.dll", []), "QUORVEL.dll does not format with wsprintfW")

    check_resources(dll, version, "QUORVEL")
    check_resources(exe, version, "QUORVEL")

    for problem in problems:
        print("FAIL:", problem)
    if not problems:
        print(f"ok: exports {sorted(exports(dll_dump))}; program imports {sorted(exe_imports)}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

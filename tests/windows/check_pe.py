#!/usr/bin/env python3
"""Checks what the Windows binaries export, import and carry as resources,
that they ship stripped, with their debug information beside them, and
hardened.

    check_pe.py [--signed] [--epoch SECONDS] OBJDUMP VERSION DEF_FILE DLL PROGRAM...

Reads the export and import tables through `objdump -p`, the sections and
symbols through `objdump -h -t`, the headers, the embedded manifest and
version information from the files' bytes; prints every difference and
exits 1 if there is one. With --signed each binary must carry an
Authenticode certificate table, without it none; with --epoch its PE time
stamp must be SECONDS.
"""
import os
import re
import struct
import subprocess
import sys
import zlib

# What a QUORVEL binary may import: Windows' own DLLs and one C runtime.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll"}
C_RUNTIMES = {"msvcrt.dll", "ucrtbase.dll"}

# What each program calls in QUORVEL.dll.
PROGRAM_IMPORTS = {
    "QUORVELSerialProtocolSelection.exe": ["QUORVEL_CLOSE", "QUORVEL_INIT", "QUORVEL_WRITE"],
    "QUORVELSerialProtocolStatus.exe": ["QUORVEL_CLOSE", "QUORVEL_INIT", "QUORVEL_READ"],
}

# The library must stay small enough to embed anywhere.
DLL_SIZE_LIMIT = 32 * 1024
# Symbols that only the C++ runtime (its exceptions, unwinder, std::) brings.
CXX_RUNTIME_SYMBOL = re.compile(r"__cxa_|__gxx_personality|_Unwind_|_ZSt|_ZNSt|__gnu_cxx")

# IMAGE_OPTIONAL_HEADER.DllCharacteristics
HIGH_ENTROPY_VA = 0x0020
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
# IMAGE_SECTION_HEADER.Characteristics
SECTION_EXECUTE = 0x20000000
SECTION_WRITE = 0x80000000
MACHINE_X86_64 = 0x8664
# The stack protector's guard and failure handler, linked in (from libssp.a).
STACK_PROTECTOR_SYMBOLS = {"__stack_chk_fail", "__stack_chk_guard"}

problems = []


def check(condition, message):
    if not condition:
        problems.append(message)


def private_dump(objdump, path, option="-p"):
    return subprocess.run([objdump, option, path], check=True, capture_output=True, text=True).stdout


def debuglink(objdump, path):
    """(file name, CRC) that the binary's .gnu_debuglink names, or None."""
    dump = subprocess.run([objdump, "-s", "-j", ".gnu_debuglink", path], capture_output=True, text=True).stdout
    data = b""
    for line in dump.splitlines():
        # " ADDRESS WORD WORD WORD WORD  ASCII": up to four words of hex.
        match = re.match(r"^ [0-9a-f]+((?: [0-9a-f]{2,8}){1,4})", line)
        if match:
            data += bytes.fromhex(match.group(1).replace(" ", ""))
    name, _, rest = data.partition(b"\0")
    if not name or len(data) < 4:
        return None
    return name.decode(), int.from_bytes(data[-4:], "little")


def check_stripped(objdump, path):
    """Stripped, and the debug file it names lies beside it with that CRC."""
    sections = re.findall(r"^\s*\d+\s+(\S+)", private_dump(objdump, path, "-h"), re.MULTILINE)
    check(not [s for s in sections if s.startswith(".debug")], f"{path}: carries debug sections")
    check("no symbols" in private_dump(objdump, path, "-t"), f"{path}: carries a symbol table")
    link = debuglink(objdump, path)
    debug_file = path + ".debug"
    check(link is not None and link[0] == os.path.basename(debug_file), f"{path}: .gnu_debuglink is {link}")
    if link and os.path.exists(debug_file):
        with open(debug_file, "rb") as f:
            check(zlib.crc32(f.read()) == link[1], f"{path}: .gnu_debuglink CRC does not match {debug_file}")
    return debug_file


def check_stripped_and_lean(objdump, path):
    """Stripped, with its debug file, and without the C++ runtime, whose
    symbols the debug file would list."""
    debug_file = check_stripped(objdump, path)
    symbols = private_dump(objdump, debug_file if os.path.exists(debug_file) else path, "-t")
    runtime = sorted(set(CXX_RUNTIME_SYMBOL.findall(symbols)))
    check(not runtime, f"{path} carries C++ runtime code ({runtime})")


def pe_headers(path):
    """The COFF and optional header fields these checks need, and the sections."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    machine, section_count, timestamp = struct.unpack_from("<HHI", data, pe + 4)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    pe32_plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
    dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    # Data directory 4 is the certificate table (a file offset, not an RVA).
    directories = optional + (112 if pe32_plus else 96)
    certificate_offset, certificate_size = struct.unpack_from("<II", data, directories + 4 * 8)
    sections = []
    for index in range(section_count):
        header = optional + optional_size + 40 * index
        name = data[header:header + 8].rstrip(b"\0").decode(errors="replace")
        sections.append((name, struct.unpack_from("<I", data, header + 36)[0]))
    return {"machine": machine, "timestamp": timestamp, "dll_characteristics": dll_characteristics,
            "certificate": (certificate_offset, certificate_size), "sections": sections}


def check_hardening(objdump, path, signed, epoch):
    """ASLR (high entropy on x86_64), no-execute data, no section both
    writable and executable, the stack protector linked in, and an
    Authenticode certificate table exactly when the release is signed."""
    headers = pe_headers(path)
    if headers is None:
        check(False, f"{path}: not a PE file")
        return
    flags = headers["dll_characteristics"]
    required = {"DYNAMIC_BASE": DYNAMIC_BASE, "NX_COMPAT": NX_COMPAT}
    if headers["machine"] == MACHINE_X86_64:
        required["HIGH_ENTROPY_VA"] = HIGH_ENTROPY_VA
    for name, bit in required.items():
        check(flags & bit, f"{path}: DllCharacteristics {flags:#06x} lacks {name}")
    for name, characteristics in headers["sections"]:
        check(not (characteristics & SECTION_WRITE and characteristics & SECTION_EXECUTE),
              f"{path}: section {name} is both writable and executable")
    debug_file = path + ".debug"
    symbols = set(re.findall(r"\s(\S+)$", private_dump(objdump, debug_file, "-t"), re.MULTILINE)) \
        if os.path.exists(debug_file) else set()
    # i686 C names carry a leading underscore.
    missing = {name for name in STACK_PROTECTOR_SYMBOLS if name not in symbols and "_" + name not in symbols}
    check(not missing, f"{path}: no stack protection ({debug_file} lacks {sorted(missing)})")
    offset, size = headers["certificate"]
    if signed:
        check(size > 0 and offset + size == os.path.getsize(path),
              f"{path}: no Authenticode certificate table at its end (offset {offset}, size {size})")
    else:
        check(size == 0, f"{path}: carries a certificate table, but the release is not signed")
    if epoch is not None:
        check(headers["timestamp"] == epoch, f"{path}: PE time stamp {headers['timestamp']}, expected {epoch}")


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
    args = sys.argv[1:]
    signed = "--signed" in args
    if signed:
        args.remove("--signed")
    epoch = None
    if "--epoch" in args:
        position = args.index("--epoch")
        epoch = int(args[position + 1])
        del args[position:position + 2]
    objdump, version, def_file, dll = args[:4]
    programs = args[4:]
    dll_dump = private_dump(objdump, dll)
    dll_imports = imports(dll_dump)

    check(sorted(exports(dll_dump)) == def_names(def_file),
          f"QUORVEL.dll exports {sorted(exports(dll_dump))}, expected {def_names(def_file)}")
    check("wsprintfW" in dll_imports.get("user32.dll", []), "QUORVEL.dll does not format with wsprintfW")
    check(os.path.getsize(dll) <= DLL_SIZE_LIMIT, f"QUORVEL.dll is {os.path.getsize(dll)} bytes, over {DLL_SIZE_LIMIT}")
    check_stripped_and_lean(objdump, dll)
    check_hardening(objdump, dll, signed, epoch)
    check_resources(dll, version, "QUORVEL")
    foreign = set(dll_imports) - SYSTEM_DLLS - C_RUNTIMES
    check(not foreign, f"QUORVEL.dll imports non-system DLLs {sorted(foreign)}")

    for program in programs:
        name = os.path.basename(program)
        exe_dump = private_dump(objdump, program)
        exe_imports = imports(exe_dump)
        check(exports(exe_dump) == [], f"{name} exports {exports(exe_dump)}")
        check(sorted(exe_imports.get("quorvel.dll", [])) == PROGRAM_IMPORTS.get(name),
              f"{name} imports {exe_imports.get('quorvel.dll')} from QUORVEL.dll")
        foreign = set(exe_imports) - SYSTEM_DLLS - C_RUNTIMES - {"quorvel.dll"}
        check(not foreign, f"{name} imports non-system DLLs {sorted(foreign)}")
        runtimes = [set(table) & C_RUNTIMES for table in (dll_imports, exe_imports)]
        check(runtimes[0] == runtimes[1] and len(runtimes[0]) == 1,
              f"QUORVEL.dll and {name} must share one C runtime DLL, have {runtimes}")
        check_stripped_and_lean(objdump, program)
        check_hardening(objdump, program, signed, epoch)
        check_resources(program, version, "QUORVEL")

    for problem in problems:
        print("FAIL:", problem)
    if not problems:
        print(f"ok: exports {sorted(exports(dll_dump))}; QUORVEL.dll {os.path.getsize(dll)} bytes; "
              f"{len(programs)} programs; all stripped with their debug files, hardened, "
              f"{'signed' if signed else 'unsigned'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

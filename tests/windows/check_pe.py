#!/usr/bin/env python3
"""Checks what the Windows binaries export, import and carry as resources,
that they ship stripped, each with the PDB it names beside it, and hardened.

    check_pe.py [--signed] [--symbol-server ZIP] [--source-url=URL] OBJDUMP VERSION DEF_FILE DLL PROGRAM...

Reads the export and import tables through `objdump -p`, the sections and
symbols through `objdump -h -t`, the headers, debug entries, embedded
manifest and version information from the files' bytes, and each PDB
through llvm-pdbutil and llvm-symbolizer (LLVM 16); prints every difference
and exits 1 if there is one. With --signed each binary must carry an
Authenticode certificate table, without it none; with --symbol-server,
ZIP must hold the symbol server's tree of exactly these binaries and their
PDBs; with a URL (the build's QUORVEL_SOURCE_URL), each PDB must send its
sources there through its srcsrv stream, without one it must have none.
"""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

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
# mov ecx, 2 (FAST_FAIL_STACK_COOKIE_CHECK_FAILURE); int 0x29: __fastfail's code.
FAST_FAIL_STACK_COOKIE = bytes.fromhex("b902000000cd29")
# IMAGE_DEBUG_DIRECTORY.Type: the CodeView entry naming the PDB, the Repro
# entry (the time stamps are a hash of the content), and the extended DLL
# characteristics, whose CET_COMPAT bit marks x64 binaries compatible with
# shadow stacks.
DEBUG_TYPE_CODEVIEW = 2
DEBUG_TYPE_REPRO = 16
DEBUG_TYPE_EX_DLLCHARACTERISTICS = 20
EX_DLLCHARACTERISTICS_CET_COMPAT = 0x01
PDBUTIL = "llvm-pdbutil-16"
SYMBOLIZER = "llvm-symbolizer-16"
# The function whose address must resolve to its source line, and its source.
KNOWN_FUNCTION = "QUORVEL_WRITE"
KNOWN_FUNCTION_SOURCE = "Demos\\QUORVEL\\QUORVEL.cpp"

problems = []


def check(condition, message):
    if not condition:
        problems.append(message)


def private_dump(objdump, path, option="-p"):
    return subprocess.run([objdump, option, path], check=True, capture_output=True, text=True).stdout


def tool(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def pdb_publics(pdb):
    """{public symbol name: (section number, offset)} of the PDB (empty without it)."""
    if not os.path.exists(pdb):
        return {}
    found = re.findall(r"S_PUB32 \[size = \d+\] `([^`]*)`\s+flags = [^\n]*addr = (\d+):(\d+)",
                       tool(PDBUTIL, "dump", "--publics", pdb))
    return {name: (int(section), int(offset)) for name, section, offset in found}


def guid_text(guid):
    """A GUID's 16 bytes as debuggers write it: the first three fields are
    little-endian numbers, the last eight bytes in order; upper case."""
    return (guid[3::-1] + guid[5:3:-1] + guid[7:5:-1] + guid[8:]).hex().upper()


def check_pdb(objdump, path, headers):
    """Stripped; its CodeView entry names <name>.pdb, without a folder, which
    lies beside it with the same GUID and age (read by llvm-pdbutil) and
    holds types, functions and line numbers. Returns the PDB's path.
    (check_reproducible.sh looks for build folders in binaries and PDBs.)"""
    sections = re.findall(r"^\s*\d+\s+(\S+)", private_dump(objdump, path, "-h"), re.MULTILINE)
    check(not [s for s in sections if s.startswith(".debug")], f"{path}: carries DWARF debug sections")
    check("no symbols" in private_dump(objdump, path, "-t"), f"{path}: carries a symbol table")
    pdb = os.path.splitext(path)[0] + ".pdb"
    codeview = headers["codeview"]
    if codeview is None:
        check(False, f"{path}: no CodeView debug entry")
        return pdb
    check(codeview["pdb"] == os.path.basename(pdb), f"{path}: its CodeView entry names '{codeview['pdb']}', "
          f"expected {os.path.basename(pdb)} without a folder")
    if not os.path.exists(pdb):
        check(False, f"{path}: no {pdb} beside it")
        return pdb
    summary = tool(PDBUTIL, "dump", "--summary", pdb)
    pdb_guid = re.search(r"GUID: \{([0-9A-F-]+)\}", summary)
    pdb_age = re.search(r"Age: (\d+)", summary)
    check(pdb_guid and pdb_guid.group(1).replace("-", "") == guid_text(codeview["guid"]),
          f"{path}: GUID {guid_text(codeview['guid'])}, its PDB's {pdb_guid and pdb_guid.group(1)}")
    check(pdb_age and int(pdb_age.group(1)) == codeview["age"],
          f"{path}: age {codeview['age']}, its PDB's {pdb_age and pdb_age.group(1)}")
    for item in ("Has Debug Info: true", "Has Types: true", "Has IDs: true"):
        check(item in summary, f"{pdb}: summary lacks '{item}'")
    return pdb


def check_known_address(dll, pdb, exports_rva, image_base, source_dir):
    """KNOWN_FUNCTION's exported address resolves through llvm-symbolizer to
    that function, in its source file, at a line of its body, and only with
    the PDB (the DLL alone has no line information)."""
    rva = exports_rva.get(KNOWN_FUNCTION)
    if rva is None or not os.path.exists(pdb):
        check(False, f"{dll}: no {KNOWN_FUNCTION} export or no PDB to resolve it")
        return
    with open(os.path.join(source_dir, KNOWN_FUNCTION_SOURCE.replace("\\", "/"))) as f:
        lines = f.read().splitlines()
    first = next((n for n, line in enumerate(lines, 1) if f" {KNOWN_FUNCTION}(" in line and "extern" in line), 0)
    last = next((n for n, line in enumerate(lines, 1) if n > first and line.startswith("}")), 0)
    address = f"{image_base + rva:#x}"
    with tempfile.TemporaryDirectory() as work:
        copy = shutil.copy(dll, work)
        without_pdb = tool(SYMBOLIZER, f"--obj={copy}", address).split("\n")
        shutil.copy(pdb, work)
        with_pdb = tool(SYMBOLIZER, f"--obj={copy}", address).split("\n")
    where = re.fullmatch(r"(.*):(\d+):\d+", with_pdb[1]) if len(with_pdb) > 1 else None
    check(with_pdb[0] == KNOWN_FUNCTION and where and where.group(1) == KNOWN_FUNCTION_SOURCE
          and first <= int(where.group(2)) <= last,
          f"{dll}: {address} resolves to {with_pdb[:2]}, expected {KNOWN_FUNCTION} in {KNOWN_FUNCTION_SOURCE} "
          f"lines {first}-{last}")
    check(without_pdb[:2] == ["??", "??:0:0"], f"{dll}: without its PDB, {address} still resolves: {without_pdb[:2]}")


def check_source_checksum(dll, pdb, source_dir):
    """The MD5 the PDB holds for KNOWN_FUNCTION_SOURCE is that of the file as
    the repository holds it, and .gitattributes keeps it so in every
    checkout (LF, also with core.autocrlf=true on Windows): a debugger
    that requires sources to match takes a checkout of the release's commit."""
    relative = KNOWN_FUNCTION_SOURCE.replace("\\", "/")
    with open(os.path.join(source_dir, relative), "rb") as f:
        expected = hashlib.md5(f.read()).hexdigest().upper()
    recorded = set(re.findall(re.escape(KNOWN_FUNCTION_SOURCE) + r" \(MD5: ([0-9A-F]{32})\)",
                              tool(PDBUTIL, "dump", "-l", pdb))) if os.path.exists(pdb) else set()
    check(recorded == {expected}, f"{pdb}: MD5 of {KNOWN_FUNCTION_SOURCE} {sorted(recorded)}, the file's is {expected}")
    if shutil.which("git") and os.path.exists(os.path.join(source_dir, ".git")):
        attributes = tool("git", "-C", source_dir, "check-attr", "eol", "--", relative).strip()
        check(attributes.endswith("eol: lf"), f"{dll}: {relative} is not pinned to LF in every checkout ({attributes})")


def srcsrv_targets(stream):
    """{path as the PDB records it (lower case): the URL srcsrv makes of it}:
    each source file line's fields become %var1%, %var2%..., and SRCSRVTRG
    is expanded with them and the stream's variables, as a debugger does."""
    variables, targets = {}, {}
    section = None
    for line in stream.splitlines():
        if line.startswith("SRCSRV: "):
            section = line.split()[1]
        elif section == "variables" and "=" in line:
            name, _, value = line.partition("=")
            variables[name.upper()] = value
        elif section == "source":
            fields = {f"VAR{index}": field for index, field in enumerate(line.split("*"), 1)}
            target = variables.get("SRCSRVTRG", "")
            for _ in range(8):
                target = re.sub(r"%(\w+)%", lambda m: fields.get(m.group(1).upper(),
                                                                  variables.get(m.group(1).upper(), "")), target)
            targets[fields["VAR1"].lower()] = target
    return targets


def check_source_index(path, pdb, source_url):
    """Given the sources' URL, the PDB's srcsrv stream sends each of its
    source files in the checkout (each path it records that is not the
    toolchain's, under /usr) to that URL plus the file's path; without a
    URL, the PDB has no such stream."""
    with tempfile.TemporaryDirectory() as work:
        exported = subprocess.run([PDBUTIL, "export", "--stream=srcsrv", f"--out={work}/srcsrv", pdb],
                                  capture_output=True, text=True)
        stream = open(f"{work}/srcsrv", encoding="ascii").read() if exported.returncode == 0 else None
    if not source_url:
        check(stream is None, f"{pdb}: a srcsrv stream, but the build was given no URL for its sources")
        return
    if stream is None:
        check(False, f"{pdb}: no srcsrv stream, though the build was given {source_url}")
        return
    targets = srcsrv_targets(stream)
    sources = {name for name in re.findall(r"^- \(MD5: [0-9A-F]+\) (.*)$", tool(PDBUTIL, "dump", "--files", pdb),
                                           re.MULTILINE) if not name.startswith("/")}
    check(sources, f"{pdb}: records no source file of the checkout")
    for source in sorted(sources):
        expected = source_url + source.replace("\\", "/")
        check(targets.get(source.lower()) == expected,
              f"{pdb}: srcsrv sends {source} to {targets.get(source.lower())}, expected {expected}")


def check_lean(path, pdb):
    """No C++ runtime code: its symbols would be among the PDB's publics."""
    runtime = sorted({match for name in pdb_publics(pdb) for match in CXX_RUNTIME_SYMBOL.findall(name)})
    check(not runtime, f"{path} carries C++ runtime code ({runtime})")


def symbol_server_tree(binaries):
    """{path in the tree: the file it must be}: the paths a debugger's symbol
    server client asks a store for, each binary's PDB and the binary itself
    (for a minidump's module), named from the binary's own header and
    CodeView entry and formatted as that client formats them (an HTTP store
    on a case-sensitive server finds nothing under any other spelling): the
    GUID's fields %08X%04X%04X, its last eight bytes %02X each, the age %x;
    the time stamp %08X, the image size %x."""
    tree = {}
    for binary in binaries:
        headers = pe_headers(binary)
        name = os.path.basename(binary)
        codeview = headers and headers["codeview"]
        if not codeview:
            continue
        pdb = codeview["pdb"]
        data1, data2, data3 = struct.unpack_from("<IHH", codeview["guid"])
        guid_key = "%08X%04X%04X" % (data1, data2, data3) + "".join("%02X" % b for b in codeview["guid"][8:])
        tree["%s/%s%x/%s" % (pdb, guid_key, codeview["age"], pdb)] = os.path.join(os.path.dirname(binary), pdb)
        tree["%s/%08X%x/%s" % (name, headers["timestamp"], headers["size_of_image"], name)] = binary
    return tree


def check_symbol_server(zip_path, binaries):
    """The ZIP holds the tree and nothing more, each file the very bytes, and
    pingme.txt at its root: without it DbgHelp and Visual Studio take the
    unpacked folder, named plainly on a symbol path, for a folder of loose
    PDBs and find nothing in it."""
    expected = symbol_server_tree(binaries)
    expected["pingme.txt"] = os.devnull
    with zipfile.ZipFile(zip_path) as archive:
        names = sorted(name for name in archive.namelist() if not name.endswith("/"))
        check(names == sorted(expected), f"{zip_path} holds {names}, expected {sorted(expected)}")
        for name in set(names) & set(expected):
            with open(expected[name], "rb") as f:
                check(archive.read(name) == f.read(), f"{zip_path}: {name} is not {expected[name]}")


def pe_headers(path):
    """The COFF and optional header fields these checks need, the sections,
    the CodeView debug entry ({"guid", "age", "pdb"}, or None) and the
    extended DLL characteristics (None without that debug entry)."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    machine, section_count, timestamp = struct.unpack_from("<HHI", data, pe + 4)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    pe32_plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
    size_of_image = struct.unpack_from("<I", data, optional + 56)[0]
    dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    # Data directory 4 is the certificate table (a file offset, not an RVA),
    # 6 the debug directory (an RVA).
    directories = optional + (112 if pe32_plus else 96)
    certificate_offset, certificate_size = struct.unpack_from("<II", data, directories + 4 * 8)
    debug_rva, debug_size = struct.unpack_from("<II", data, directories + 6 * 8)
    sections = []
    # Where each section's bytes start in the file.
    section_offsets = []
    debug_offset = None
    for index in range(section_count):
        header = optional + optional_size + 40 * index
        name = data[header:header + 8].rstrip(b"\0").decode(errors="replace")
        virtual_size, virtual_address, _, raw_pointer = struct.unpack_from("<IIII", data, header + 8)
        sections.append((name, struct.unpack_from("<I", data, header + 36)[0]))
        section_offsets.append(raw_pointer)
        if virtual_address <= debug_rva < virtual_address + virtual_size:
            debug_offset = raw_pointer + debug_rva - virtual_address
    codeview = ex_dll_characteristics = None
    debug_types, debug_timestamps = set(), set()
    # IMAGE_DEBUG_DIRECTORY entries, 28 bytes each: TimeDateStamp at 4, Type
    # at 12, SizeOfData at 16, PointerToRawData at 24.
    for entry in range(debug_offset or 0, (debug_offset or 0) + debug_size if debug_offset else 0, 28):
        kind, size, pointer = struct.unpack_from("<II4xI", data, entry + 12)
        debug_types.add(kind)
        debug_timestamps.add(struct.unpack_from("<I", data, entry + 4)[0])
        if kind == DEBUG_TYPE_CODEVIEW and data[pointer:pointer + 4] == b"RSDS":
            codeview = {"guid": data[pointer + 4:pointer + 20], "age": struct.unpack_from("<I", data, pointer + 20)[0],
                        "pdb": data[pointer + 24:pointer + size].split(b"\0")[0].decode(errors="replace")}
        elif kind == DEBUG_TYPE_EX_DLLCHARACTERISTICS and size >= 4:
            ex_dll_characteristics = struct.unpack_from("<I", data, pointer)[0]
    return {"machine": machine, "timestamp": timestamp, "size_of_image": size_of_image,
            "dll_characteristics": dll_characteristics, "certificate": (certificate_offset, certificate_size),
            "sections": sections, "section_offsets": section_offsets, "codeview": codeview,
            "ex_dll_characteristics": ex_dll_characteristics,
            "debug_types": debug_types, "debug_timestamps": debug_timestamps}


def check_hardening(path, headers, pdb, signed):
    """ASLR (high entropy on x86_64), no-execute data, no section both
    writable and executable, CET shadow stack compatibility on x86_64, the
    stack protector linked in, and an Authenticode certificate table exactly
    when the release is signed."""
    flags = headers["dll_characteristics"]
    required = {"DYNAMIC_BASE": DYNAMIC_BASE, "NX_COMPAT": NX_COMPAT}
    if headers["machine"] == MACHINE_X86_64:
        required["HIGH_ENTROPY_VA"] = HIGH_ENTROPY_VA
        extended = headers["ex_dll_characteristics"]
        check(extended is not None and extended & EX_DLLCHARACTERISTICS_CET_COMPAT,
              f"{path}: not marked CET-compatible (extended DLL characteristics: {extended})")
    for name, bit in required.items():
        check(flags & bit, f"{path}: DllCharacteristics {flags:#06x} lacks {name}")
    for name, characteristics in headers["sections"]:
        check(not (characteristics & SECTION_WRITE and characteristics & SECTION_EXECUTE),
              f"{path}: section {name} is both writable and executable")
    symbols = pdb_publics(pdb)
    # i686 C names carry a leading underscore.
    missing = {name for name in STACK_PROTECTOR_SYMBOLS if name not in symbols and "_" + name not in symbols}
    check(not missing, f"{path}: no stack protection ({pdb} lacks {sorted(missing)})")
    # The failure handler is ours, named in the PDB: its code ends the
    # process with __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE), not
    # libssp's message and illegal instruction.
    handler = symbols.get("__stack_chk_fail") or symbols.get("___stack_chk_fail")
    code = b""
    if handler and 1 <= handler[0] <= len(headers["section_offsets"]):
        with open(path, "rb") as f:
            f.seek(headers["section_offsets"][handler[0] - 1] + handler[1])
            code = f.read(16)
    check(FAST_FAIL_STACK_COOKIE in code,
          f"{path}: __stack_chk_fail ({handler}) is not __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE): {code.hex()}")
    offset, size = headers["certificate"]
    if signed:
        check(size > 0 and offset + size == os.path.getsize(path),
              f"{path}: no Authenticode certificate table at its end (offset {offset}, size {size})")
    else:
        check(size == 0, f"{path}: carries a certificate table, but the release is not signed")
    # The time stamp is a hash of the content, as a Repro debug entry says,
    # and the debug entries carry it too: the same in any rebuild, and each
    # binary's own key in a symbol store (one time for all would give the
    # win64 and win32 QUORVEL.dll the same key where their images are the
    # same size).
    check(DEBUG_TYPE_REPRO in headers["debug_types"] and headers["debug_timestamps"] == {headers["timestamp"]},
          f"{path}: PE time stamp {headers['timestamp']:#x} is not the content hash of a Repro debug entry "
          f"(debug entries {sorted(headers['debug_types'])}, time stamps {sorted(headers['debug_timestamps'])})")


def check_binary(objdump, path, signed, source_url):
    """The checks every shipped binary passes; returns its PDB's path."""
    headers = pe_headers(path)
    if headers is None:
        check(False, f"{path}: not a PE file")
        return os.path.splitext(path)[0] + ".pdb"
    pdb = check_pdb(objdump, path, headers)
    if os.path.exists(pdb):
        check_source_index(path, pdb, source_url)
    check_lean(path, pdb)
    check_hardening(path, headers, pdb, signed)
    return pdb


def export_addresses(dump):
    """{exported name: RVA}, from objdump's export address and name tables."""
    rvas = dict(re.findall(r"^\s+\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) Export RVA", dump, re.MULTILINE))
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    names = re.findall(r"^\s+\[\s*(\d+)\]\s+(\S+)\s*$", table[1], re.MULTILINE) if len(table) > 1 else []
    return {name: int(rvas[index], 16) for index, name in names if index in rvas}


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
    symbol_server = None
    if "--symbol-server" in args:
        position = args.index("--symbol-server")
        symbol_server = args[position + 1]
        del args[position:position + 2]
    source_url = ""
    for arg in [arg for arg in args if arg.startswith("--source-url=")]:
        source_url = arg.split("=", 1)[1]
        args.remove(arg)
    objdump, version, def_file, dll = args[:4]
    programs = args[4:]
    source_dir = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(def_file))))
    dll_dump = private_dump(objdump, dll)
    dll_imports = imports(dll_dump)

    check(sorted(exports(dll_dump)) == def_names(def_file),
          f"QUORVEL.dll exports {sorted(exports(dll_dump))}, expected {def_names(def_file)}")
    check("wsprintfW" in dll_imports.get("user32.dll", []), "QUORVEL.dll does not format with wsprintfW")
    check(os.path.getsize(dll) <= DLL_SIZE_LIMIT, f"QUORVEL.dll is {os.path.getsize(dll)} bytes, over {DLL_SIZE_LIMIT}")
    pdb = check_binary(objdump, dll, signed, source_url)
    image_base = re.search(r"^ImageBase\s+([0-9a-fA-F]+)", dll_dump, re.MULTILINE)
    check_known_address(dll, pdb, export_addresses(dll_dump), int(image_base.group(1), 16) if image_base else 0,
                        source_dir)
    check_source_checksum(dll, pdb, source_dir)
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
        check_binary(objdump, program, signed, source_url)
        check_resources(program, version, "QUORVEL")
    if symbol_server:
        check_symbol_server(symbol_server, [dll] + programs)

    for problem in problems:
        print("FAIL:", problem)
    if not problems:
        print(f"ok: exports {sorted(exports(dll_dump))}; QUORVEL.dll {os.path.getsize(dll)} bytes; "
              f"{len(programs)} programs; all stripped, each with its PDB (GUID and age agree, "
              f"{KNOWN_FUNCTION} resolves to its line), hardened, {'signed' if signed else 'unsigned'}"
              f"{'; the symbol server tree complete' if symbol_server else ''}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

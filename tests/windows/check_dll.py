#!/usr/bin/env python3
"""Checks the tables of a built JQelAgtMsg DLL as Windows and a JVM see them.

Reads the headers, the export and import tables with the cross toolchain's
objdump and the resources with its windres, then compares them with what the
library must carry on the given architecture: the file format, exactly the
expected exports, the agent operations imported by ordinal alone, the
converters under their Visual C++ decorated names, exactly free, malloc and
strlen from the right C runtime, no other DLL, the version resource and, on
x86, the manifest naming the side-by-side C runtime. Also the rules that
security scanners hold a DLL to, read from the PE headers themselves: ASLR
with relocations, DEP, on x86 no structured exception handling (NO_SEH), on
x64 high-entropy ASLR, no section both writable and executable, no shared
writable section, and imports outside executable sections. Prints every
mismatch; fails if any.

usage: check_dll.py --objdump OBJDUMP --windres WINDRES --arch x86|x64
                    --version X.Y.Z --exports LIST DLL
"""
import argparse
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

AGENT_DLL = "libqelagtapi.dll"
CONVERTER_DLL = "JQelAgtbase.dll"
AGENT_ORDINALS = {3, 4, 5, 37, 38, 39, 40}
# What the library takes from the C runtime: free for what the product's
# libraries hand it, malloc and strlen for its own strings.
CRT_FUNCTIONS = {"free", "malloc", "strlen"}

ARCH = {
    "x86": {
        "format": "pei-i386", "magic": "PE32", "crt": "MSVCR80.dll",
        "converters": {"?convertStringFromUTF@@YAPADPBD@Z",
                       "?convertStringToUTF@@YAPAV_jstring@@PADPAUJNIEnv_@@@Z"},
        "manifest": True,
        # The 32-bit loader calls only exception handlers that an image lists
        # in a SafeSEH table, and none at all in an image flagged NO_SEH.
        # Neither GCC nor GNU ld makes a SafeSEH table (GCC's x86 code unwinds
        # with DWARF tables and registers no handler), so the DLL says NO_SEH.
        "dll_characteristics": {"DYNAMIC_BASE", "NX_COMPAT", "NO_SEH"},
    },
    "x64": {
        "format": "pei-x86-64", "magic": "PE32+", "crt": "msvcrt.dll",
        "converters": {"?convertStringFromUTF@@YAPEADPEBD@Z",
                       "?convertStringToUTF@@YAPEAV_jstring@@PEADPEAUJNIEnv_@@@Z"},
        "manifest": False,
        # x64 code registers no handlers at run time (its unwinding is the
        # tables of .pdata), so NO_SEH and SafeSEH do not apply; ASLR takes
        # the whole 64-bit address space.
        "dll_characteristics": {"DYNAMIC_BASE", "NX_COMPAT", "HIGH_ENTROPY_VA"},
    },
}

VERSION_KEYS = ["FileDescription", "OriginalFilename", "FileVersion",
                "LegalCopyright", "CompanyName", "ProductName",
                "ProductVersion", "BuildDate", "Comments"]
# As C's asctime() writes it: day and month names, the day padded with a
# blank to two places, hh:mm:ss, the four-digit year.
BUILD_DATE = re.compile(r"(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                        r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                        r"( [1-9]|[12][0-9]|3[01]) "
                        r"([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] [0-9]{4}")
VC80_IDENTITY = {"type": "win32", "name": "Microsoft.VC80.CRT",
                 "processorArchitecture": "x86",
                 "publicKeyToken": "1fc8b3b9a1e18e3b"}


# IMAGE_DLLCHARACTERISTICS_* and IMAGE_SCN_MEM_* of the PE format.
DLL_CHARACTERISTICS = {"HIGH_ENTROPY_VA": 0x0020, "DYNAMIC_BASE": 0x0040,
                       "NX_COMPAT": 0x0100, "NO_SEH": 0x0400}
SCN_SHARED, SCN_EXECUTE, SCN_WRITE = 0x10000000, 0x20000000, 0x80000000
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMPORT_DIRECTORY, RELOCATION_DIRECTORY, IAT_DIRECTORY = 1, 5, 12


def run(*command):
    return subprocess.run(command, check=True, capture_output=True,
                          text=True).stdout


def parse_headers(text):
    """The file format, PE magic and whether the image is a DLL."""
    fmt = re.search(r"file format (\S+)", text).group(1)
    magic = re.search(r"^Magic\s+\S+\s+\((\S+)\)", text, re.M).group(1)
    flags = re.search(r"^Characteristics .*?\n\n", text, re.M | re.S).group(0)
    return fmt, magic, bool(re.search(r"^\tDLL$", flags, re.M))


def parse_pe(data):
    """What the loader and the scanners read of the headers: the COFF
    characteristics, the DLL characteristics, the data directories as
    [(rva, size)], the sections as [(name, rva, size, characteristics)] and
    the image version as [major, minor]."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    sections, optional_size, characteristics = struct.unpack_from("<H12xHH", data, pe + 6)
    optional = pe + 24
    magic, = struct.unpack_from("<H", data, optional)
    dll_characteristics, = struct.unpack_from("<H", data, optional + 70)
    image_version = list(struct.unpack_from("<HH", data, optional + 44))
    count_at = optional + (92 if magic == 0x10B else 108)
    count, = struct.unpack_from("<I", data, count_at)
    directories = [struct.unpack_from("<II", data, count_at + 4 + 8 * i) for i in range(count)]
    table = optional + optional_size
    section_list = []
    for i in range(sections):
        name, virtual_size, rva, raw_size, flags = struct.unpack_from(
            "<8sIII16xI", data, table + 40 * i)
        section_list.append((name.rstrip(b"\0").decode("latin-1"), rva,
                             virtual_size or raw_size, flags))
    return characteristics, dll_characteristics, directories, section_list, image_version


def security_rules(pe, want):
    """[(rule, actual, expected)] for the PE rules of the architecture."""
    characteristics, dll_characteristics, directories, sections = pe[:4]
    flags = {name for name, bit in DLL_CHARACTERISTICS.items() if dll_characteristics & bit}

    def directory(index):
        return directories[index] if index < len(directories) else (0, 0)

    def holding(rva):
        return [n for n, start, size, _ in sections if start <= rva < start + size]

    relocations = directory(RELOCATION_DIRECTORY)
    imports = {rva for rva, size in (directory(IMPORT_DIRECTORY), directory(IAT_DIRECTORY))
               if size}
    executable = {n for n, _, _, f in sections if f & SCN_EXECUTE}
    return [
        ("DllCharacteristics", sorted(flags & set(want["dll_characteristics"])),
         sorted(want["dll_characteristics"])),
        ("relocations kept for ASLR",
         relocations[1] > 0 and not characteristics & IMAGE_FILE_RELOCS_STRIPPED, True),
        ("no section both writable and executable",
         [n for n, _, _, f in sections if f & SCN_WRITE and f & SCN_EXECUTE], []),
        ("no shared writable section",
         [n for n, _, _, f in sections if f & SCN_WRITE and f & SCN_SHARED], []),
        ("imports in sections that are not executable",
         sorted({n for rva in imports for n in holding(rva)} & executable)
         if imports else ["no import table"], []),
    ]


def parse_exports(text):
    """The exported names, in the order of the name table."""
    part = text.split("[Ordinal/Name Pointer] Table", 1)
    if len(part) < 2:
        return []
    return re.findall(r"^\t\[\s*\d+\] (\S+)$", part[1].split("\n\n", 1)[0], re.M)


def parse_imports(text, pointer_bits):
    """{dll: [entry]}, an entry being "#<ordinal>" for an import by ordinal
    alone and the name for an import by name. An import by ordinal is a
    thunk with its top bit set and the ordinal in its low 16 bits (objdump
    prints that ordinal in decimal for PE32 but in hex for PE32+, so it is
    taken from the thunk); objdump shows no name for it."""
    imports = {}
    for block in re.split(r"\n\s*DLL Name: ", text)[1:]:
        dll, _, rest = block.partition("\n")
        entries = imports.setdefault(dll.strip(), [])
        for vma, name in re.findall(
                r"^\t([0-9a-f]+)\t\s*[0-9a-f]+\s+(\S+)", rest.split("\n\n", 1)[0], re.M):
            thunk = int(vma, 16)
            if thunk >> (pointer_bits - 1) == 1:
                ordinal = f"#{thunk & 0xFFFF}"
                entries.append(ordinal if name == "<none>" else f"{ordinal} {name}")
            else:
                entries.append(name)
    return imports


def parse_resources(rc):
    """The VERSIONINFO as {"fixed": {...}, "values": [(path, key, value)]},
    and the text of the resource 2 of type 24, if any."""
    version = {"fixed": {}, "values": []}
    manifest = None
    path, pending, in_manifest = [], None, False
    for line in rc.splitlines():
        line = line.strip()
        if in_manifest:
            if line == "END":
                in_manifest = False
            elif line.startswith('"'):
                manifest += bytes(line[1:-1].replace('""', '"'), "utf-8").decode(
                    "unicode_escape")
            continue
        if re.match(r"2 24\b", line):
            manifest, in_manifest = "", True
            continue
        m = re.match(r"(FILEVERSION|PRODUCTVERSION) (.*)", line)
        if m:
            version["fixed"][m.group(1)] = [int(n) for n in m.group(2).split(",")]
        m = re.match(r'BLOCK "([^"]*)"', line)
        if m:
            pending = m.group(1)
        elif line == "BEGIN":
            path.append(pending)
            pending = None
        elif line == "END":
            path.pop()
        m = re.match(r'VALUE "([^"]*)",\s*(.*)', line)
        if m:
            value = m.group(2)
            if value.startswith('"'):
                value = value[1:-1].replace('""', '"')
            version["values"].append(("/".join(p for p in path if p), m.group(1), value))
    if in_manifest:
        manifest = None
    return version, manifest


def manifest_identities(text):
    ns = {"a": "urn:schemas-microsoft-com:asm.v1"}
    root = ET.fromstring(text)
    return [e.attrib for e in root.findall(
        "a:dependency/a:dependentAssembly/a:assemblyIdentity", ns)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--windres", required=True)
    parser.add_argument("--arch", required=True, choices=sorted(ARCH))
    parser.add_argument("--version", required=True)
    parser.add_argument("--exports", required=True)
    parser.add_argument("dll")
    args = parser.parse_args()
    want = ARCH[args.arch]

    dump = run(args.objdump, "-p", args.dll)
    fmt, magic, is_dll = parse_headers(dump)
    exports = parse_exports(dump)
    imports = {dll.lower(): entries for dll, entries in
               parse_imports(dump, 32 if want["magic"] == "PE32" else 64).items()}
    version, manifest = parse_resources(
        run(args.windres, "--input-format=coff", "-i", args.dll, "-O", "rc"))
    with open(args.dll, "rb") as f:
        pe = parse_pe(f.read())
    with open(args.exports) as f:
        expected_exports = sorted(line.strip() for line in f if line.strip())

    agent = imports.get(AGENT_DLL.lower(), [])
    converters = imports.get(CONVERTER_DLL.lower(), [])
    crt = imports.get(want["crt"].lower(), [])
    strings = [(k, v) for p, k, v in version["values"] if p.startswith("StringFileInfo")]
    tables = sorted({p for p, _, _ in version["values"] if p.startswith("StringFileInfo")})
    values = dict(strings)
    numbers = [int(n) for n in args.version.split(".")]
    numbers += [0] * (4 - len(numbers))

    checks = [
        ("file format", fmt, want["format"]),
        ("PE magic", magic, want["magic"]),
        ("image is a DLL", is_dll, True),
        ("exports, exactly", sorted(exports), expected_exports),
        ("no export named twice", len(exports), len(set(exports))),
        ("imported DLLs, exactly", sorted(imports),
         sorted({AGENT_DLL.lower(), CONVERTER_DLL.lower(), want["crt"].lower()})),
        ("agent operations by ordinal, without names",
         sorted(agent), sorted(f"#{n}" for n in AGENT_ORDINALS)),
        ("converters by decorated name", sorted(converters), sorted(want["converters"])),
        ("C runtime functions from " + want["crt"] + ", exactly", sorted(crt), sorted(CRT_FUNCTIONS)),
        ("string tables", tables, ["StringFileInfo/040904b0"]),
        ("version keys, in order", [k for k, _ in strings], VERSION_KEYS),
        ("FileDescription", values.get("FileDescription"), "JQelAgtMsg"),
        ("OriginalFilename", values.get("OriginalFilename"), "JQelAgtMsg.dll"),
        ("FileVersion", values.get("FileVersion"), args.version),
        ("ProductVersion", values.get("ProductVersion"), args.version),
        ("Comments", values.get("Comments"), ""),
        ("BuildDate in asctime's 24 characters",
         bool(BUILD_DATE.fullmatch(values.get("BuildDate", ""))), True),
        ("product keys filled in",
         all(values.get(k) for k in ("LegalCopyright", "CompanyName", "ProductName")), True),
        ("Translation", [v for p, k, v in version["values"] if k == "Translation"],
         ["0x409, 1200"]),
        ("FILEVERSION", version["fixed"].get("FILEVERSION"), numbers),
        ("PRODUCTVERSION", version["fixed"].get("PRODUCTVERSION"), numbers),
        ("image version, the file version's major.minor", pe[4], numbers[:2]),
        ("manifest resource 2 of type 24 present", manifest is not None, want["manifest"]),
    ]
    checks += security_rules(pe, want)
    if want["manifest"] and manifest is not None:
        identities = manifest_identities(manifest)
        checks.append(("manifest names Microsoft.VC80.CRT",
                       [{k: i.get(k) for k in VC80_IDENTITY} for i in identities],
                       [VC80_IDENTITY]))

    failed = [c for c in checks if c[1] != c[2]]
    for name, actual, expected in checks:
        print(("FAIL " if (name, actual, expected) in failed else "ok   ") + name)
    for name, actual, expected in failed:
        print(f"\n{name}:\n  expected {expected!r}\n  actual   {actual!r}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

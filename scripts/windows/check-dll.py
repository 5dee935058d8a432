#!/usr/bin/env python3
"""Checks a cross-built Windows DLL at the binary level.

  check-dll.py [--objdump TOOL] [--export NAME]... [--version-string KEY=VALUE]...
               [--file-version A.B.C.D] [--product-version A.B.C.D] DLL

- the file is a PE32+ image for x86-64 (objdump -p);
- its exports are exactly the --export names (when any are given);
- it imports system DLLs only: none of the MinGW runtime DLLs;
- its version resource (read from .rsrc here) holds the given strings and numbers.
Exits 1 with one line per violation.
"""
import argparse
import re
import struct
import subprocess
import sys

# DLLs that come with every Windows installation; anything else (the MinGW runtime DLLs
# libstdc++-6, libgcc_s_seh-1, libwinpthread-1, or a zlib/libpng DLL) would have to be shipped.
SYSTEM_DLLS = {
    "advapi32", "avrt", "bcrypt", "cfgmgr32", "comctl32", "comdlg32", "crypt32", "d2d1", "d3d11",
    "dbghelp", "dsound", "dwmapi", "dwrite", "dxgi", "gdi32", "gdiplus", "hid", "imm32",
    "iphlpapi", "kernel32", "ksuser", "mpr", "msimg32", "msvcrt", "netapi32", "ntdll", "ole32",
    "oleaut32", "opengl32", "powrprof", "psapi", "rpcrt4", "secur32", "setupapi", "shcore",
    "shell32", "shlwapi", "ucrtbase", "user32", "userenv", "usp10", "uxtheme", "version",
    "winhttp", "wininet", "winmm", "winspool", "ws2_32", "wsock32", "wtsapi32",
}


def is_system_dll(name):
    stem = name.lower().rsplit(".", 1)[0]
    return stem in SYSTEM_DLLS or stem.startswith("api-ms-win-")


def objdump_facts(objdump, path):
    run = subprocess.run([objdump, "-p", path], capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit("FAIL: %s cannot read %s: %s" % (objdump, path, run.stderr.strip()))
    out = run.stdout
    fmt = re.search(r"file format (\S+)", out)
    magic = re.search(r"^Magic\s+([0-9a-fA-F]+)", out, re.M)
    imports = re.findall(r"^\s*DLL Name:\s*(\S+)", out, re.M)
    exports = []
    table = re.search(r"\[Ordinal/Name Pointer\] Table\n((?:\s*\[\s*\d+\]\s+\S+\n)*)", out)
    if table:
        exports = re.findall(r"\[\s*\d+\]\s+(\S+)", table.group(1))
    # Every entry of the export address table, named or not (an export by ordinal only has none).
    addresses = re.search(r"Export Address Table -- Ordinal Base \d+\n((?:\s*\[\s*\d+\].*\n)*)", out)
    address_count = len(re.findall(r"\[\s*\d+\]", addresses.group(1))) // 2 if addresses else 0
    return (fmt.group(1) if fmt else None, magic.group(1).lower() if magic else None,
            imports, exports, address_count)


# --- PE resources -----------------------------------------------------------------------------

def read_pe(data):
    if data[:2] != b"MZ":
        raise ValueError("not an MZ image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    ddir = opt + (112 if magic == 0x20B else 96)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, ddir + 2 * 8)
    sections = []
    sec = opt + optsize
    for i in range(nsections):
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, sec + 40 * i + 8)
        sections.append((va, max(vsize, rawsize), rawptr))
    return machine, magic, rsrc_rva, rsrc_size, sections


def rva_to_offset(sections, rva):
    for va, size, rawptr in sections:
        if va <= rva < va + size:
            return rawptr + (rva - va)
    raise ValueError("RVA 0x%x is in no section" % rva)


def version_resource(data):
    """Returns the raw VS_VERSIONINFO block, or None."""
    _, _, rsrc_rva, rsrc_size, sections = read_pe(data)
    if not rsrc_rva:
        return None
    base = rva_to_offset(sections, rsrc_rva)

    def entries(dir_off):
        named, ids = struct.unpack_from("<HH", data, base + dir_off + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + dir_off + 16 + 8 * i)
            yield name, target

    RT_VERSION = 16
    for name, target in entries(0):
        if name == RT_VERSION and target & 0x80000000:
            node = target
            # Walk name and language levels down to the first leaf.
            while node & 0x80000000:
                node = next(entries(node & 0x7FFFFFFF))[1]
            data_rva, size = struct.unpack_from("<II", data, base + node)
            off = rva_to_offset(sections, data_rva)
            return data[off:off + size]
    return None


def align4(n):
    return (n + 3) & ~3


def parse_block(buf, off):
    """One VS_VERSIONINFO-style node: (key, type, value bytes, children), next offset."""
    length, value_len, vtype = struct.unpack_from("<HHH", buf, off)
    end = off + length
    p = off + 6
    key_end = p
    while buf[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = buf[p:key_end].decode("utf-16-le")
    p = align4(key_end + 2)
    value_bytes = value_len * 2 if vtype == 1 else value_len
    value = buf[p:p + value_bytes]
    p = align4(p + value_bytes)
    children = []
    while p + 6 <= end:
        child, nxt = parse_block(buf, p)
        if nxt <= p:
            break
        children.append(child)
        p = nxt
    return (key, vtype, value, children), align4(end)


def version_info(block):
    root, _ = parse_block(block, 0)
    key, _, fixed, children = root
    if key != "VS_VERSION_INFO":
        raise ValueError("version resource root is %r" % key)
    result = {"strings": {}}
    if len(fixed) >= 52:
        sig, _, fv_ms, fv_ls, pv_ms, pv_ls = struct.unpack_from("<IIIIII", fixed, 0)
        if sig == 0xFEEF04BD:
            split = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
            result["file_version"] = split(fv_ms, fv_ls)
            result["product_version"] = split(pv_ms, pv_ls)
    for child in children:
        if child[0] == "StringFileInfo":
            for table in child[3]:
                for name, _, value, _ in table[3]:
                    result["strings"][name] = value.decode("utf-16-le").rstrip("\0")
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    ap.add_argument("--export", action="append", default=[])
    ap.add_argument("--version-string", action="append", default=[])
    ap.add_argument("--file-version")
    ap.add_argument("--product-version")
    ap.add_argument("dll")
    args = ap.parse_args()

    problems = []
    fmt, magic, imports, exports, address_count = objdump_facts(args.objdump, args.dll)
    print("format: %s, optional header magic: %s" % (fmt, magic))
    print("exports: %s" % ", ".join(exports))
    print("imports: %s" % ", ".join(imports))
    if fmt != "pei-x86-64" or magic != "020b":
        problems.append("not a PE32+ x86-64 image (format %s, magic %s)" % (fmt, magic))
    if args.export and sorted(exports) != sorted(args.export):
        problems.append("exports are %s, expected exactly %s" % (exports, args.export))
    if args.export and address_count != len(exports):
        problems.append("%d exported addresses for %d names" % (address_count, len(exports)))
    runtime = [d for d in imports if not is_system_dll(d)]
    if runtime:
        problems.append("imports non-system DLLs: %s" % ", ".join(runtime))

    if args.version_string or args.file_version or args.product_version:
        with open(args.dll, "rb") as f:
            data = f.read()
        machine, pe_magic, _, _, _ = read_pe(data)
        if machine != 0x8664 or pe_magic != 0x20B:
            problems.append("PE header: machine 0x%x, magic 0x%x" % (machine, pe_magic))
        block = version_resource(data)
        if block is None:
            problems.append("no version resource")
        else:
            info = version_info(block)
            print("version resource: %s" % info)
            for item in args.version_string:
                name, _, want = item.partition("=")
                got = info["strings"].get(name)
                if got != want:
                    problems.append("version string %s is %r, expected %r" % (name, got, want))
            for field, want in (("file_version", args.file_version),
                                ("product_version", args.product_version)):
                if want and info.get(field) != want:
                    problems.append("%s is %r, expected %r" % (field, info.get(field), want))

    for p in problems:
        print("FAIL: " + p)
    if not problems:
        print("OK: " + args.dll)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

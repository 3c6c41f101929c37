#!/usr/bin/env python3
"""What each kilobyte of the shipped programs is for, from the linker's map.

    bench/size_map.py [BUILD]   default build/windows (the windows preset, built)

Links tandrel-setup.exe and Uninstall.exe again, as the build links them but into a temporary
folder and with a map (-Wl,-Map), and prints for each program the bytes of every part of the
sources, of the runtime libraries and of the resources, as the linker placed them (code, data,
unwind tables and imports; debugging sections left out, as the shipped programs are stripped).
Code that the compiler instantiated from the C++ library's templates (std:: containers, strings,
std::function) is counted apart from the part that instantiated it. A benchmark, not a test.
"""
import collections
import os
import re
import shlex
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "windows"))
PROGRAMS = [("tandrel-setup.exe", "src/app", "tandrel-setup"), ("Uninstall.exe", "src/uninstall", "tandrel-uninstall")]

# Input archives by the part they belong to; anything else is named by its archive.
PARTS = [
    (r"^lib(setup_app)\.a$", "the setup (src/app)"),
    (r"^lib(uninstall_app)\.a$", "the uninstaller (src/uninstall)"),
    (r"^lib(lifecycle|lifecycle_core|safe_library)\.a$", "life cycle (src/lifecycle)"),
    (r"^lib(framework|framework_core)\.a$", "framework (src/framework)"),
    (r"^libwidgets\.a$", "widgets (src/widgets)"),
    (r"^lib(archive|archive_core)\.a$", "archive and codecs (src/archive)"),
    (r"^libshell\.a$", "shell links (src/shell)"),
    (r"^objects\.a$", "program entry (WinMain) and its own units"),
    (r"^lib(stdc\+\+|supc\+\+|gcc|gcc_eh)\.a$", "C++ runtime (libstdc++, libgcc)"),
    (r"^(lib(mingw32|mingwex|msvcrt|moldname)\.a|crt2\.o|crtbegin\.o|crtend\.o)$", "C runtime start-up (MinGW)"),
    (r"^libpthread\.a$", "thread library (winpthreads)"),
]
# Sections of code instantiated from the library's templates: their mangled names.
TEMPLATE = re.compile(r"^\.(text|xdata|pdata|rdata)\$_Z(N|NK|)(St|9__gnu_cxx|Sa|Ss)")
DEBUG = re.compile(r"^\.(debug|zdebug|gnu_debuglink)")


def part_of(path, section):
    if section == ".rsrc":
        return "resources"
    if section == ".idata" or path == "dll stuff":
        return "imports"
    name = os.path.basename(re.sub(r"\(.*\)$", "", path))
    for pattern, part in PARTS:
        if re.match(pattern, name):
            return part
    if re.match(r"^lib\w+\.a$", name):  # the system libraries' import stubs
        return "imports"
    return name


def summarise(map_file):
    sizes = collections.Counter()
    section = None
    pending = None
    in_map = False
    for line in open(map_file, encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("Linker script and memory map"):
            in_map = True
            continue
        if not in_map:
            continue
        top = re.match(r"^(\.\w+)\s", line) or re.match(r"^(\.\w+)$", line)
        if top:
            section = top.group(1)
        entry = re.match(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if entry:
            input_section, size, path = entry.group(1), int(entry.group(3), 16), entry.group(4)
        else:
            alone = re.match(r"^ (\S+)$", line)
            if alone:
                pending = alone.group(1)
                continue
            rest = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if not (rest and pending):
                pending = None
                continue
            input_section, size, path = pending, int(rest.group(2), 16), rest.group(3)
        pending = None
        # Uninitialised data takes no room in the file; values that the linker script writes
        # itself (LONG 0x0) are counted with the headers.
        if size == 0 or section is None or DEBUG.match(section) or section == ".bss" or \
                re.match(r"^(BYTE|SHORT|LONG|QUAD)\b", path):
            continue
        part = part_of(path, section)
        if TEMPLATE.match(input_section) and part not in ("resources", "imports"):
            part = "std:: template instantiations (in every part above)"
        sizes[part] += size
    return sizes


def main():
    with tempfile.TemporaryDirectory() as temporary:
        for file_name, folder, target in PROGRAMS:
            directory = os.path.join(BUILD, folder)
            link = open(os.path.join(directory, "CMakeFiles", target + ".dir", "link.txt")).read().splitlines()[-1]
            arguments = shlex.split(link)
            out = arguments.index("-o")
            output = os.path.join(temporary, file_name)
            map_file = output + ".map"
            arguments[out + 1] = output
            arguments = [a for a in arguments if not a.startswith("-Wl,--out-implib")]
            arguments += ["-s", "-Wl,-Map," + map_file]
            subprocess.run(arguments, cwd=directory, check=True)
            sizes = summarise(map_file)
            shipped = os.path.join(BUILD, "shipped", file_name) if file_name == "Uninstall.exe" else os.path.join(
                directory, file_name)
            total = os.path.getsize(shipped)
            print(f"{file_name}: {total:,} bytes as shipped ({total / 1024:.0f} KB)")
            for part, size in sizes.most_common():
                print(f"  {size / 1024:7.1f} KB  {part}")
            rest = total - sum(sizes.values())
            print(f"  {rest / 1024:7.1f} KB  headers, section alignment and the debug link")
            if file_name == "tandrel-setup.exe":
                for packed, what in (("uninstall.zrv", "packed uninstaller"), ("payload.zrv", "packed payload")):
                    path = os.path.join(BUILD, packed)
                    if os.path.exists(path):
                        print(f"           of the resources: {os.path.getsize(path) / 1024:.1f} KB the {what}")
            print()


main()

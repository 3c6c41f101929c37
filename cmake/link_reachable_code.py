#!/usr/bin/env python3
"""Links a program with only the functions of our own code that can be reached.

    link_reachable_code.py BUILD_DIR COMPILER ARGUMENT...   (the link command as CMake runs it)

Every function that the compiler emits for an x64 Windows program comes with its unwind data (a
.pdata entry and its .xdata), and the GNU linker's script keeps all of those (KEEP), so that they
keep every function they describe: --gc-sections drops no function at all, only data. This link
runs in two passes:

1. The same command with the linker's own script, except that the unwind data is not kept, and
   with --print-gc-sections: the linker names every function section that no code or data reaches.
   (That link is not used: without the unwind data kept, the references to the personality
   routines from it cannot be resolved, and the linker says so.)
2. The command itself, with a script that discards those of them that the objects of BUILD_DIR
   hold (our code and the library templates it instantiates), each with its unwind data.

What is discarded is exactly what the linker found unreachable from the program's entry, its
initialisers and everything else that it keeps by its own rules, without taking the unwind data as
a reference: the unwind data of a function refers to its personality routine and to the type
information of its handlers, never to another of our functions, so nothing that runs can reach what
is discarded. The first pass links into a folder of its own; a first pass that names nothing
leaves the command as it is.
"""
import os
import re
import subprocess
import sys
import tempfile

KEPT_UNWIND = re.compile(r"KEEP\s*\(\s*\*\(\s*\.(pdata|xdata)\*\s*\)\s*\)")
REMOVED = re.compile(r"removing unused section '\.text\$([^'\[]+)(?:\[[^']*\])?' in file '([^']+)'")
MEMBER = re.compile(r"^(.*)\(([^()]+)\)$")


def output_of(arguments):
    return arguments[arguments.index("-o") + 1]


def default_script(compiler):
    linker = subprocess.run([compiler, "-print-prog-name=ld"], capture_output=True, text=True,
                            check=True).stdout.strip()
    verbose = subprocess.run([linker, "--verbose"], capture_output=True, text=True, check=True).stdout
    parts = verbose.split("=" * 50)
    return parts[1].strip("\n") if len(parts) >= 3 else None


def unreachable_sections(command, script):
    """The function sections that the linker finds unreachable, as (file, section name) pairs."""
    with tempfile.TemporaryDirectory() as folder:
        first_pass = os.path.join(folder, "first-pass.ld")
        with open(first_pass, "w") as file:
            file.write(KEPT_UNWIND.sub(lambda m: "*(." + m.group(1) + "*)", script))
        arguments = list(command)
        arguments[arguments.index("-o") + 1] = os.path.join(folder, "first-pass.exe")
        arguments = [a for a in arguments if not a.startswith("-Wl,--out-implib") and not a.startswith("-Wl,-Map")]
        arguments += ["-Wl,-T," + first_pass, "-Wl,--print-gc-sections"]
        result = subprocess.run(arguments, capture_output=True, text=True)
    return [(m.group(2), m.group(1)) for m in REMOVED.finditer(result.stderr)]


def discard_script(build_dir, sections):
    lines = []
    for path, name in sections:
        member = MEMBER.match(path)
        archive, inside = (member.group(1), member.group(2)) if member else (path, None)
        if not os.path.abspath(archive).startswith(build_dir + os.sep):
            continue  # the toolchain's own libraries stay as they are
        pattern = "*" + os.path.basename(archive) + (":" + inside if inside else "")
        lines.append(f"    {pattern}(.text${name} .pdata${name} .xdata${name})")
    if not lines:
        return None
    return "SECTIONS\n{\n  /DISCARD/ :\n  {\n" + "\n".join(sorted(set(lines))) + "\n  }\n}\nINSERT BEFORE .text;\n"


def main():
    build_dir = os.path.abspath(sys.argv[1])
    command = sys.argv[2:]
    script = default_script(command[0])
    extra = []
    if script is not None and len(KEPT_UNWIND.findall(script)) == 2:
        discards = discard_script(build_dir, unreachable_sections(command, script))
        if discards is not None:
            path = output_of(command) + ".discard.ld"
            with open(path, "w") as file:
                file.write(discards)
            extra = ["-Wl,-T," + path]
    return subprocess.run(command + extra).returncode


sys.exit(main())

#!/usr/bin/env python3
"""Switch dispatch of the window lifter: kivrun's case goals against llvm-cov.

usage: switch_dispatch.py KIVRUN DRIVE LIBRARY CATALOG UNIT_SET PLAIN_SHIM SOURCE_ROOT WORK

Builds the window lifter's unit set again from its plain C with clang's source
coverage (PLAIN_SHIM holds unit/window_lifter.c, which includes the plain
file), replays partial suites (the first cases of examples/window_lifter.csv)
through it with DRIVE, and compares every switch-case goal kivrun reports on
the same suite with the count llvm-cov gives the branch region of that case
label: reached exactly when the switch dispatched to it. Exit 0 when all
agree, 1 with every difference printed, 77 (skipped) without clang-14 and its
llvm-cov and llvm-profdata.
"""
import glob
import json
import os
import shutil
import subprocess
import sys

TOOLS = ("clang-14", "clang++-14", "llvm-profdata-14", "llvm-cov-14")


def first_cases(path, n):
    out, last, header = [], None, True
    for line in open(path):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        if header:
            out.append(line)
            header = False
            continue
        name = line.split(",")[0]
        if name != last:
            n -= 1
            if n < 0:
                break
        last = name
        out.append(line)
    return "\n".join(out) + "\n"


def build(unit_set, shim, root, work):
    sources = []
    for d in ("harness", "frame", "instrumentation", "platform"):
        sources += sorted(glob.glob(os.path.join(root, "src", d, "*.cpp")))
    sources += [os.path.join(root, "tests/instrumenter/plain_records.cpp"),
                os.path.join(unit_set, "unit/glue.c"), os.path.join(unit_set, "unit/window_lifter_glue.c")]
    flags = ["-O0", "-fPIC", "-fprofile-instr-generate", "-fcoverage-mapping", "-fvisibility=hidden",
             "-I" + shim, "-I" + unit_set, "-I" + os.path.join(root, "src"), "-I" + os.path.join(root, "include"),
             "-I" + os.path.join(root, "examples/units")]
    objects = []
    for i, s in enumerate(sources):
        o = os.path.join(work, f"{i}.o")
        cc = ["clang-14", "-std=c11"] if s.endswith(".c") else ["clang++-14", "-std=c++20", "-fno-exceptions",
                                                                "-fno-rtti"]
        subprocess.run(cc + flags + ["-c", s, "-o", o], check=True)
        objects.append(o)
    lib = os.path.join(work, "libwindow_lifter_llvmcov.so")
    subprocess.run(["clang++-14", "-shared", "-fprofile-instr-generate", "-Wl,--version-script=" +
                    os.path.join(root, "src/dllharness.map")] + objects + ["-o", lib], check=True)
    return lib


def dispatches(drive, lib, catalog, suite, work):
    """(file, line, column) of every branch region -> its count, after the suite."""
    for p in glob.glob(os.path.join(work, "*.profraw")):
        os.remove(p)
    # clang's profile runtime keeps a string to the end of the process, which a
    # sanitizer build of the driver would call a leak.
    env = dict(os.environ, LLVM_PROFILE_FILE=os.path.join(work, "p%m.profraw"),
               ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
    subprocess.run([drive, lib, suite, catalog], check=True, env=env)
    data = os.path.join(work, "m.profdata")
    subprocess.run(["llvm-profdata-14", "merge", "-o", data] + glob.glob(os.path.join(work, "*.profraw")), check=True)
    out = subprocess.run(["llvm-cov-14", "export", "-format=text", "-instr-profile", data, lib],
                         check=True, capture_output=True, text=True).stdout
    counts = {}
    for f in json.loads(out)["data"][0]["files"]:
        for b in f["branches"]:
            counts[(os.path.realpath(f["filename"]), b[0], b[1])] = b[4]
    return counts


def main(kivrun, drive, library, catalog, unit_set, shim, root, work):
    missing = [t for t in TOOLS if not shutil.which(t)]
    if missing:
        print("SKIPPED: no " + ", ".join(missing) + " for clang's source coverage")
        return 77
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    lib = build(unit_set, shim, root, work)
    problems, compared = [], 0
    for n in (1, 3, 6):
        suite = os.path.join(work, f"first{n}.csv")
        with open(suite, "w") as f:
            f.write(first_cases(os.path.join(root, "examples/window_lifter.csv"), n))
        counts = dispatches(drive, lib, catalog, suite, work)
        result = os.path.join(work, f"first{n}.json")
        subprocess.run([kivrun, "run", library, suite, "-q", "--json", result], check=True,
                       capture_output=True)
        for g in json.load(open(result))["goals"]:
            if g["criterion"] != "switch case":
                continue
            where = (os.path.realpath(os.path.join(root, g["file"])), g["line"], g["column"])
            count = counts.get(where)
            compared += 1
            if count is None:
                problems.append(f"{g['file']}:{g['line']}:{g['column']}: llvm-cov has no branch region there")
            elif (count > 0) != g["reached"]:
                problems.append(f"{g['file']}:{g['line']}: first {n} cases: llvm-cov dispatched {count} times, "
                                f"kivrun says {'reached' if g['reached'] else 'not reached'}")
    for p in problems:
        print(p)
    print(f"{compared} case goals compared")
    return 1 if problems or not compared else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))

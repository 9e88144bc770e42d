#!/usr/bin/env python3
"""Compiles every file of the macOS build for both Mac architectures, and links the product.

First link_check.py builds the host and the bridge library for real, for
arm64 and x86_64, links them with ld64.lld against the SDK's stubs and
checks the result. Then this script configures a tree for Darwin with
darwin.toolchain.cmake (so CMake's if(APPLE) branches choose the sources)
and runs clang over every other entry of the resulting
compile_commands.json once per target triple, with -fsyntax-only and the
build's own flags (warnings are errors): the files the link stage compiled
were compiled with the same flags already. Files added to any target later
are checked without touching this script.

Headers with Apple branches (__APPLE__, __OBJC__, objc_arc) are compiled on
their own as well, as C++ and as Objective-C++ under ARC, since a header
may be valid in one and not the other. Objective-C++ sources are also read
for comparisons of a BOOL with YES, which are wrong on Intel Macs (BOOL is a
signed char there: any non-zero value is true, not only YES).

Usage: tools/macos/compile_check.py [--build-dir DIR] [--link-dir DIR] [--jobs N] [FILE...]
Only entries whose source path ends with one of the FILEs are checked, with
the syntax-only pass and no link stage, when some are given. Exit status 0
when everything compiles (and links) cleanly, 1 otherwise.
"""

import argparse
import concurrent.futures
import json
import os
import re
import shlex
import subprocess
import sys
import time

import link_check

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
TRIPLES = ("x86_64-apple-macos13.3", "arm64-apple-macos13.3")

# Libraries the tests and benchmarks include that a Mac gets from a package
# manager. Here they sit in the host's include directory beside the host's C
# library, which must stay out of sight, so each gets a link of its own.
THIRD_PARTY = ("gtest", "gmock", "benchmark", "nlohmann", "rapidjson")
HOST_INCLUDE = "/usr/include"


def configure(build_dir):
    subprocess.run(
        ["cmake", "-S", SOURCE_DIR, "-B", build_dir, "-G", "Ninja",
         "--toolchain", os.path.join(HERE, "darwin.toolchain.cmake"),
         "-DCMAKE_BUILD_TYPE=Release", "-DVK_WERROR=ON"],
        check=True, stdout=subprocess.DEVNULL)


def third_party_dir(build_dir):
    shim = os.path.join(build_dir, "third_party_include")
    os.makedirs(shim, exist_ok=True)
    for name in THIRD_PARTY:
        target = os.path.join(HOST_INCLUDE, name)
        link = os.path.join(shim, name)
        if os.path.isdir(target) and not os.path.lexists(link):
            os.symlink(target, link)
    return shim


APPLE_HEADER = re.compile(r"__APPLE__|__OBJC__|objc_arc")
BOOL_IS_YES = re.compile(r"(==|!=)\s*YES\b|\bYES\s*(==|!=)")
SKIPPED_DIRS = {".git", "build", "sdk"}


def source_files(suffixes):
    for root, dirs, files in os.walk(SOURCE_DIR):
        dirs[:] = [d for d in dirs if d not in SKIPPED_DIRS and not d.startswith("build")]
        for name in files:
            if name.endswith(suffixes):
                yield os.path.join(root, name)


def header_entries(entries):
    """Entries that compile each Apple-branched header alone, as C++ and as
    Objective-C++ under ARC, with the flags of a product source."""
    base = next((e for e in entries if e["file"].endswith(".mm")), None) or \
        next((e for e in entries if e["file"].endswith(".cc")), None)
    if base is None:
        return []
    made = []
    for header in sorted(source_files((".h",))):
        with open(header, errors="replace") as f:
            if not APPLE_HEADER.search(f.read()):
                continue
        for language in ("c++-header", "objective-c++-header"):
            made.append(dict(base, file=header, source=base["file"], language=language))
    return made


def bool_comparisons():
    found = []
    for path in source_files((".mm", ".m", ".h")):
        with open(path, errors="replace") as f:
            for number, line in enumerate(f, 1):
                if BOOL_IS_YES.search(line.split("//")[0]):
                    found.append(f"{os.path.relpath(path, SOURCE_DIR)}:{number}: "
                                 f"a BOOL compared with YES: {line.strip()}")
    return found


# Code the real SDK rejects or warns about must fail here too: each case is
# compiled against the stubs and must fail with its diagnostic. Proves the
# markings that make the stubs as strict as Apple's headers are in force.
MUST_FAIL = (
    ("c++", "#include <CoreFoundation/CoreFoundation.h>\nvoid f() { CFRelease(NULL); }",
     "null passed to a callee that requires a non-null argument"),
    ("c++", "#include <Security/Security.h>\nOSStatus f() { return SecItemDelete(NULL); }",
     "null passed to a callee that requires a non-null argument"),
    ("c++", "#include <dispatch/dispatch.h>\n"
            "long f() { return dispatch_semaphore_wait(nullptr, DISPATCH_TIME_FOREVER); }",
     "null passed to a callee that requires a non-null argument"),
    ("c++", "#include <dispatch/dispatch.h>\nvoid f() { dispatch_time(DISPATCH_TIME_NOW, 1); }",
     "ignoring return value"),
    ("c++", "#include <unistd.h>\nint f(char *b) { return getentropy(b, 4); }",
     "use of undeclared identifier 'getentropy'"),
    ("objective-c++", "#import <Foundation/Foundation.h>\nstruct Rect { int x; };",
     "redefinition of 'Rect'"),
    ("objective-c++", "#import <LocalAuthentication/LocalAuthentication.h>\n"
                      "constexpr int kLAErrorUserCancel = 2;",
     "expected unqualified-id"),
)


def must_fail_failures():
    """The MUST_FAIL cases that compiled, or failed for another reason."""
    found = []
    for language, code, diagnostic in MUST_FAIL:
        for triple in TRIPLES:
            command = ["clang++-14", "--target=" + triple, "-isysroot", os.path.join(HERE, "sdk"),
                       "-stdlib=libc++", "-std=c++20", "-fsyntax-only", "-Werror", "-x", language]
            if language.startswith("objective-c"):
                command += ["-fobjc-arc", "-fblocks"]
            done = subprocess.run(command + ["-"], input=code, capture_output=True, text=True)
            if done.returncode == 0 or diagnostic not in done.stderr:
                found.append(f"[{triple}] expected \"{diagnostic}\" from:\n{code}\n"
                             f"got (exit {done.returncode}):\n{done.stderr}")
    return found


def syntax_command(entry, triple, shim):
    """The entry's own command for one architecture, checking syntax only."""
    args = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    source = entry.get("source", entry["file"])
    out = [args[0]]
    skip = False
    for arg in args[1:]:
        if skip:
            skip = False
            continue
        if arg == "-o":
            skip = True
            continue
        if arg in ("-c", "-fobjc-arc", source) or arg.startswith("--target="):
            continue
        out.append(arg)
    out += ["--target=" + triple, "-fsyntax-only", "-isystem", shim]
    language = entry.get("language") or ("objective-c++" if entry["file"].endswith(".mm") else None)
    if language:
        out += ["-x", language]
    if language and language.startswith("objective-c"):
        # Under ARC with blocks, whatever the target adds.
        out += ["-fobjc-arc", "-fblocks"]
    if "-Werror" not in out:
        out.append("-Werror")
    out.append(entry["file"])
    return out


def check(entry, triple, shim):
    command = syntax_command(entry, triple, shim)
    done = subprocess.run(command, cwd=entry["directory"], capture_output=True, text=True)
    return entry["file"], triple, done.returncode, done.stderr, command


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build", "macos-check"))
    parser.add_argument("--link-dir", default=os.path.join(SOURCE_DIR, "build", "macos-link"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("files", nargs="*")
    options = parser.parse_args()
    options.build_dir = os.path.abspath(options.build_dir)

    started = time.monotonic()
    link_failure, linked = None, set()
    if not options.files:
        link_failure, linked = link_check.link_product(os.path.abspath(options.link_dir),
                                                       options.jobs)
        if link_failure:
            print(f"macOS link check failed: {link_failure}", file=sys.stderr)
    configure(options.build_dir)
    shim = third_party_dir(options.build_dir)
    with open(os.path.join(options.build_dir, "compile_commands.json")) as f:
        entries = json.load(f)
    entries = [e for e in entries if e["file"] not in linked] + header_entries(entries)
    if options.files:
        entries = [e for e in entries if any(e["file"].endswith(name) for name in options.files)]
    if not entries:
        print("macOS compile check: no files to check", file=sys.stderr)
        return 1

    comparisons = bool_comparisons()
    for finding in comparisons:
        print(finding, file=sys.stderr)
    lenient = [] if options.files else must_fail_failures()
    for finding in lenient:
        print(f"--- the stubs accept what the SDK rejects: {finding}", file=sys.stderr)
    failures = len(comparisons) + len(lenient) + (1 if link_failure else 0)
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
        jobs = [pool.submit(check, e, t, shim) for e in entries for t in TRIPLES]
        for job in jobs:
            path, triple, status, errors, command = job.result()
            if status != 0 or errors:
                failures += 1
                print(f"--- {os.path.relpath(path, SOURCE_DIR)} [{triple}]", file=sys.stderr)
                print(shlex.join(command), file=sys.stderr)
                print(errors, end="", file=sys.stderr)
    seconds = time.monotonic() - started
    files = len({e["file"] for e in entries} | linked)
    if failures:
        print(f"macOS compile check: {failures} failures ({len(jobs)} compilations)",
              file=sys.stderr)
        return 1
    print(f"macOS compile check: {files} files x {len(TRIPLES)} architectures clean "
          f"({len(linked)} compiled for real), in {seconds:.0f} s")
    if linked:
        print(f"macOS link check: {link_check.SUMMARY}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

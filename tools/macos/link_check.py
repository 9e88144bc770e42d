#!/usr/bin/env python3
"""Links the macOS product for both Mac architectures, on Linux, and checks it.

Compiling alone cannot see a function declared in a header and defined only
in a source another platform builds, a framework symbol whose framework is
not linked, or an export list naming a function that is gone. So the host
and the bridge library are built for real here, each architecture in a tree
of its own configured with darwin.toolchain.cmake (CMake's own compile and
link lines, from the product's CMakeLists), and linked by ld64.lld against
the text-based stubs under sdk/ (written from Apple's documentation) and a
stub of libc++ made from Debian's libc++ 14, the same C++ ABI as macOS's.

The two builds are joined with llvm-lipo into universal files, which are
then checked: both architectures present, exactly the six bridge functions
exported from each slice of the executable and of the library (read by the
project's own Mach-O reader, dynamic_exports_test), and the host's bundle
complete (Info.plist naming its executable, the entitlements file claiming
the app group).

compile_check.py runs this first and leaves the files compiled here out of
its syntax-only pass. Alone:
Usage: tools/macos/link_check.py [--build-dir DIR] [--jobs N]
Exit status 0 when everything links and checks out, 1 otherwise.
"""

import argparse
import json
import os
import plistlib
import shlex
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
ARCHS = ("arm64", "x86_64")
TARGETS = ("vellumkeep-native", "vellumkeep-bridge")
HOST_BUNDLE = os.path.join("native_host", "vellumkeep-native.app")
HOST_IN_BUNDLE = os.path.join("Contents", "MacOS", "vellumkeep-native")
ENTITLEMENTS = os.path.join("native_host", "vellumkeep-native.entitlements")
BRIDGE = os.path.join("biometric_auth", "libvellumkeep-bridge.dylib")
LLVM_BIN = "/usr/lib/llvm-14/bin"
LIBCXX_DIR = "/usr/lib/llvm-14/lib"
# Debian's libc++ and libc++abi, which macOS ships as libc++.1.dylib
# re-exporting libc++abi.dylib: one stub serves both.
LIBCXX_LIBRARIES = ("libc++.so.1", "libc++abi.so.1")


class CheckFailed(Exception):
    pass


def run(command, **kwargs):
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if done.returncode != 0:
        raise CheckFailed(f"{' '.join(command)}\n{done.stdout}{done.stderr}")
    return done.stdout


def libcxx_stub(stub_dir):
    """A .tbd of every function and object Debian's libc++ exports, with
    Mach-O's leading underscore."""
    names = set()
    for library in LIBCXX_LIBRARIES:
        listed = run([os.path.join(LLVM_BIN, "llvm-nm"), "-D", "--defined-only", "--extern-only",
                      "--just-symbol-name", os.path.join(LIBCXX_DIR, library)])
        names.update("_" + name for name in listed.split())
    lines = ["--- !tapi-tbd",
             f"# Made by {os.path.basename(__file__)} from Debian's {' and '.join(LIBCXX_LIBRARIES)}.",
             "tbd-version:     4",
             "targets:         [ x86_64-macos, arm64-macos ]",
             "install-name:    '/usr/lib/libc++.1.dylib'",
             "exports:",
             "  - targets:         [ x86_64-macos, arm64-macos ]",
             "    symbols:"]
    lines += [f"      - '{name}'" for name in sorted(names)]
    lines.append("...")
    os.makedirs(stub_dir, exist_ok=True)
    path = os.path.join(stub_dir, "libc++.tbd")
    text = "\n".join(lines) + "\n"
    if not os.path.exists(path) or open(path).read() != text:
        with open(path, "w") as f:
            f.write(text)


def link_environment():
    # clang adds every LIBRARY_PATH directory to the link line: none of the
    # host's libraries may stand in for a Mac's.
    return {k: v for k, v in os.environ.items() if k != "LIBRARY_PATH"}


def build(build_dir, arch, stub_dir, jobs):
    run(["cmake", "-S", SOURCE_DIR, "-B", build_dir, "-G", "Ninja",
         "--toolchain", os.path.join(HERE, "darwin.toolchain.cmake"),
         f"-DVK_MACOS_ARCH={arch}", f"-DVK_MACOS_LIBCXX_STUB_DIR={stub_dir}",
         "-DCMAKE_BUILD_TYPE=Release", "-DVK_WERROR=ON",
         "-DVK_BUILD_TESTS=OFF", "-DVK_BUILD_BENCH=OFF"], env=link_environment())
    done = subprocess.run(["cmake", "--build", build_dir, "-j", str(jobs), "--target", *TARGETS],
                          capture_output=True, text=True, env=link_environment())
    if done.returncode != 0:
        # Ninja's report: the failed command, then the linker's or compiler's errors.
        report = [line for line in done.stdout.splitlines() if not line.startswith("[")]
        raise CheckFailed(f"{arch} build failed:\n" + "\n".join(report) + done.stderr)


def lipo(inputs, output):
    lipo_tool = os.path.join(LLVM_BIN, "llvm-lipo")
    os.makedirs(os.path.dirname(output), exist_ok=True)
    run([lipo_tool, "-create", *inputs, "-output", output])
    archs = run([lipo_tool, "-archs", output]).split()
    if sorted(archs) != sorted(ARCHS):
        raise CheckFailed(f"{output} holds {archs}, not {list(ARCHS)}")


def exports_checker(work_dir):
    """The project's Mach-O reader, built for this machine."""
    program = os.path.join(work_dir, "dynamic_exports_test")
    sources = [os.path.join(SOURCE_DIR, "biometric_auth", name)
               for name in ("dynamic_exports_test.cc", "testing/macho_symbols.cc")]
    newest = max(os.path.getmtime(s) for s in sources + [os.path.join(SOURCE_DIR, "biometric_auth",
                                                                      "testing", "macho_symbols.h")])
    if not os.path.exists(program) or os.path.getmtime(program) < newest:
        run(["c++", "-std=c++20", "-O1", "-I", SOURCE_DIR, *sources, "-o", program])
    return program


def check_bundle(bundle, entitlements, app_group):
    with open(os.path.join(bundle, "Contents", "Info.plist"), "rb") as f:
        info = plistlib.load(f)
    executable = info.get("CFBundleExecutable")
    if executable != os.path.basename(HOST_IN_BUNDLE):
        raise CheckFailed(f"Info.plist names {executable!r} as the bundle's executable")
    for key in ("CFBundleIdentifier", "CFBundlePackageType", "LSMinimumSystemVersion"):
        if not info.get(key):
            raise CheckFailed(f"Info.plist has no {key}")
    with open(entitlements, "rb") as f:
        claims = plistlib.load(f)
    groups = claims.get("com.apple.security.application-groups")
    if groups != [app_group]:
        raise CheckFailed(f"{entitlements} claims the app groups {groups}, not [{app_group!r}]")


def cache_value(build_dir, name):
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.rstrip("\n").split("=", 1)[1]
    raise CheckFailed(f"{name} is not in {build_dir}'s cache")


def compiled_sources(tree):
    """The source files whose objects the tree's build made."""
    with open(os.path.join(tree, "compile_commands.json")) as f:
        entries = json.load(f)
    made = set()
    for entry in entries:
        args = shlex.split(entry["command"]) if "command" in entry else entry["arguments"]
        if "-o" in args and os.path.exists(os.path.join(entry["directory"],
                                                        args[args.index("-o") + 1])):
            made.add(entry["file"])
    return made


def link_product(work, jobs):
    """Builds, joins and checks the product under `work`. Returns the
    failure's text (None when everything checks out) and the sources that
    were compiled for real in both architectures."""
    stub_dir = os.path.join(work, "stubs")
    universal = os.path.join(work, "universal")
    trees = {arch: os.path.join(work, arch) for arch in ARCHS}
    try:
        libcxx_stub(stub_dir)
        for arch, tree in trees.items():
            build(tree, arch, stub_dir, jobs)

        # The universal bundle: the arm64 tree's bundle with both slices.
        bundle = os.path.join(universal, os.path.basename(HOST_BUNDLE))
        shutil.rmtree(bundle, ignore_errors=True)
        shutil.copytree(os.path.join(trees["arm64"], HOST_BUNDLE), bundle, symlinks=True)
        host = os.path.join(bundle, HOST_IN_BUNDLE)
        os.remove(host)
        lipo([os.path.join(tree, HOST_BUNDLE, HOST_IN_BUNDLE) for tree in trees.values()], host)
        bridge = os.path.join(universal, os.path.basename(BRIDGE))
        lipo([os.path.realpath(os.path.join(tree, BRIDGE)) for tree in trees.values()], bridge)

        checker = exports_checker(work)
        for binary in (host, bridge):
            done = subprocess.run([checker, binary], capture_output=True, text=True)
            if done.returncode != 0:
                raise CheckFailed(done.stdout + done.stderr)
        check_bundle(bundle, os.path.join(trees["arm64"], ENTITLEMENTS),
                     cache_value(trees["arm64"], "VK_APP_GROUP_ID"))
        failure = None
    except CheckFailed as failed:
        failure = str(failed)
    compiled = None
    for tree in trees.values():
        made = compiled_sources(tree) if os.path.exists(os.path.join(tree, "compile_commands.json")) \
            else set()
        compiled = made if compiled is None else compiled & made
    return failure, compiled


SUMMARY = (f"{os.path.basename(HOST_BUNDLE)} and {os.path.basename(BRIDGE)} linked for "
           f"{' and '.join(ARCHS)}, exactly the six bridge functions exported from each slice")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build", "macos-link"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    options = parser.parse_args()
    started = time.monotonic()
    failure, _ = link_product(os.path.abspath(options.build_dir), options.jobs)
    if failure:
        print(f"macOS link check failed: {failure}", file=sys.stderr)
        return 1
    print(f"macOS link check: {SUMMARY}, in {time.monotonic() - started:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())

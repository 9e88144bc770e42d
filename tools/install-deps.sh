#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-14 libclang-rt-14-dev libfuzzer-14-dev libc++-14-dev python3 pkg-config
  googletest libgtest-dev libbenchmark-dev rapidjson-dev nlohmann-json3-dev
  libsecret-1-dev libglib2.0-dev gnome-keyring dbus python3-dbus python3-dbusmock
  chromium chromium-driver firefox-esr valgrind time binutils dpkg-dev lld-14 llvm-14
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

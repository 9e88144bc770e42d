#!/bin/sh
# Builds the DEB and the TGZ of a build tree with CPack and checks the DEB
# as dpkg would unpack it: it holds the host, its installer and its backends
# module but no developer tool; the staged host relays a request to the
# stand-in desktop application; and its machine-wide manifests (the ones it
# carries for IDs built in, else those its installer writes into the
# staging root) name the host where the package installs it.
#
#   package_test.sh BUILD_DIR WORK_DIR STAND_IN_APP HOST_CLIENT VERSION LIBDIR
#
# Exits 77 (skipped) where dpkg-deb or dpkg-shlibdeps is missing.
set -eu

if [ $# -ne 6 ]; then
  echo "usage: $0 BUILD_DIR WORK_DIR STAND_IN_APP HOST_CLIENT VERSION LIBDIR" >&2
  exit 2
fi
build=$1 work=$2 app=$3 client=$4 version=$5 libdir=$6
for tool in dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" > /dev/null; then
    echo "$tool is not installed (Debian packages dpkg, dpkg-dev): the package test is skipped"
    exit 77
  fi
done
fail() {
  echo "package_test: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
cd "$work"
cpack --config "$build/CPackConfig.cmake" -B "$work/packages" -G "DEB;TGZ" > cpack.log 2>&1 ||
  fail "cpack failed: $(cat cpack.log)"
deb=$(ls packages/*.deb)
tgz=$(ls packages/*.tar.gz)
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the DEB's version is not $version"

dpkg-deb -x "$deb" stage
for file in usr/bin/vellumkeep-native usr/bin/vk-install-host-manifest \
    "usr/$libdir/vellumkeep-native/desktop-backends.so" usr/share/doc/vellumkeep-native/LICENSE; do
  [ -f "stage/$file" ] || fail "the DEB lacks /$file"
done
for tool in vk-stand-in-app vk-json vk-host-client; do
  [ ! -e "stage/usr/bin/$tool" ] || fail "the DEB holds the developer tool $tool"
  ! tar tzf "$tgz" | grep -q "bin/$tool\$" || fail "the TGZ holds the developer tool $tool"
done
tar tzf "$tgz" | grep -q '^bin/vellumkeep-native$' || fail "the TGZ lacks bin/vellumkeep-native"
[ "$(stage/usr/bin/vellumkeep-native --version)" = "vellumkeep-native $version" ] ||
  fail "the staged host does not say its version"

# The staged host against the stand-in app, on a socket below the work
# directory (never /tmp, which the host refuses), named relative to it.
VK_IPC_SOCKET_PATH=ipc/vellumkeep-native.sock
export VK_IPC_SOCKET_PATH
mkfifo app-ready
"$app" > app-ready &
app_pid=$!
trap 'kill "$app_pid" 2> /dev/null || true' EXIT
read -r socket < app-ready
conversation=$(echo '{"command":"ping","id":1}' | "$client" "$work/stage/usr/bin/vellumkeep-native")
case $conversation in
  *'host → extension:  {"command":"ping","id":1,"reply":"pong"}'*) ;;
  *) fail "the staged host did not relay a ping: $conversation" ;;
esac

# Its manifests name the host where the package puts it. A DEB built with
# IDs carries them; else its installer writes them as a post-install would.
manifests=$(find stage/etc stage/usr/lib stage/usr/lib64 -name com.tarnwick.vellumkeep.json 2> /dev/null || true)
if [ -z "$manifests" ]; then
  stage/usr/bin/vk-install-host-manifest install --system --browser=all --os=linux --root="$work/stage" \
    --allowed-origin=chrome-extension://abcdefghijklmnopabcdefghijklmnop/ \
    --allowed-extension=vault@tarnwick.example > install.log 2>&1 || fail "the staged installer failed: $(cat install.log)"
  grep -q '^using the host of this installation: /usr/bin/vellumkeep-native$' install.log ||
    fail "the staged installer did not take the staged host: $(cat install.log)"
  manifests=$(find stage/etc stage/usr/lib -name com.tarnwick.vellumkeep.json)
fi
[ -n "$manifests" ] || fail "no manifest in the staging root"
for manifest in $manifests; do
  grep -q '"path":"/usr/bin/vellumkeep-native"' "$manifest" || fail "$manifest names another host: $(cat "$manifest")"
done
stage/usr/bin/vk-install-host-manifest list --system --os=linux --root="$work/stage" > list.log ||
  fail "list finds a broken manifest: $(cat list.log)"
echo "package_test: $(basename "$deb") and $(basename "$tgz") are complete and usable"

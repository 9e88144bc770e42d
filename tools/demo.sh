#!/bin/sh
# Runs the host the way a browser does, against the stand-in desktop
# application, and prints the conversation. Builds nothing itself:
#
#   cmake --preset release && cmake --build --preset release && tools/demo.sh build/release
#
# A second argument names another host executable to run (the macOS
# workflow runs the signed bundle's).
# Everything lives in a fresh private directory under the build directory
# (never in /tmp, which the host refuses) and is removed at the end.
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 BUILD_DIR [HOST]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
host=$build/native_host/vellumkeep-native
# On macOS the host is built as an app-like bundle.
[ -d "$host.app" ] && host=$host.app/Contents/MacOS/vellumkeep-native
if [ $# -eq 2 ]; then
  host=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
fi
app=$build/tools/vk-stand-in-app
client=$build/tools/vk-host-client
for program in "$host" "$app" "$client"; do
  if [ ! -x "$program" ]; then
    echo "$0: $program is missing; build first: cmake --build --preset release" >&2
    exit 1
  fi
done

work=$(mktemp -d "$build/demo.XXXXXX")
app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A relative socket path keeps it short however deep the build directory is;
# the app and the host both start in $work.
cd "$work"
VK_IPC_SOCKET_PATH=ipc/vellumkeep-native.sock
export VK_IPC_SOCKET_PATH

# The app prints its socket path once it listens; wait for that line.
mkfifo app-ready
"$app" > app-ready &
app_pid=$!
read -r socket < app-ready

echo "The stand-in desktop application listens on $work/$socket"
echo "(socket directory mode $(stat -c %a ipc 2>/dev/null || stat -f %Lp ipc)," \
  "token file mode $(stat -c %a ipc/vellumkeep-native.token 2>/dev/null || stat -f %Lp ipc/vellumkeep-native.token))."
echo "The browser side (vk-host-client) starts vellumkeep-native and writes frames to its standard input."

"$client" "$host" <<EOF
# 1. A ping. The host adds the app's token from the file beside the socket; the app answers with the same id.
{"command":"ping","id":1}
# 2. A request that carries a stale "auth_token": the host replaces it with the current token, so the app accepts it (and echoes the request without the token).
{"command":"echo","id":2,"auth_token":"0000-stale-token-from-an-old-session","text":"hello, vault"}
# 3. A request that is not an object travels without a token; the app refuses it, and its reply is relayed unchanged.
["not","an","object"]
# 4. The desktop application is stopped (SIGTERM: it removes its socket and token). The host answers with an error reply of its own, carrying the request's id.
! kill $app_pid; while [ -e ipc/vellumkeep-native.sock ]; do sleep 0.05; done
{"command":"ping","id":4}
# End of input: the browser closed the port.
EOF
wait "$app_pid" 2>/dev/null || true
app_pid=

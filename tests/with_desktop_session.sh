#!/bin/sh
# Runs a command inside a private D-Bus session bus with an unlocked login
# keyring, so tests never touch the user's real session or keyring.
# Usage: with_desktop_session.sh command [args...]
# Inside, VK_PRIVATE_DESKTOP_SESSION=1 marks the session as disposable and
# VK_TEST_KEYRING_PASSWORD holds the login keyring's password.
# Without dbus-run-session or gnome-keyring-daemon the command still runs,
# with the session bus pointed at nothing, so its desktop tests skip.
set -eu

if [ $# -eq 0 ]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi

# Short names: gnome-keyring's control socket lives under XDG_RUNTIME_DIR.
session_dir=$(mktemp -d "${VK_DESKTOP_SESSION_PARENT:-$PWD}/vkds.XXXXXX")
trap 'rm -rf "$session_dir"' EXIT INT TERM
mkdir -m 0700 "$session_dir/home" "$session_dir/run"

if ! command -v dbus-run-session >/dev/null 2>&1 ||
   ! command -v gnome-keyring-daemon >/dev/null 2>&1 ||
   ! command -v dbus-send >/dev/null 2>&1; then
  echo "with_desktop_session: dbus-run-session, dbus-send or gnome-keyring-daemon missing; desktop tests will skip" >&2
  HOME="$session_dir/home" XDG_RUNTIME_DIR="$session_dir/run" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$session_dir/run/no-bus" "$@" && rc=0 || rc=$?
  exit "$rc"
fi

# The graphical session must not leak in: without a display nobody can
# answer a keyring prompt, which is what the tests expect.
env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
  HOME="$session_dir/home" XDG_RUNTIME_DIR="$session_dir/run" \
  XDG_DATA_HOME="$session_dir/home/.local/share" \
  XDG_CONFIG_HOME="$session_dir/home/.config" \
  XDG_CACHE_HOME="$session_dir/home/.cache" \
  VK_PRIVATE_DESKTOP_SESSION=1 VK_TEST_KEYRING_PASSWORD=vellumkeep-test \
  dbus-run-session -- sh -c '
    # A non-empty password makes gnome-keyring create the login collection.
    printf "%s" "$VK_TEST_KEYRING_PASSWORD" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    # Wait for the name without activating it: activation would start a
    # second, locked daemon that can outlive the bus.
    tries=0
    until dbus-send --session --print-reply --dest=org.freedesktop.DBus \
            /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
            string:org.freedesktop.secrets 2>/dev/null | grep -q "boolean true"; do
      tries=$((tries + 1))
      if [ "$tries" -ge 100 ]; then
        echo "with_desktop_session: the keyring did not appear on the bus" >&2
        exit 1
      fi
      sleep 0.05
    done
    exec "$@"
  ' with_desktop_session "$@" && rc=0 || rc=$?
exit "$rc"

#!/usr/bin/python3
"""Proves vellumkeep-native in headless Firefox.

Registers the host with our installer in a private home, starts the stand-in
app, runs headless Firefox ESR in its own session and drives it over its
built-in Marionette protocol: installs the test extension as a temporary
add-on, opens its page and runs the page's phases. Then checks that a host
leaves by itself when its port closes, well before Firefox would kill it, and
that nothing Firefox started outlives it. Exit 0 on success, 1 on failure
(with the browser's log), 77 when Firefox ESR is not installed.
"""

import argparse
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import time

from browser_harness import (FORBIDDEN_HOST_NAME, HOST_NAME, PHASE_TIMEOUT_S, SKIP, STARTUP_TIMEOUT_S,
                             STOP_TIMEOUT_S, BrowserRun, Failure, add_common_arguments, run_test,
                             wait_for)

ADDON_ID = "vellumkeep-test@tarnwick.example"  # the extension's gecko ID
OTHER_ADDON_ID = "someone-else@tarnwick.example"
# Firefox closes a host's standard input when its port closes and sends
# SIGTERM this long after.
FIREFOX_KILL_AFTER_S = 3.0
# Firefox reads the test profile's preferences from this file.
USER_PREFS = "\n".join([
    # Any free port, written to MarionetteActivePort in the profile.
    'user_pref("marionette.port", 0);',
    # Nothing but the test runs: no first-run work, no network chatter, no
    # processes started ahead of need. Startup is most of a run's time.
    'user_pref("browser.shell.checkDefaultBrowser", false);',
    'user_pref("browser.startup.homepage_override.mstone", "ignore");',
    'user_pref("browser.startup.page", 0);',
    'user_pref("browser.newtabpage.enabled", false);',
    'user_pref("browser.places.importBookmarksHTML", false);',
    'user_pref("datareporting.policy.dataSubmissionEnabled", false);',
    'user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);',
    'user_pref("app.update.disabledForTesting", true);',
    'user_pref("browser.region.update.enabled", false);',
    'user_pref("browser.search.update", false);',
    'user_pref("browser.safebrowsing.malware.enabled", false);',
    'user_pref("browser.safebrowsing.phishing.enabled", false);',
    'user_pref("browser.safebrowsing.update.enabled", false);',
    'user_pref("network.connectivity-service.enabled", false);',
    'user_pref("network.captive-portal-service.enabled", false);',
    'user_pref("services.settings.server", "data:,#remote-settings-off");',
    'user_pref("extensions.update.enabled", false);',
    'user_pref("extensions.getAddons.cache.enabled", false);',
    'user_pref("dom.ipc.processPrelaunch.enabled", false);',
]) + "\n"


def default_firefox():
    return shutil.which("firefox-esr") or "/usr/lib/firefox-esr/firefox-esr"


class Marionette:
    """A Marionette client: each packet is "<byte length>:<JSON>", the server
    speaks first, a command is [0, id, name, params] and its answer
    [1, id, error, result]."""

    def __init__(self, port):
        self.connection = socket.create_connection(("127.0.0.1", port), timeout=STARTUP_TIMEOUT_S)
        self.buffer = b""
        self.next_id = 0
        hello = self._read(time.monotonic() + STARTUP_TIMEOUT_S, "the greeting")
        if hello.get("marionetteProtocol") != 3:
            raise Failure(f"unexpected Marionette greeting {hello}")

    def call(self, name, params=None, timeout=STARTUP_TIMEOUT_S):
        self.next_id += 1
        data = json.dumps([0, self.next_id, name, params or {}]).encode()
        self.connection.sendall(str(len(data)).encode() + b":" + data)
        deadline = time.monotonic() + timeout
        while True:
            kind, reply_id, error, result = self._read(deadline, name)
            if kind != 1 or reply_id != self.next_id:
                continue
            if error:
                raise Failure(f"{name} failed: {error.get('error')}: {error.get('message')}")
            return result

    def _read(self, deadline, what):
        while True:
            length, colon, rest = self.buffer.partition(b":")
            if colon and len(rest) >= int(length):
                self.buffer = rest[int(length):]
                return json.loads(rest[:int(length)])
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure(f"no Marionette reply to {what}")
            ready, _, _ = select.select([self.connection], [], [], left)
            if ready:
                chunk = self.connection.recv(1 << 16)
                if not chunk:
                    raise Failure(f"Firefox closed the Marionette connection during {what}")
                self.buffer += chunk

    def close(self):
        self.connection.close()


class FirefoxRun(BrowserRun):
    def __init__(self, args):
        super().__init__(args)
        self.profile = os.path.join(self.work, "profile")
        self.manifests = os.path.join(self.home, ".mozilla", "native-messaging-hosts")
        self.marionette = None

    def prepare(self):
        super().prepare()
        os.makedirs(self.profile)
        with open(os.path.join(self.profile, "user.js"), "w", encoding="utf-8") as f:
            f.write(USER_PREFS)
        for name, allowed_id in ((HOST_NAME, ADDON_ID), (FORBIDDEN_HOST_NAME, OTHER_ADDON_ID)):
            self.install_manifest(
                ["--browser=firefox", "--name=" + name, "--allowed-extension=" + allowed_id],
                os.path.join(self.manifests, name + ".json"))

    def start_browser(self):
        env = self.browser_environment()
        env["MOZ_CRASHREPORTER_DISABLE"] = "1"
        # Firefox keeps its own files under the XDG folders: in the private home.
        for name in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                     "DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        command = [self.args.firefox, "-headless", "-marionette", "-remote-allow-system-access",
                   "-no-remote", "-profile", self.profile, "about:blank"]
        log = open(self.browser_log, "wb")
        # Its own session, so that whatever it leaves running can be found.
        self.browser = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                        start_new_session=True)
        log.close()
        port_file = os.path.join(self.profile, "MarionetteActivePort")

        def port():
            if self.browser.poll() is not None:
                raise Failure(f"Firefox exited with status {self.browser.returncode} while starting")
            try:
                with open(port_file, encoding="ascii") as f:
                    text = f.read().strip()
            except OSError:
                return None
            return int(text) if text.isdigit() else None

        self.marionette = Marionette(wait_for(port, STARTUP_TIMEOUT_S, "Marionette port"))
        self.marionette.call("WebDriver:NewSession", {}, timeout=STARTUP_TIMEOUT_S * 2)
        self.marionette.call("WebDriver:SetTimeouts", {"script": PHASE_TIMEOUT_S * 1000})

    def chrome_script(self, script):
        """Runs `script` with the browser's own privileges."""
        self.marionette.call("Marionette:SetContext", {"value": "chrome"})
        try:
            return self.marionette.call("WebDriver:ExecuteScript", {"script": script, "args": []})["value"]
        finally:
            self.marionette.call("Marionette:SetContext", {"value": "content"})

    def evaluate(self, expression, timeout=STARTUP_TIMEOUT_S):
        # Marionette waits for a returned promise, as WebDriver does.
        return self.marionette.call("WebDriver:ExecuteScript",
                                    {"script": f"return {expression};", "args": []}, timeout)["value"]

    def open_test_page(self):
        extension = os.path.abspath(self.args.extension_dir)
        # Unsigned add-ons install this way only.
        installed = self.marionette.call("Addon:Install", {"path": extension, "temporary": True})
        if installed.get("value") != ADDON_ID:
            raise Failure(f"Addon:Install gave {installed}, expected {ADDON_ID}")
        host = self.chrome_script(
            f"return WebExtensionPolicy.getByID({json.dumps(ADDON_ID)}).mozExtensionHostname")
        self.marionette.call("WebDriver:Navigate", {"url": f"moz-extension://{host}/test.html"})
        wait_for(lambda: self.evaluate("document.title") == "ready", STARTUP_TIMEOUT_S, "test page")

    def check_host_leaves_with_its_port(self):
        """Closes a port whose host is running and measures until the host has
        exited. Firefox signals it only 3 s after closing its standard input,
        and the clock here starts before the port is closed, so an exit seen
        sooner is the host's own."""
        self.run_phase("hold")

        def only_host():
            found = self.host_processes()
            return found[0] if len(found) == 1 else None

        # The hosts of earlier, finished requests are leaving meanwhile.
        pid = wait_for(only_host, STOP_TIMEOUT_S, "exactly the held port's host running")
        watch = os.pidfd_open(pid)
        try:
            started = time.monotonic()
            self.evaluate("vkRelease()")
            exited, _, _ = select.select([watch], [], [], STOP_TIMEOUT_S)
            elapsed = time.monotonic() - started
        finally:
            os.close(watch)
        if not exited:
            raise Failure(f"host {pid} still running {STOP_TIMEOUT_S} s after its port closed")
        if elapsed >= FIREFOX_KILL_AFTER_S:
            raise Failure(f"host took {elapsed:.2f} s to leave; "
                          f"Firefox kills it after {FIREFOX_KILL_AFTER_S} s")
        print(f"ok host left {elapsed * 1000:.0f} ms after its port closed "
              f"(Firefox would kill it after {FIREFOX_KILL_AFTER_S:.0f} s)")

    def check_host_diagnostics(self):
        """Each host's standard error reaches the browser console."""
        prefix = f"stderr output from native app {HOST_NAME}: [vellumkeep-native] cannot open socket: "
        script = ("return Services.console.getMessageArray().map(m => m.message)"
                  f".filter(m => m.startsWith({json.dumps(prefix)})).length")
        # Firefox reads standard error apart from the replies; it may trail them.
        wait_for(lambda: self.chrome_script(script) == 3, STOP_TIMEOUT_S,
                 "3 host diagnostics in the browser console")

    def session_processes(self):
        """Processes still in the browser's session, by pid and command line."""
        found = {}
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/stat", encoding="ascii", errors="replace") as f:
                    # The fields after the parenthesised command name.
                    fields = f.read().rsplit(")", 1)[1].split()
                if int(fields[3]) != self.browser.pid or fields[0] == "Z":
                    continue
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    found[int(entry)] = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
            except (OSError, IndexError, ValueError):
                pass
        return found

    def quit_browser(self):
        self.marionette.call("Marionette:Quit", {}, timeout=STOP_TIMEOUT_S * 3)
        self.browser.wait(STOP_TIMEOUT_S * 3)

    def stop_browser(self):
        """Ends Firefox however the run went, then fails on anything left in
        its session once it is gone."""
        if not self.browser:
            return
        if self.marionette:
            self.marionette.close()
            self.marionette = None
        if self.browser.poll() is None:
            self.browser.terminate()
            try:
                self.browser.wait(STOP_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                self.browser.kill()
                self.browser.wait()

        def session_empty():
            self.reap_orphans()  # adopted helpers that have exited
            return not self.session_processes()

        try:
            wait_for(session_empty, STOP_TIMEOUT_S, "the browser's session emptying")
        except Failure:
            left = self.session_processes()
            if left:
                try:
                    os.killpg(self.browser.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                raise Failure(f"left running in Firefox's session: {left}")
        finally:
            self.browser = None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    add_common_arguments(parser)
    parser.add_argument("--firefox", default=default_firefox(), help="the browser binary")
    args = parser.parse_args()

    if not os.access(args.firefox, os.X_OK):
        print(f"SKIP: {args.firefox} is not installed (Debian package firefox-esr)")
        return SKIP

    run = FirefoxRun(args)
    steps = [run.prepare, run.start_app, run.start_browser, run.open_test_page,
             lambda: run.run_phase("live"), run.check_host_leaves_with_its_port, run.stop_app,
             lambda: run.run_phase("stopped"), run.check_host_diagnostics, run.quit_browser]
    return run_test(run, steps, [run.stop_browser, run.stop_app, run.reap_hosts, run.wait_for_orphans])


if __name__ == "__main__":
    sys.exit(main())

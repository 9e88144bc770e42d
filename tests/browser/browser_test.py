#!/usr/bin/python3
"""Proves vellumkeep-native in a real browser.

Registers the host with our installer inside a fresh Chromium profile, starts
the stand-in app, runs headless Chromium with the test extension loaded, and
drives the extension's page over the DevTools pipe (fd 3 in, fd 4 out, one
JSON message per NUL-terminated chunk). Exit 0 on success, 1 on failure (with
the browser's log), 77 when Chromium is not installed.
"""

import argparse
import base64
import ctypes
import hashlib
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import time

# The real binary: the /usr/bin/chromium wrapper adds flags of its own.
CHROMIUM = "/usr/lib/chromium/chromium"
HOST_NAME = "com.tarnwick.vellumkeep"
FORBIDDEN_HOST_NAME = "com.tarnwick.vellumkeep_forbidden"
# Allowed by the forbidden host's manifest: any ID but the test extension's.
OTHER_EXTENSION_ID = "a" * 32
SKIP = 77
PHASE_TIMEOUT_S = 60
STARTUP_TIMEOUT_S = 30


class Failure(Exception):
    pass


def extension_id(manifest_path):
    """The ID Chromium derives from the manifest's "key": the first 32 hex
    digits of SHA-256 of the DER public key, with 0-f written as a-p."""
    with open(manifest_path, encoding="utf-8") as f:
        key = base64.b64decode(json.load(f)["key"])
    digest = hashlib.sha256(key).hexdigest()[:32]
    return "".join(chr(ord("a") + int(c, 16)) for c in digest)


class DevToolsPipe:
    """Commands and replies of the DevTools protocol over two pipes."""

    def __init__(self, to_browser, from_browser):
        self.to_browser = to_browser
        self.from_browser = from_browser
        self.buffer = b""
        self.next_id = 0

    def call(self, method, params=None, session=None, timeout=STARTUP_TIMEOUT_S):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        data = json.dumps(message).encode() + b"\0"
        while data:
            data = data[os.write(self.to_browser, data):]
        deadline = time.monotonic() + timeout
        while True:
            reply = self._read_message(deadline, method)
            if reply.get("id") != self.next_id:
                continue  # events and replies to earlier calls
            if "error" in reply:
                raise Failure(f"{method} failed: {reply['error']}")
            return reply.get("result", {})

    def _read_message(self, deadline, method):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure(f"no DevTools reply to {method}")
            ready, _, _ = select.select([self.from_browser], [], [], left)
            if not ready:
                continue
            chunk = os.read(self.from_browser, 1 << 16)
            if not chunk:
                raise Failure(f"browser closed the DevTools pipe during {method}")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)


class Run:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work_dir)
        self.home = os.path.join(self.work, "home")
        # The per-user location the installer writes for Chromium on Linux is
        # <home>/.config/chromium/NativeMessagingHosts, which is also where a
        # browser with this user-data-dir looks.
        self.profile = os.path.join(self.home, ".config", "chromium")
        self.socket = os.path.join(self.work, "s", "vellumkeep-native.sock")
        self.browser_log = os.path.join(self.work, "browser.log")
        self.app_log = os.path.join(self.work, "stand-in-app.log")
        self.app = None
        self.browser = None
        self.devtools = None
        self.log_lines = 0  # lines of the page's log already printed
        self.ext_id = extension_id(os.path.join(args.extension_dir, "manifest.json"))

    # ---- set-up -----------------------------------------------------------

    def prepare(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.home)
        if len(self.socket.encode()) >= 100:
            raise Failure(f"socket path too long for a Unix socket: {self.socket}")
        self.install_manifest(HOST_NAME, self.ext_id)
        self.install_manifest(FORBIDDEN_HOST_NAME, OTHER_EXTENSION_ID)

    def install_manifest(self, name, allowed_id):
        command = [self.args.installer, "install", "--browser=chromium", "--user", "--os=linux",
                   "--home=" + self.home, "--name=" + name,
                   "--host-path=" + os.path.abspath(self.args.host),
                   f"--allowed-origin=chrome-extension://{allowed_id}/"]
        done = subprocess.run(command, capture_output=True, text=True)
        expected = os.path.join(self.profile, "NativeMessagingHosts", name + ".json")
        if done.returncode != 0 or done.stdout != f"wrote {expected}\n":
            raise Failure(f"installer failed ({done.returncode}): {done.stdout}{done.stderr}")

    def start_app(self):
        log = open(self.app_log, "wb")
        self.app = subprocess.Popen([self.args.stand_in_app, "--socket", self.socket, "--verbose"],
                                    stdout=subprocess.PIPE, stderr=log, start_new_session=True)
        log.close()
        ready, _, _ = select.select([self.app.stdout], [], [], STARTUP_TIMEOUT_S)
        line = self.app.stdout.readline().decode() if ready else ""
        if line != self.socket + "\n":
            raise Failure(f"stand-in app did not report it listens on {self.socket}: {line!r}")

    def stop_app(self):
        if self.app and self.app.poll() is None:
            self.app.send_signal(signal.SIGTERM)
            try:
                self.app.wait(10)
            except subprocess.TimeoutExpired:
                self.app.kill()
                self.app.wait()
        if self.app:
            self.app.stdout.close()
        self.app = None

    def start_browser(self):
        command_r, command_w = os.pipe()
        reply_r, reply_w = os.pipe()

        def place_pipes():
            # The browser expects the pipe ends on fds 3 and 4 without
            # close-on-exec; dup2 clears the flag. Moving both above 4 first
            # keeps one from landing on the other's target.
            high_r = os.dup(command_r)
            high_w = os.dup(reply_w)
            while high_r <= 4 or high_w <= 4:
                high_r, high_w = os.dup(high_r), os.dup(high_w)
            os.dup2(high_r, 3)
            os.dup2(high_w, 4)

        env = dict(os.environ)
        env["HOME"] = self.home
        # Passed on to every host the browser starts.
        env["VK_IPC_SOCKET_PATH"] = self.socket
        extension = os.path.abspath(self.args.extension_dir)
        command = [self.args.chromium, "--headless=new", "--no-sandbox", "--user-data-dir=" + self.profile,
                   "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", "--disable-quic",
                   "--load-extension=" + extension, "--disable-extensions-except=" + extension,
                   "--remote-debugging-pipe", "--enable-logging=stderr", "about:blank"]
        log = open(self.browser_log, "wb")
        self.browser = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                        stderr=log, preexec_fn=place_pipes, close_fds=False,
                                        start_new_session=True)
        log.close()
        os.close(command_r)
        os.close(reply_w)
        self.devtools = DevToolsPipe(command_w, reply_r)

    # ---- the page ---------------------------------------------------------

    def evaluate(self, session, expression):
        result = self.devtools.call("Runtime.evaluate",
                                    {"expression": expression, "returnByValue": True}, session)
        if "exceptionDetails" in result:
            raise Failure(f"page error in {expression}: {result['exceptionDetails']}")
        return result.get("result", {}).get("value")

    def open_test_page(self):
        url = f"chrome-extension://{self.ext_id}/test.html"
        deadline = time.monotonic() + STARTUP_TIMEOUT_S
        self.devtools.call("Target.getTargets")  # the browser is up
        target = self.devtools.call("Target.createTarget", {"url": url})["targetId"]
        session = self.devtools.call("Target.attachToTarget",
                                     {"targetId": target, "flatten": True})["sessionId"]
        # The extension may still be loading when the page is first opened.
        while True:
            title = self.evaluate(session, "document.title")
            if title == "ready":
                return session
            if time.monotonic() > deadline:
                raise Failure(f"test page did not load at {url}: title {title!r}")
            if title in ("", None) or title.startswith(self.ext_id):
                self.devtools.call("Page.navigate", {"url": url}, session)
            time.sleep(0.2)

    def run_phase(self, session, phase):
        self.evaluate(session, f"vkRun({json.dumps(phase)})")
        deadline = time.monotonic() + PHASE_TIMEOUT_S
        while True:
            title = self.evaluate(session, "document.title")
            if title == "pass:" + phase:
                break
            if title.startswith("fail:") or time.monotonic() > deadline:
                lines = self.evaluate(session, "window.vkLog.join('\\n')")
                raise Failure(f"phase {phase}: {title}\n{lines}")
            time.sleep(0.1)
        print(self.evaluate(session, f"window.vkLog.slice({self.log_lines}).join('\\n')"))
        self.log_lines = self.evaluate(session, "window.vkLog.length")

    # ---- tear-down --------------------------------------------------------

    def host_processes(self):
        """Hosts started for this run, told apart by their environment."""
        host = os.path.realpath(self.args.host)
        marker = ("VK_IPC_SOCKET_PATH=" + self.socket).encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                if os.path.realpath(f"/proc/{entry}/exe") != host:
                    continue
                with open(f"/proc/{entry}/environ", "rb") as f:
                    if marker in f.read().split(b"\0"):
                        found.append(int(entry))
            except OSError:
                pass
        return found

    def stop_browser(self):
        if not self.browser:
            return
        if self.browser.poll() is None and self.devtools:
            try:
                self.devtools.call("Browser.close", timeout=10)
            except (Failure, OSError):
                pass
        try:
            self.browser.wait(10)
        except subprocess.TimeoutExpired:
            pass
        # Everything the browser started in its session goes with it.
        try:
            os.killpg(self.browser.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        if self.browser.poll() is None:
            self.browser.wait()
        if self.devtools:
            os.close(self.devtools.to_browser)
            os.close(self.devtools.from_browser)
        self.browser = None
        self.devtools = None

    def reap_hosts(self):
        """Hosts end when the browser closes their standard input; any that
        remain are killed and reported."""
        deadline = time.monotonic() + 5
        while self.host_processes() and time.monotonic() < deadline:
            time.sleep(0.1)
        left = self.host_processes()
        for pid in left:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if left:
            raise Failure(f"host processes outlived the browser: {left}")

    @staticmethod
    def adopt_orphans():
        """Makes the browser's orphaned helpers our children, so that none
        is left behind unreaped when the browser ends before them."""
        PR_SET_CHILD_SUBREAPER = 36
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
            raise Failure(f"prctl(PR_SET_CHILD_SUBREAPER): errno {ctypes.get_errno()}")

    @staticmethod
    def reap_orphans():
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                time.sleep(0.05)
        raise Failure("browser helpers still running 10 s after the browser was killed")

    def check_host_diagnostics(self):
        """The host's standard error reaches the browser's log."""
        with open(self.browser_log, encoding="utf-8", errors="replace") as f:
            lines = [line for line in f if line.startswith("[vellumkeep-native] cannot open socket: ")]
        if len(lines) != 3:
            raise Failure(f"expected 3 host diagnostics in the browser log, found {len(lines)}")

    def dump_logs(self):
        for title, path in (("browser log", self.browser_log), ("stand-in app log", self.app_log)):
            try:
                with open(path, encoding="utf-8", errors="replace") as f:
                    lines = f.readlines()
            except OSError:
                continue
            print(f"----- {title} ({path}) -----", file=sys.stderr)
            for line in lines:
                line = line.rstrip("\n")
                print(line if len(line) <= 500 else line[:500] + f"... ({len(line)} chars)",
                      file=sys.stderr)
            print(f"----- end of {title} -----", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--host", required=True, help="the built vellumkeep-native")
    parser.add_argument("--installer", required=True, help="the built vk-install-host-manifest")
    parser.add_argument("--stand-in-app", required=True, help="the built vk-stand-in-app")
    parser.add_argument("--extension-dir", required=True)
    parser.add_argument("--work-dir", required=True, help="fresh directory for this run")
    parser.add_argument("--chromium", default=CHROMIUM, help="the browser binary")
    args = parser.parse_args()

    if not os.access(args.chromium, os.X_OK):
        print(f"SKIP: {args.chromium} is not installed (Debian packages chromium, chromium-driver)")
        return SKIP

    run = Run(args)
    print(f"extension ID {run.ext_id}")
    failures = []
    try:
        run.adopt_orphans()
        run.prepare()
        run.start_app()
        run.start_browser()
        session = run.open_test_page()
        run.run_phase(session, "live")
        run.stop_app()
        run.run_phase(session, "stopped")
        run.check_host_diagnostics()
    except Exception as failure:  # every failure is reported with the logs
        failures.append(failure)
    finally:
        run.stop_browser()
        run.stop_app()
        for check in (run.reap_hosts, run.reap_orphans):
            try:
                check()
            except Failure as leftover:
                failures.append(leftover)
    if failures:
        for failure in failures:
            print(f"FAIL: {failure}", file=sys.stderr)
        run.dump_logs()
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())

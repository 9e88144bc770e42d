#!/usr/bin/python3
"""Proves vellumkeep-native in headless Chromium.

Registers the host with our installer inside a fresh Chromium profile, starts
the stand-in app, runs headless Chromium with the test extension loaded, and
drives the extension's page over the DevTools pipe (fd 3 in, fd 4 out, one
JSON message per NUL-terminated chunk). Exit 0 on success, 1 on failure (with
the browser's log), 77 when Chromium is not installed.
"""

import argparse
import base64
import hashlib
import json
import os
import select
import signal
import subprocess
import sys
import time

from browser_harness import (FORBIDDEN_HOST_NAME, HOST_NAME, SKIP, STARTUP_TIMEOUT_S, STOP_TIMEOUT_S,
                             BrowserRun, Failure, add_common_arguments, run_test)

# The real binary: the /usr/bin/chromium wrapper adds flags of its own.
CHROMIUM = "/usr/lib/chromium/chromium"
# Allowed by the forbidden host's manifest: any ID but the test extension's.
OTHER_EXTENSION_ID = "a" * 32


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


class ChromiumRun(BrowserRun):
    def __init__(self, args):
        super().__init__(args)
        # The per-user location the installer writes for Chromium on Linux is
        # <home>/.config/chromium/NativeMessagingHosts, which is also where a
        # browser with this user-data-dir looks.
        self.profile = os.path.join(self.home, ".config", "chromium")
        self.devtools = None
        self.session = None
        self.ext_id = extension_id(os.path.join(args.extension_dir, "manifest.json"))

    def prepare(self):
        super().prepare()
        for name, allowed_id in ((HOST_NAME, self.ext_id), (FORBIDDEN_HOST_NAME, OTHER_EXTENSION_ID)):
            self.install_manifest(
                ["--browser=chromium", "--name=" + name,
                 f"--allowed-origin=chrome-extension://{allowed_id}/"],
                os.path.join(self.profile, "NativeMessagingHosts", name + ".json"))

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

        extension = os.path.abspath(self.args.extension_dir)
        command = [self.args.chromium, "--headless=new", "--no-sandbox", "--user-data-dir=" + self.profile,
                   "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", "--disable-quic",
                   "--load-extension=" + extension, "--disable-extensions-except=" + extension,
                   "--remote-debugging-pipe", "--enable-logging=stderr", "about:blank"]
        log = open(self.browser_log, "wb")
        self.browser = subprocess.Popen(command, env=self.browser_environment(), stdin=subprocess.DEVNULL,
                                        stdout=log, stderr=log, preexec_fn=place_pipes, close_fds=False,
                                        start_new_session=True)
        log.close()
        os.close(command_r)
        os.close(reply_w)
        self.devtools = DevToolsPipe(command_w, reply_r)

    def evaluate(self, expression, timeout=STARTUP_TIMEOUT_S):
        result = self.devtools.call(
            "Runtime.evaluate", {"expression": expression, "returnByValue": True, "awaitPromise": True},
            self.session, timeout)
        if "exceptionDetails" in result:
            raise Failure(f"page error in {expression}: {result['exceptionDetails']}")
        return result.get("result", {}).get("value")

    def open_test_page(self):
        url = f"chrome-extension://{self.ext_id}/test.html"
        deadline = time.monotonic() + STARTUP_TIMEOUT_S
        self.devtools.call("Target.getTargets")  # the browser is up
        target = self.devtools.call("Target.createTarget", {"url": url})["targetId"]
        self.session = self.devtools.call("Target.attachToTarget",
                                          {"targetId": target, "flatten": True})["sessionId"]
        # The extension may still be loading when the page is first opened.
        while True:
            title = self.evaluate("document.title")
            if title == "ready":
                return
            if time.monotonic() > deadline:
                raise Failure(f"test page did not load at {url}: title {title!r}")
            if title in ("", None) or title.startswith(self.ext_id):
                self.devtools.call("Page.navigate", {"url": url}, self.session)
            time.sleep(0.2)

    def stop_browser(self):
        if not self.browser:
            return
        if self.browser.poll() is None and self.devtools:
            try:
                self.devtools.call("Browser.close", timeout=STOP_TIMEOUT_S)
            except (Failure, OSError):
                pass
        try:
            self.browser.wait(STOP_TIMEOUT_S)
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

    def check_host_diagnostics(self):
        """The host's standard error reaches the browser's log."""
        with open(self.browser_log, encoding="utf-8", errors="replace") as f:
            lines = [line for line in f if line.startswith("[vellumkeep-native] cannot open socket: ")]
        if len(lines) != 3:
            raise Failure(f"expected 3 host diagnostics in the browser log, found {len(lines)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    add_common_arguments(parser)
    parser.add_argument("--chromium", default=CHROMIUM, help="the browser binary")
    args = parser.parse_args()

    if not os.access(args.chromium, os.X_OK):
        print(f"SKIP: {args.chromium} is not installed (Debian packages chromium, chromium-driver)")
        return SKIP

    run = ChromiumRun(args)
    print(f"extension ID {run.ext_id}")
    steps = [run.prepare, run.start_app, run.start_browser, run.open_test_page,
             lambda: run.run_phase("live"), run.stop_app, lambda: run.run_phase("stopped"),
             run.check_host_diagnostics]
    return run_test(run, steps, [run.stop_browser, run.stop_app, run.reap_hosts, run.wait_for_orphans])


if __name__ == "__main__":
    sys.exit(main())

"""What the real-browser tests share.

Each test registers the built host with our installer in a private home,
starts the stand-in app, runs a headless browser with the test extension and
drives the extension's page through phases (test.js): the page runs one phase
when told to with vkRun(phase) and reports in document.title. Whatever the
browser started must be gone when it is: hosts are found by their environment,
orphans are adopted and reaped.
"""

import ctypes
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HOST_NAME = "com.tarnwick.vellumkeep"
FORBIDDEN_HOST_NAME = "com.tarnwick.vellumkeep_forbidden"
SKIP = 77
PHASE_TIMEOUT_S = 60
STARTUP_TIMEOUT_S = 30
# How long anything we stop may take to go, however loaded the machine.
STOP_TIMEOUT_S = 10


class Failure(Exception):
    pass


class Skipped(Exception):
    """The test cannot run here; the text says why."""


def refused_by_host(path):
    """Whether the host refuses a socket at the absolute `path`: it compares
    components, and refuses /tmp, /var/tmp and everything below them."""
    parts = [part for part in path.split("/") if part not in ("", ".")]
    while parts[:1] == [".."]:
        parts.pop(0)  # "/.." is "/"
    return parts[:1] == ["tmp"] or parts[:2] == ["var", "tmp"]


def wait_for(condition, timeout, what, interval=0.05):
    """Returns the first true value of condition(), or fails after `timeout`
    seconds. For waiting on events; the interval is no assertion."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"{what}: not within {timeout} s")
        time.sleep(interval)


class BrowserRun:
    """One run of one browser against the host, in a fresh work directory."""

    browser_name = "browser"

    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work_dir)
        self.home = os.path.join(self.work, "home")
        self.socket = None  # chosen by prepare()
        self.made_socket_dir = None  # a folder outside the work folder, removed at the end
        self.browser_log = os.path.join(self.work, "browser.log")
        self.app_log = os.path.join(self.work, "stand-in-app.log")
        self.app = None
        self.browser = None
        self.log_lines = 0  # lines of the page's log already printed

    # ---- set-up -----------------------------------------------------------

    def prepare(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.home)
        self.socket = os.path.join(self.socket_dir(), "vellumkeep-native.sock")
        if len(self.socket.encode()) >= 100:
            raise Failure(f"socket path too long for a Unix socket: {self.socket}")

    def socket_dir(self):
        """The socket's folder: in the work folder, unless that lies where
        the host refuses sockets (a checkout under /tmp); then a fresh
        private folder in the user's runtime directory or ~/.cache."""
        if not refused_by_host(self.work):
            return os.path.join(self.work, "s")
        tried = []
        runtime = os.environ.get("XDG_RUNTIME_DIR")
        cache = os.path.join(os.path.expanduser("~"), ".cache")
        # The runtime directory belongs to the session and is used only when
        # it exists; ~/.cache is made when missing, as any program would.
        for base, make in ((runtime, False), (cache, True)):
            if not base:
                tried.append("$XDG_RUNTIME_DIR (not set)")
                continue
            if not os.path.isabs(base) or refused_by_host(base):
                tried.append(f"{base} (not an absolute path the host accepts)")
                continue
            try:
                if make:
                    os.makedirs(base, mode=0o700, exist_ok=True)
                self.made_socket_dir = tempfile.mkdtemp(prefix="vk-browser-test.", dir=base)  # mode 0700
                return self.made_socket_dir
            except OSError as error:
                tried.append(f"{base} ({error.strerror})")
        raise Skipped(f"the work folder {self.work} lies where the host refuses sockets, and no private "
                      f"folder could be made elsewhere: tried {', '.join(tried)}")

    def remove_socket_dir(self):
        if self.made_socket_dir:
            shutil.rmtree(self.made_socket_dir, ignore_errors=True)
            self.made_socket_dir = None

    def install_manifest(self, options, expected_path):
        """Runs the installer with `options` for this run's home and host."""
        command = [self.args.installer, "install", "--user", "--os=linux", "--home=" + self.home,
                   "--host-path=" + os.path.abspath(self.args.host)] + options
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0 or done.stdout != f"wrote {expected_path}\n":
            raise Failure(f"installer failed ({done.returncode}): {done.stdout}{done.stderr}")

    def browser_environment(self):
        env = dict(os.environ)
        env["HOME"] = self.home
        # Passed on to every host the browser starts.
        env["VK_IPC_SOCKET_PATH"] = self.socket
        return env

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
                self.app.wait(STOP_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                self.app.kill()
                self.app.wait()
        if self.app:
            self.app.stdout.close()
        self.app = None

    # ---- the page ---------------------------------------------------------

    def evaluate(self, expression, timeout=STARTUP_TIMEOUT_S):
        """The value of a JavaScript expression in the test page, once the
        promise it gives, if any, has settled."""
        raise NotImplementedError

    def run_phase(self, phase):
        # The page bounds each of its waits; this bound is the last resort.
        title = self.evaluate(f"vkRun({json.dumps(phase)})", timeout=PHASE_TIMEOUT_S)
        if title != "pass:" + phase:
            lines = self.evaluate("window.vkLog.join('\\n')")
            raise Failure(f"phase {phase}: {title}\n{lines}")
        print(self.evaluate(f"window.vkLog.slice({self.log_lines}).join('\\n')"))
        self.log_lines = self.evaluate("window.vkLog.length")

    # ---- hosts and leftovers ----------------------------------------------

    def host_processes(self):
        """Running hosts started for this run, told apart by their environment."""
        if self.socket is None:
            return []
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
                pass  # gone, or a zombie, meanwhile
        return found

    def reap_hosts(self):
        """Hosts end when the browser closes their standard input; any that
        remain are killed and reported."""
        try:
            wait_for(lambda: not self.host_processes(), STOP_TIMEOUT_S / 2, "hosts ending")
        except Failure:
            pass
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
        """Reaps adopted helpers; true once none is left."""
        while True:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return True
            if pid == 0:
                return False

    def wait_for_orphans(self):
        try:
            wait_for(self.reap_orphans, STOP_TIMEOUT_S, "browser helpers ending")
        except Failure:
            raise Failure(f"browser helpers still running {STOP_TIMEOUT_S} s after the browser was killed")

    # ---- reporting --------------------------------------------------------

    def logs(self):
        return [("browser log", self.browser_log), ("stand-in app log", self.app_log)]

    def dump_logs(self):
        for title, path in self.logs():
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


def run_test(run, steps, cleanups):
    """Runs `steps`, then every cleanup however they ended; exit code 0 on
    success, SKIP when a step found it cannot run here, 1 with every failure
    and the logs."""
    failures = []
    skipped = None
    try:
        run.adopt_orphans()
        for step in steps:
            step()
    except Skipped as reason:
        skipped = reason
    except Exception as failure:  # every failure is reported with the logs
        failures.append(failure)
    finally:
        for cleanup in cleanups + [run.remove_socket_dir]:
            try:
                cleanup()
            except Failure as leftover:
                failures.append(leftover)
    if skipped and not failures:
        print(f"SKIP: {skipped}")
        return SKIP
    if failures:
        for failure in failures:
            print(f"FAIL: {failure}", file=sys.stderr)
        run.dump_logs()
        return 1
    print("PASS")
    return 0


def add_common_arguments(parser):
    parser.add_argument("--host", required=True, help="the built vellumkeep-native")
    parser.add_argument("--installer", required=True, help="the built vk-install-host-manifest")
    parser.add_argument("--stand-in-app", required=True, help="the built vk-stand-in-app")
    parser.add_argument("--extension-dir", required=True)
    parser.add_argument("--work-dir", required=True, help="fresh directory for this run")

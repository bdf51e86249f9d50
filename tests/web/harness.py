"""Simulated boards, the service on them and a headless Chromium on its page.

Shared by the browser tests, the screenshot script and the page's benchmark. Everything runs
for real: swb808-sim on pseudo-terminals, swb808d on those, Chromium through chromedriver.
"""

import json
import os
import queue
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

SKIP = 77  # ctest SKIP_RETURN_CODE


def skip(reason):
    print(f"SKIP: {reason}", flush=True)
    sys.exit(SKIP)


def wait_for(what, predicate, timeout=20.0, step=0.02):
    """Polls until predicate() is true; the timeout only keeps a broken run from hanging."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"gave up waiting for {what}")
        time.sleep(step)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sim:
    """One swb808-sim on a pseudo-terminal behind `link`, with its trace kept."""

    def __init__(self, binary, link, identity, baud=115200, extra=()):
        self.link = link
        self.lines = queue.Queue()
        self.rx = bytearray()  # every byte the board received, at any rate
        self.lock = threading.Lock()
        self.proc = subprocess.Popen(
            [binary, "--link", link, "--baud", str(baud), "--identity", identity, "--trace", *extra],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, bufsize=1)
        threading.Thread(target=self._stdout, daemon=True).start()
        threading.Thread(target=self._stderr, daemon=True).start()
        line = self.lines.get(timeout=10)
        if not line.startswith("ready"):
            raise RuntimeError(f"swb808-sim: {line}")

    def _stdout(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))

    def _stderr(self):
        # "   1.234567 rx 115200 C1 B2 ...": the bytes the program wrote.
        for line in self.proc.stderr:
            parts = line.split()
            if len(parts) >= 3 and parts[1] == "rx":
                data = bytes(int(p, 16) for p in parts[3:] if len(p) == 2)
                with self.lock:
                    self.rx += data

    def command(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()

    def mark(self):
        with self.lock:
            return len(self.rx)

    def frames(self, code, since=0):
        """How many frames with this command code the board received after `since`."""
        with self.lock:
            data = bytes(self.rx[since:])
        return sum(1 for i in range(len(data) - 1) if data[i] == 0xC1 and data[i + 1] == code)

    def status(self):
        while not self.lines.empty():
            self.lines.get_nowait()
        self.command("status")
        text = []
        end = time.monotonic() + 5
        while time.monotonic() < end:
            try:
                text.append(self.lines.get(timeout=0.2))
            except queue.Empty:
                if text:
                    break
        return "\n".join(text)

    def image(self, path):
        if os.path.exists(path):
            os.remove(path)
        self.command(f"image {path}")
        wait_for("the simulator's image", lambda: os.path.exists(path) and os.path.getsize(path) == 6144)
        with open(path, "rb") as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Service:
    """swb808d on the simulators' ports, on a free loopback port."""

    def __init__(self, binary, devices, workdir, tokens=None, local_writes=True):
        self.binary = binary
        self.devices = devices
        self.workdir = workdir
        self.tokens = tokens
        self.local_writes = local_writes
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.proc = None
        self.runs = 0

    def start(self, wait_online=True):
        # A socket in the work directory: the one in the user's runtime directory may be
        # another service's.
        args = [self.binary, "--listen", f"127.0.0.1:{self.port}",
                "--socket", os.path.join(self.workdir, "swb808d.sock")]
        # COM names, as an operator gives them; SWB808_PORT_DIR maps them to the links.
        for d in self.devices:
            args += ["--port", os.path.basename(d).upper()]
        if self.tokens:
            args += ["--tokens", self.tokens]
        if self.local_writes:
            args.append("--allow-local-writes")
        self.runs += 1
        log = open(os.path.join(self.workdir, f"swb808d-{self.runs}.log"), "w")
        locks = os.path.join(self.workdir, "locks")
        os.makedirs(locks, exist_ok=True)
        os.makedirs(os.path.join(self.workdir, "state"), exist_ok=True)
        # Lock files and the boards it remembers of its own: the machine's are shared with
        # other runs (a board remembered on COM3 would be "another board" here).
        env = {**os.environ, "SWB808_PORT_DIR": os.path.dirname(self.devices[0]), "SWB808_LOCK_DIR": locks,
               "STATE_DIRECTORY": os.path.join(self.workdir, "state")}
        self.proc = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT, env=env)
        wait_for("the service to answer", self._healthy, timeout=30)
        if wait_online:
            wait_for("every board online", self._all_online, timeout=60, step=0.1)

    def _healthy(self):
        if self.proc.poll() is not None:
            raise RuntimeError(f"swb808d exited with {self.proc.returncode}: {self.log_tail()}")
        try:
            with urllib.request.urlopen(self.url + "/healthz", timeout=2) as r:
                return r.status == 200
        except (urllib.error.URLError, ConnectionError, OSError):
            return False

    def get(self, path, token=None):
        req = urllib.request.Request(self.url + path)
        if token:
            req.add_header("Authorization", f"Bearer {token}")
        with urllib.request.urlopen(req, timeout=10) as r:
            return json.loads(r.read() or b"null")

    def boards(self, token=None):
        data = self.get("/api/v1/boards", token)
        return data if isinstance(data, list) else data.get("boards", [])

    def _all_online(self):
        try:
            bs = self.boards(self.admin_token if self.tokens else None)
        except (urllib.error.URLError, OSError):
            return False
        return len(bs) == len(self.devices) and all(b.get("state") == "online" for b in bs)

    admin_token = None

    def board_id(self, device):
        for b in self.boards(self.admin_token if self.tokens else None):
            if b.get("port") == os.path.basename(device).upper() or b.get("device") == device:
                return b["id"]
        raise AssertionError(f"no board on {device}")

    def kill(self):
        self.proc.kill()
        self.proc.wait()

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def log_tail(self):
        path = os.path.join(self.workdir, f"swb808d-{self.runs}.log")
        try:
            with open(path) as f:
                return f.read()[-3000:]
        except OSError:
            return ""

    def add_token(self, name, role):
        if not self.tokens:
            self.tokens = os.path.join(self.workdir, "tokens")
        out = subprocess.run([self.binary, "token", "add", name, "--role", role, "--tokens", self.tokens],
                             capture_output=True, text=True, check=True).stdout
        # The token is the one word of the output that is long enough to be one.
        return max(out.split(), key=len)


def find_browser():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def browser(workdir, width=1280, height=900, lang="de"):
    """A fresh headless Chromium; skips the test when there is none."""
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service as ChromeService
    except ImportError:
        skip("python3-selenium is not installed (apt-get install python3-selenium)")
    binary = find_browser()
    driver_path = shutil.which("chromedriver")
    if not binary or not driver_path:
        skip("Chromium or chromedriver is not installed (apt-get install chromium chromium-driver)")
    opts = webdriver.ChromeOptions()
    opts.binary_location = binary
    for a in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", "--no-first-run",
              "--disable-dev-shm-usage", f"--window-size={width},{height}"):
        opts.add_argument(a)
    opts.add_argument("--user-data-dir=" + tempfile.mkdtemp(prefix="chromium-", dir=workdir))
    opts.add_experimental_option("prefs", {"intl.accept_languages": lang})
    opts.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = ChromeService(executable_path=driver_path)
    d = webdriver.Chrome(options=opts, service=service)
    d.set_script_timeout(30)
    return d


def set_width(driver, width, height=900):
    """The page as a phone of this width shows it (the window itself cannot get that narrow)."""
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})


def console_errors(driver):
    """Console errors and CSP violations the page caused."""
    return [e["message"] for e in driver.get_log("browser") if e.get("level") == "SEVERE"]


class Rig:
    """Simulators, the service and a browser, torn down together."""

    def __init__(self, sim, daemon, boards=2, tokens=False, local_writes=True, lang="de", sim_args=()):
        self.workdir = tempfile.mkdtemp(prefix="swb808-web-")
        self.sims = []
        self.service = None
        self.driver = None
        self.lang = lang
        for p in (sim, daemon):
            if not os.access(p, os.X_OK):
                raise RuntimeError(f"not built: {p}")
        ports = os.path.join(self.workdir, "ports")
        os.mkdir(ports)
        try:
            for n in range(boards):
                link = os.path.join(ports, f"com{n + 3}")
                extra = sim_args[n] if n < len(sim_args) else ()
                self.sims.append(Sim(sim, link, f"SWB808 Relaiskarte Pruefstand {n + 1}", extra=extra))
            self.service = Service(daemon, [s.link for s in self.sims], self.workdir,
                                   local_writes=local_writes)
            self.tokens = {}
            if tokens:
                for role in ("viewer", "operator", "admin"):
                    self.tokens[role] = self.service.add_token(f"test-{role}", role)
                self.service.admin_token = self.tokens["admin"]
            self.service.start()
        except BaseException:
            self.close()
            raise

    def open(self, path="/", width=1280):
        if not self.driver:
            self.driver = browser(self.workdir, lang=self.lang)
            if width != 1280:
                set_width(self.driver, width)
        self.driver.get(self.service.url + path)
        return self.driver

    def board_id(self, n):
        return self.service.board_id(self.sims[n].link)

    def close(self):
        if self.driver:
            try:
                self.driver.quit()
            except Exception:
                pass
        if self.service:
            self.service.stop()
        for s in self.sims:
            s.stop()
        shutil.rmtree(self.workdir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if exc[0] and self.service:
            print("--- swb808d log ---\n" + self.service.log_tail(), file=sys.stderr)
        self.close()

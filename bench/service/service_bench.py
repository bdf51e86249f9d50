#!/usr/bin/env python3
"""swb808d on simulated boards: relay latency against swb808ctl, input change to an event
client, many event clients, 16 boards and idle CPU, GET inputs under load during a flash.

    bench/service/service_bench.py BUILD_DIR [relay|events|fanout|boards|load ...]

Prints one line per figure; exits 2 when a client missed or reordered events."""
import http.client, json, os, signal, socket, statistics, subprocess, sys, tempfile, threading, time

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
wanted = sys.argv[2:] or ["relay", "events", "fanout", "boards", "load"]
SIM = f"{build}/sim/swb808-sim"
DAEMON = f"{build}/service/swb808d"
CTL = f"{build}/cli/swb808ctl"
ports = tempfile.mkdtemp(prefix="swb808-bench-")
SOCKET = f"{ports}/swb808d.sock"
env = dict(os.environ, SWB808_PORT_DIR=ports, XDG_STATE_HOME=f"{ports}/state", SWB808_SOCKET=SOCKET)
procs = []


def sim(com, *args):
    p = subprocess.Popen([SIM, "--link", f"{ports}/com{com}", "--baud", "115200", *args],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    p.stdout.readline()  # ready
    procs.append(p)
    return p


def command(p, line):
    p.stdin.write(line + "\n")
    p.stdin.flush()
    return p.stdout.readline().strip()


def daemon(coms, *extra):
    args = [DAEMON, "--listen", "127.0.0.1:0", "--baud", "115200", "--allow-local-writes", "--socket", SOCKET]
    for c in coms:
        args += ["--port", f"COM{c}"]
    p = subprocess.Popen(args + list(extra), env=env, stderr=subprocess.PIPE, text=True)
    procs.append(p)
    for line in p.stderr:
        if "listening on" in line:
            port = int(line.split("127.0.0.1:")[1].split("/")[0])
            break
    threading.Thread(target=lambda: [None for _ in p.stderr], daemon=True).start()
    return p, port


def request(port, method, path, body=None, conn=None):
    c = conn or http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request(method, path, body=json.dumps(body) if body is not None else None)
    r = c.getresponse()
    data = r.read()
    return r.status, (json.loads(data) if data else None)


def wait_online(port, count, timeout=60):
    end = time.time() + timeout
    while time.time() < end:
        boards = request(port, "GET", "/api/v1/boards")[1]["boards"]
        if sum(b["state"] == "online" for b in boards) == count:
            return [b["id"] for b in boards]
        time.sleep(0.1)
    raise SystemExit("boards not online: " + ", ".join(f"{b['port']} {b['state']} {b['problem']}" for b in boards
                                                      if b["state"] != "online"))


class Events:
    def __init__(self, port):
        self.s = socket.create_connection(("127.0.0.1", port))
        self.s.sendall(f"GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        self.buf = b""
        while b"\r\n\r\n" not in self.buf:
            self.buf += self.s.recv(65536)
        self.buf = self.buf.split(b"\r\n\r\n", 1)[1]

    def next(self, kind="input_change"):
        while True:
            while b"\n\n" not in self.buf:
                chunk = self.s.recv(65536)
                if not chunk:
                    return None
                self.buf += chunk
            block, self.buf = self.buf.split(b"\n\n", 1)
            for line in block.split(b"\n"):
                if line.startswith(b"data: "):
                    e = json.loads(line[6:])
                    if e.get("type") == kind:
                        return e


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100))]


def ms(v):
    return f"{v * 1000:.2f} ms"


def relay():
    b = sim(3)
    d, port = daemon([3])
    board = wait_online(port, 1)[0]
    conn = http.client.HTTPConnection("127.0.0.1", port)
    times = []
    for i in range(200):
        t = time.perf_counter()
        status, _ = request(port, "PUT", f"/api/v1/boards/{board}/relays/3", {"state": "on" if i % 2 else "off"}, conn)
        times.append(time.perf_counter() - t)
        assert status == 200, status
    print(f"PUT relays/3 via swb808d, 200 runs: median {ms(statistics.median(times))}, p99 {ms(pct(times, 99))}")

    def ctl_runs(label):
        runs = []
        for i in range(30):
            t = time.perf_counter()
            subprocess.run([CTL, "--port", "COM3", "--baud", "115200", "relay", "3", "on" if i % 2 else "off"],
                           env=env, stdout=subprocess.DEVNULL, check=True)
            runs.append(time.perf_counter() - t)
        print(f"swb808ctl relay 3 {label}, 30 runs: median {ms(statistics.median(runs))}, p99 {ms(pct(runs, 99))}")
        return runs

    through = ctl_runs("through the socket")
    d.send_signal(signal.SIGTERM)
    d.wait()
    ctl = ctl_runs("on the port (no service)")
    print(f"ratio service/tool (medians): {statistics.median(times) / statistics.median(ctl):.3f}")
    print(f"ratio tool through the socket/on the port (medians): "
          f"{statistics.median(through) / statistics.median(ctl):.3f}")
    b.terminate(); b.wait()


def events():
    b = sim(4)
    d, port = daemon([4])
    wait_online(port, 1)
    ev = Events(port)
    times = []
    for i in range(100):
        t = time.perf_counter()
        command(b, f"inputs {i % 255 + 1}")
        e = ev.next()
        times.append(time.perf_counter() - t)
        assert e["inputs"] == i % 255 + 1
    print(f"input change (sim console) to event client, 100 runs: median {ms(statistics.median(times))}, "
          f"p99 {ms(pct(times, 99))} (wire time of the frame 0.61 ms)")
    d.send_signal(signal.SIGTERM)
    d.wait()
    b.terminate(); b.wait()


def fanout():
    b = sim(5)
    d, port = daemon([5])
    wait_online(port, 1)
    clients = [Events(port) for _ in range(100)]
    got = [[] for _ in clients]

    def read(i):
        while len(got[i]) < 1000:
            e = clients[i].next()
            if e is None:
                return
            got[i].append(e["seq"])

    readers = [threading.Thread(target=read, args=(i,)) for i in range(len(clients))]
    for r in readers:
        r.start()
    t = time.perf_counter()
    for i in range(1000):
        command(b, f"inputs {i % 2 + 1}")  # each change differs from the last
    for r in readers:
        r.join(60)
    ok = all(len(g) == 1000 and g == sorted(g) for g in got)
    if not ok:
        print("events per client:", sorted(len(g) for g in got)[:10], "...")
    print(f"100 event clients, 1000 changes in {time.perf_counter() - t:.2f} s: "
          f"{sum(len(g) == 1000 for g in got)}/100 got all, in order: {ok}")
    d.send_signal(signal.SIGTERM)
    d.wait()
    b.terminate(); b.wait()
    return ok


def boards():
    sims = [sim(c, "--identity", f"SWB808 Relaiskarte S/N {c:06d}") for c in range(1, 17)]
    t = time.perf_counter()
    d, port = daemon(range(1, 17))
    ids = wait_online(port, 16)
    found = time.perf_counter() - t
    ok = all(request(port, "PUT", f"/api/v1/boards/{i}/relays", {"mask": 5})[0] == 200 for i in ids)
    tick = os.sysconf("SC_CLK_TCK")
    def cpu():
        f = open(f"/proc/{d.pid}/stat").read().split(")")[1].split()
        return (int(f[11]) + int(f[12])) / tick
    c0, t0 = cpu(), time.time()
    time.sleep(10)
    idle = (cpu() - c0) / (time.time() - t0)
    print(f"16 boards on 16 simulators: all online after {found:.2f} s, all switched: {ok}, "
          f"idle CPU {idle * 100:.2f} % of one core")
    d.send_signal(signal.SIGTERM)
    d.wait()
    for s in sims:
        s.terminate(); s.wait()


def load():
    a, b = sim(7), sim(8)
    d, port = daemon([7, 8])
    wait_online(port, 2)
    ids = {x["port"]: x["id"] for x in request(port, "GET", "/api/v1/boards")[1]["boards"]}
    image = bytearray(6144)
    for i in range(6144):
        image[i] = (i // 64 * 7 + i % 64) & 0xFF
    image[95:111] = b"9.99zWXYZVERSION"
    s = sum(image[:6142]) & 0xFFFF
    image[6142], image[6143] = s & 0xFF, s >> 8
    c = http.client.HTTPConnection("127.0.0.1", port)
    c.request("POST", f"/api/v1/boards/{ids['COM8']}/firmware", body=bytes(image))
    r = c.getresponse(); r.read()
    times = []
    conn = http.client.HTTPConnection("127.0.0.1", port)
    start = time.perf_counter()
    for i in range(2000):  # 1000 requests a second, paced
        due = start + i / 1000
        while time.perf_counter() < due:
            pass
        t = time.perf_counter()
        request(port, "GET", f"/api/v1/boards/{ids['COM7']}/inputs", conn=conn)
        times.append(time.perf_counter() - t)
    state = request(port, "GET", "/api/v1/boards")[1]["boards"]
    print(f"GET inputs at 1000/s for 2 s while another board flashes ({r.status}): "
          f"median {ms(statistics.median(times))}, p99 {ms(pct(times, 99))}, "
          f"states {[x['state'] for x in state]}")
    d.send_signal(signal.SIGTERM)
    d.wait()


try:
    status = 0
    for name in wanted:
        if globals()[name]() is False:
            status = 2
finally:
    for p in procs:
        if p.poll() is None:
            p.kill()
    subprocess.run(["rm", "-rf", ports])
sys.exit(status)

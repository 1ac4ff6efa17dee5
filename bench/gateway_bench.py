#!/usr/bin/env python3
"""wexo-gateway under load: UNITS simulated units (model 17: 4 inputs, 4
outputs, 4 counters) on loopback addresses, digital I/O polled every 100 ms,
a mosquitto on a loopback port. Run by bench/gateway_bench.sh inside a
network namespace of its own.

Measures: change-to-publish latency (an input set at the simulator to its
message at a subscriber), command-to-result latency (a write published to
its answer, after the unit was written and read back: the output itself is
set before that), the gateway's CPU, messages and tags per second.

    gateway_bench.py GATEWAY SIM [UNITS] [SECONDS]
"""
import os
import random
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

GATEWAY, SIM = sys.argv[1:3]
UNITS = int(sys.argv[3]) if len(sys.argv) > 3 else 255
SECONDS = int(sys.argv[4]) if len(sys.argv) > 4 else 20
PORT = 18831
WORK = tempfile.mkdtemp(prefix="wexo-gw-bench-")
BASE = "wexo/bench/gw"
procs = []


def spawn(args, **kw):
    p = subprocess.Popen(args, **kw)
    procs.append(p)
    return p


def ip(i):
    return f"127.0.1.{i + 1}"


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Lines(threading.Thread):
    """mosquitto_sub -F '%U %t %p': each message with its arrival time."""

    def __init__(self, topic):
        super().__init__(daemon=True)
        self.proc = spawn(["mosquitto_sub", "-p", str(PORT), "-t", topic, "-F", "%U %t %p"],
                          stdout=subprocess.PIPE, text=True)
        self.messages = []
        self.start()

    def run(self):
        for line in self.proc.stdout:
            stamp, topic, payload = line.rstrip("\n").split(" ", 2)
            self.messages.append((float(stamp), topic, payload))


def main():
    with open(os.path.join(WORK, "mosquitto.conf"), "w") as f:
        f.write(f"listener {PORT} 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest none\n"
                "max_queued_messages 100000\n")
    spawn(["mosquitto", "-c", os.path.join(WORK, "mosquitto.conf")])
    for _ in range(100):
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", PORT)) == 0:
                break
        time.sleep(0.05)
    units = sum((["--unit", f"ip={ip(i)},model=17,port=10003"] for i in range(UNITS)), [])
    sim = spawn([SIM, *units, "--control", "0"], stdout=subprocess.PIPE, text=True)
    for line in sim.stdout:
        if line.startswith("control "):
            control_port = int(line.split()[1])
        if line.strip() == "ready":
            break
    control = socket.create_connection(("127.0.0.1", control_port))
    replies = control.makefile("r")

    def cmd(line):
        control.sendall((line + "\n").encode())
        return replies.readline()

    config = ['[gateway]\nsite = "bench"\nname = "gw"\npoll_ms = 100\nanalog_poll_ms = 1000\n'
              'counter_poll_ms = 1000\nwrite_interval_ms = 0\ntimeout_ms = 200\n[mqtt]\nurl = "mqtt://127.0.0.1:%d"\nqos = 0\n' % PORT]
    for i in range(UNITS):
        config.append(f'[[unit]]\nname = "u{i}"\nhost = "{ip(i)}"\nport = 10003\nmodel = 17\nwritable = ["do/0"]\n')
    with open(os.path.join(WORK, "gateway.toml"), "w") as f:
        f.write("".join(config))
    status = Lines(f"{BASE}/+/status")
    started = time.time()
    gw = spawn([GATEWAY, "--config", os.path.join(WORK, "gateway.toml"), "--log-level", "warning"])
    while len({t for _, t, p in status.messages if '"online":true' in p}) < UNITS:
        if time.time() - started > 120 + UNITS * 0.5:
            sys.exit("bench: the units did not all come online")
        time.sleep(0.5)
    print(f"units online: {UNITS} after {time.time() - started:.1f} s (connects run one at a time)")

    values = Lines(f"{BASE}/+/di/+")
    results = Lines(f"{BASE}/+/do/0/result")
    writer = spawn(["mosquitto_pub", "-p", str(PORT), "-t", f"{BASE}/u0/do/0/set", "-l"],
                   stdin=subprocess.PIPE, text=True)
    time.sleep(1)
    count_from = len(values.messages)
    cpu0, t0 = cpu_seconds(gw.pid), time.time()
    changes, commands = [], []
    state = {}
    next_change = time.time()
    rng = random.Random(1)
    while time.time() - t0 < SECONDS:
        unit, ch = rng.randrange(UNITS), rng.randrange(4)
        v = 1 - state.get((unit, ch), 0)
        state[(unit, ch)] = v
        cmd(f"input {unit} {ch} {v}")
        changes.append((time.time(), f"{BASE}/u{unit}/di/{ch}", v))
        if len(changes) % 5 == 0:
            commands.append(time.time())
            writer.stdin.write(f"{len(commands) % 2}\n")
            writer.stdin.flush()
        next_change += 0.05  # 20 changes a second
        time.sleep(max(0.0, next_change - time.time()))
    cpu1, t1 = cpu_seconds(gw.pid), time.time()
    time.sleep(1)

    latencies = []
    for when, topic, v in changes:
        arrivals = [s for s, t, p in values.messages if t == topic and s >= when and f'"value":{v}' in p]
        if arrivals:
            latencies.append((min(arrivals) - when) * 1000)
    answers = sorted(s for s, _, p in results.messages)
    command_ms = [(min(a for a in answers if a >= c) - c) * 1000 for c in commands if any(a >= c for a in answers)]
    messages = len(values.messages) - count_from
    elapsed = t1 - t0
    p99 = sorted(latencies)[int(len(latencies) * 0.99) - 1] if latencies else float("nan")
    print(f"changes: {len(changes)}, published: {len(latencies)}")
    print(f"change-to-publish: median {statistics.median(latencies):.1f} ms, p99 {p99:.1f} ms "
          f"(target: poll period + 10 ms = 110 ms)")
    print(f"command-to-result: median {statistics.median(command_ms):.1f} ms over {len(command_ms)} writes "
          f"(target for command-to-output: median under 20 ms)")
    cpu = (cpu1 - cpu0) / elapsed
    tags = UNITS * 8 * 10  # 4 inputs and 4 outputs, 10 reads a second
    print(f"gateway CPU: {cpu * 100:.0f} % of one core; tags polled: {tags}/s "
          f"({tags / max(cpu, 1e-9):.0f} tags/s per core); messages published (by exception): "
          f"{messages / elapsed:.0f}/s")


try:
    main()
finally:
    for p in reversed(procs):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()

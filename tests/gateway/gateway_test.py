#!/usr/bin/env python3
"""End-to-end scenarios of wexo-gateway against a real mosquitto and simulated
units. Each scenario runs inside a network namespace of its own
(tests/support/netns-run.sh): a broker with its own configuration on a
loopback port, wexo-sim's units on 10.200.0.x, the gateway in between. The
topology scenario adds a second segment in a namespace of its own (segment()).

    gateway_test.py GATEWAY SIM SCENARIO
"""
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

GATEWAY, SIM, SCENARIO = sys.argv[1:4]
WORK = tempfile.mkdtemp(prefix="wexo-gw-")
PORT = 18830
BASE = "wexo/plant/gw1"
failures = []
procs = []  # every process started, ended at the end


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def write(name, text):
    path = os.path.join(WORK, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def broker(port=PORT, extra="", host="127.0.0.1"):
    # As root mosquitto would drop to its own user, who cannot read the test's files.
    conf = write(f"mosquitto-{port}.conf", f"listener {port} {host}\nallow_anonymous true\n"
                 f"persistence false\nuser root\nlog_dest none\n{extra}")
    p = spawn(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: port_open(port), "broker up")
    return p


def spawn(args, **kwargs):
    p = subprocess.Popen(args, **kwargs)
    procs.append(p)
    return p


def port_open(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def wait_for(predicate, what, timeout=10.0):
    end = time.time() + timeout
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.05)
    check(False, "timed out waiting for " + what)
    return False


class Sim:
    """wexo-sim driven through its standard input, which also works from
    another namespace (ns: the command prefix that enters it) and ends the
    simulator with the test."""

    def __init__(self, *units, ns=()):
        args = [*ns, SIM]
        for u in units:
            args += ["--unit", u]
        self.proc = spawn(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        for line in self.proc.stdout:
            if line.strip() == "ready":
                break

    def cmd(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().strip()

    def frames(self, unit, endpoint="data"):
        n = int(self.cmd(f"log {unit} {endpoint}").split()[1])
        return [self.proc.stdout.readline()[6:].replace(" ", "").strip() for _ in range(n)]

    def writes(self, unit):
        """Output writes the unit received: DK, DO and AO frames."""
        return [f for f in self.frames(unit) if f[:4] in ("444B", "444F", "414F")]

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


class Subscriber:
    """mosquitto_sub printing "topic payload" lines into a file."""

    def __init__(self, topic, port=PORT, extra=()):
        self.path = os.path.join(WORK, f"sub-{time.time_ns()}.log")
        self.out = open(self.path, "w")
        self.proc = spawn(["mosquitto_sub", "-p", str(port), "-t", topic, "-v", *extra],
                                     stdout=self.out, stderr=subprocess.DEVNULL)

    def lines(self):
        with open(self.path) as f:
            return [tuple(l.rstrip("\n").split(" ", 1)) for l in f if " " in l]

    def payloads(self, topic):
        return [p for t, p in self.lines() if t == topic]

    def wait(self, topic, predicate=lambda p: True, what=None, timeout=10.0):
        return wait_for(lambda: any(predicate(p) for p in self.payloads(topic)), what or topic, timeout)

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        self.out.close()


def publish(topic, payload, *extra):
    subprocess.run(["mosquitto_pub", "-p", str(PORT), "-t", topic, "-m", payload, *extra], check=True)


def value(payload):
    try:
        return json.loads(payload).get("value")
    except (ValueError, AttributeError):
        return None


def start_gateway(config, *extra, ns=()):
    log = open(os.path.join(WORK, "gateway.log"), "a")
    return spawn([*ns, GATEWAY, "--config", config, *extra], stderr=log)


def stop_gateway(proc):
    proc.send_signal(signal.SIGTERM)
    return proc.wait(timeout=10)


CONFIG = """[gateway]
site = "plant"
name = "gw1"
poll_ms = 100
analog_poll_ms = 200
retry_min_ms = 100
retry_max_ms = 500
timeout_ms = 100

[mqtt]
url = "mqtt://127.0.0.1:{port}"
reconnect_min_s = 1
reconnect_max_s = 1
{mqtt_extra}
[queue]
path = "{work}"

[[unit]]
name = "press"
host = "10.200.0.2"
model = 17
writable = ["do/0"]

[[unit]]
name = "valve"
host = "10.200.0.3"
port = 10003
writable = ["ao/0"]
"""


def config(mqtt_extra=""):
    return write("gateway.toml", CONFIG.format(port=PORT, work=WORK, mqtt_extra=mqtt_extra))


def units_sim():
    return Sim("ip=10.200.0.2,model=17,id=3,in=5,module=on", "ip=10.200.0.3,model=43,id=1")


def scenario_units():
    """Values and status appear; an input change reaches its topic; writes reach
    the unit and answer; refused writes reach nothing; a unit that goes away is
    offline, then online again; a bad configuration names its line."""
    bad = write("bad.toml", '[gateway]\nsite = "plant"\nname = "gw1"\npoll_ms = "fast"\n')
    r = subprocess.run([GATEWAY, "--config", bad], capture_output=True, text=True)
    check(r.returncode == 1 and "bad.toml:4: gateway.poll_ms must be an integer" in r.stderr, "bad config: " + r.stderr.strip())
    r = subprocess.run([GATEWAY, "--config", config(), "--check"], capture_output=True, text=True)
    check(r.returncode == 0 and f"writable: {BASE}/press/do/0/set" in r.stdout, "--check prints the plan")

    mq = broker()
    sim = units_sim()
    sub = Subscriber("wexo/#")
    config_path = config()
    gw = start_gateway(config_path)
    sub.wait(f"{BASE}/status", lambda p: p == "online")
    sub.wait(f"{BASE}/press/status", lambda p: json.loads(p)["online"] and json.loads(p)["model"] == 17)
    sub.wait(f"{BASE}/press/di/2", lambda p: value(p) == 1, "di/2 = 1 from the unit's inputs 0x05")
    # A unit configured by host and model: its board is never asked who it is.
    asked = [f for f in sim.frames(0) if f.startswith("5555") or f.upper().startswith("4D49")]
    check(not asked, f"model given: no identification request ({asked})")
    sub.wait(f"{BASE}/valve/ao/2", lambda p: json.loads(p).get("unit") == "V", "analog output with its unit")

    check(sim.cmd("input 0 1 1").startswith("ok"), "sim input change")
    sub.wait(f"{BASE}/press/di/1", lambda p: value(p) == 1, "input change published")

    publish(f"{BASE}/press/do/0/set", "true")
    sub.wait(f"{BASE}/press/do/0/result", lambda p: json.loads(p) == {**json.loads(p), "ok": True, "value": 1},
             "write result with the read-back value")
    check("outputs=0x1 " in sim.cmd("state 0"), "the write reached the unit")
    # MQTT v5 request/response: the answer goes to the response topic with the correlation data.
    rr = subprocess.run(["mosquitto_rr", "-p", str(PORT), "-t", f"{BASE}/valve/ao/0/set", "-e", "reply/valve",
                         "-m", '{"value":2.5,"unit":"V"}', "-W", "5"], capture_output=True, text=True)
    check('"ok":true' in rr.stdout and '"unit":"V"' in rr.stdout, "v5 response: " + rr.stdout.strip())
    check(sim.cmd("ao 1 0") == "ok 8192 0", "analog write reached the unit")

    writes_before = sim.writes(0)
    publish(f"{BASE}/press/do/1/set", "1")
    publish(f"{BASE}/press/do/0/set", "2")
    sub.wait(f"{BASE}/press/do/1/result", lambda p: "not writable" in p, "non-writable refused")
    sub.wait(f"{BASE}/press/do/0/result", lambda p: "takes 0 or 1" in p, "out of range refused")
    time.sleep(0.3)
    check(sim.writes(0) == writes_before and len(writes_before) == 1, f"nothing else written: {writes_before}")

    # The unit goes away for 3 s: offline, then online again without help.
    status = f"{BASE}/press/status"
    seen = len(sub.payloads(status))
    sim.cmd("restart 0 3000")
    wait_for(lambda: any(not json.loads(p)["online"] for p in sub.payloads(status)[seen:]), "unit offline")
    publish(f"{BASE}/press/do/0/set", "0")
    sub.wait(f"{BASE}/press/do/0/result", lambda p: '"code":5' in p, "write to an offline unit fails at once")
    seen = len(sub.payloads(status))
    wait_for(lambda: any(json.loads(p)["online"] for p in sub.payloads(status)[seen:]), "unit online again", 15)
    check(json.loads(sub.payloads(f"{BASE}/valve/status")[-1])["online"], "the other unit stayed online")

    # A unit that falls silent does not hold up the other, and is back once it answers.
    vstatus = f"{BASE}/valve/status"
    seen = len(sub.payloads(vstatus))
    sim.cmd("fault 1 data silence count=forever")
    wait_for(lambda: any(not json.loads(p)["online"] for p in sub.payloads(vstatus)[seen:]), "silent unit offline")
    flips = len(sub.payloads(f"{BASE}/press/di/3"))
    sim.cmd("input 0 3 1")
    sub.wait(f"{BASE}/press/di/3", lambda p: value(p) == 1 and len(sub.payloads(f"{BASE}/press/di/3")) > flips,
             "the other unit is polled meanwhile", timeout=5)
    sim.cmd("clear-faults 1")
    seen = len(sub.payloads(vstatus))
    wait_for(lambda: any(json.loads(p)["online"] for p in sub.payloads(vstatus)[seen:]), "silent unit back", 15)

    # A reload with a faulty file keeps the running configuration, without a break.
    good = open(config_path).read()
    write("gateway.toml", good + "bogus = 1\n")
    seen = len(sub.payloads(f"{BASE}/status"))
    gw.send_signal(signal.SIGHUP)
    time.sleep(0.5)
    check(gw.poll() is None and sub.payloads(f"{BASE}/status")[seen:] == [], "faulty reload refused, gateway runs on")
    write("gateway.toml", good)

    check(stop_gateway(gw) == 0, "SIGTERM ends with 0")
    sub.wait(f"{BASE}/status", lambda p: p == "offline")
    sub.stop()
    sim.stop()
    mq.terminate()
    mq.wait()


def scenario_outage():
    """The broker is killed; changes are kept on disk, survive a restart of the
    gateway, and are published in order once the broker is back."""
    mq = broker()
    sim = units_sim()
    gw = start_gateway(config())
    sub = Subscriber("wexo/#")
    sub.wait(f"{BASE}/press/di/1", lambda p: value(p) == 0)
    sub.stop()
    mq.kill()
    mq.wait()
    time.sleep(0.3)
    sequence = [1, 0, 1, 0, 1]

    def change_input(v):
        # Each change is read before the next, however loaded the machine:
        # a whole poll round (inputs and outputs) after the change.
        sim.cmd(f"input 0 1 {v}")
        seen = len(sim.frames(0))
        wait_for(lambda: len(sim.frames(0)) >= seen + 3, f"input 1 = {v} polled")

    for v in sequence[:3]:
        change_input(v)
    # The gateway restarts while the broker is away: the queue is on disk.
    check(stop_gateway(gw) == 0, "gateway ends while the broker is away")
    polled = len(sim.frames(0))
    gw = start_gateway(config())
    wait_for(lambda: len(sim.frames(0)) > polled + 4, "the new gateway polls the unit")
    for v in sequence[3:]:
        change_input(v)
    mq = broker()
    sub = Subscriber(f"{BASE}/press/di/1")
    # The new gateway reports the input's state once more when it first reads it.
    expected = sequence[:3] + [sequence[2]] + sequence[3:]
    wait_for(lambda: len(sub.payloads(f"{BASE}/press/di/1")) >= len(expected) + 1, "backlog replayed")
    time.sleep(0.5)
    got = [json.loads(p) for p in sub.payloads(f"{BASE}/press/di/1")]
    # Live (retained) state first, then the backlog in order with its own times.
    backlog = got[1:]
    check([g["value"] for g in backlog] == expected, f"backlog in order: {[g['value'] for g in backlog]}")
    check([g["ts"] for g in backlog] == sorted(g["ts"] for g in backlog), "backlog times ascending")
    check(got[0]["value"] == sequence[-1], "the retained value is the live one")
    check(stop_gateway(gw) == 0, "SIGTERM ends with 0")
    sub.stop()
    sim.stop()
    mq.terminate()
    mq.wait()


PROTO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../gateway/sparkplug/sparkplug_b.proto")
PAYLOAD = "org.eclipse.tahu.protobuf.Payload"


def decode(hex_payload):
    """A Sparkplug payload as protoc's text form."""
    r = subprocess.run(["protoc", f"--proto_path={os.path.dirname(PROTO)}", f"--decode={PAYLOAD}",
                        os.path.basename(PROTO)], input=bytes.fromhex(hex_payload), capture_output=True)
    return r.stdout.decode()


def encode(text):
    return subprocess.run(["protoc", f"--proto_path={os.path.dirname(PROTO)}", f"--encode={PAYLOAD}",
                           os.path.basename(PROTO)], input=text.encode(), capture_output=True, check=True).stdout


def bdseq(text):
    m = re.search(r'name: "bdSeq".*?long_value: (\d+)', text, re.S)
    return int(m.group(1)) if m else 0  # proto2 leaves out a default 0? long_value 0 still shows


def scenario_sparkplug():
    """Births in order with seq and bdSeq, DDATA by exception, DCMD writes,
    NCMD rebirth without a reconnect, DDEATH/DBIRTH for a unit that goes away,
    a new bdSeq after the broker comes back, NDEATH on a clean end."""
    mq = broker()
    sim = units_sim()
    group = "spBv1.0/plant"
    sub = Subscriber("spBv1.0/#", extra=("-F", "%t %x"))
    gw = start_gateway(config("sparkplug = true"))
    types = lambda: [t.split("/")[2] + ("/" + t.split("/")[4] if len(t.split("/")) > 4 else "") for t, _ in sub.lines()]
    wait_for(lambda: "DBIRTH/press" in types() and "DBIRTH/valve" in types(), "births")
    t = types()
    check(t[0] == "NBIRTH" and t.index("DBIRTH/press") > 0, f"NBIRTH first: {t[:4]}")
    nbirth = decode(sub.payloads(f"{group}/NBIRTH/gw1")[0])
    check("seq: 0" in nbirth and 'name: "Node Control/Rebirth"' in nbirth and bdseq(nbirth) == 0, "NBIRTH seq 0, bdSeq 0")
    dbirth = decode(sub.payloads(f"{group}/DBIRTH/gw1/press")[0])
    check('name: "di/0"' in dbirth and "boolean_value: true" in dbirth, "DBIRTH has names and values")

    sim.cmd("input 0 1 1")
    wait_for(lambda: any("boolean_value: true" in decode(p) for p in sub.payloads(f"{group}/DDATA/gw1/press")),
             "DDATA of the input change")
    dcmd = encode('metrics { name: "do/0" datatype: 11 boolean_value: true }')
    subprocess.run(
        ["mosquitto_pub", "-p", str(PORT), "-t", f"{group}/DCMD/gw1/press", "-s"], input=dcmd, check=True)
    wait_for(lambda: "outputs=0x1 " in sim.cmd("state 0"), "DCMD reached the unit")

    births = len(sub.payloads(f"{group}/NBIRTH/gw1"))
    ncmd = encode('metrics { name: "Node Control/Rebirth" datatype: 11 boolean_value: true }')
    subprocess.run(["mosquitto_pub", "-p", str(PORT), "-t", f"{group}/NCMD/gw1", "-s"], input=ncmd, check=True)
    wait_for(lambda: len(sub.payloads(f"{group}/NBIRTH/gw1")) > births, "rebirth")
    check(bdseq(decode(sub.payloads(f"{group}/NBIRTH/gw1")[-1])) == 0, "rebirth keeps bdSeq")

    sim.cmd("restart 0 2000")
    wait_for(lambda: "DDEATH/press" in types(), "DDEATH of a unit that went away")
    n = len(sub.payloads(f"{group}/DBIRTH/gw1/press"))
    wait_for(lambda: len(sub.payloads(f"{group}/DBIRTH/gw1/press")) > n, "DBIRTH when it is back", 15)

    sub.stop()
    mq.kill()
    mq.wait()
    for v in (1, 0):  # kept while the broker is away
        sim.cmd(f"input 1 1 {v}")
        time.sleep(0.3)
    mq = broker()
    sub = Subscriber("spBv1.0/#", extra=("-F", "%t %x"))
    wait_for(lambda: sub.payloads(f"{group}/NBIRTH/gw1"), "NBIRTH after the broker came back")
    wait_for(lambda: sum("is_historical: true" in decode(p) for p in sub.payloads(f"{group}/DDATA/gw1/valve")) >= 2,
             "the backlog as historical metrics after the rebirth")
    t = types()
    check(t.index("NBIRTH") < t.index("DDATA/valve"), "historical data after the rebirth")
    check(bdseq(decode(sub.payloads(f"{group}/NBIRTH/gw1")[0])) >= 1, "a new session has a new bdSeq")
    check(stop_gateway(gw) == 0, "SIGTERM ends with 0")
    wait_for(lambda: sub.payloads(f"{group}/NDEATH/gw1"), "NDEATH before a clean end")
    sub.stop()
    sim.stop()
    mq.terminate()
    mq.wait()


def certificates():
    """A CA, the central broker's certificate and two client certificates."""
    def run(*args):
        subprocess.run(["openssl", *args], cwd=WORK, check=True, capture_output=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.crt", "-subj", "/CN=test-ca", "-days", "1")
    write("san.ext", "subjectAltName=IP:127.0.0.1,IP:10.201.0.1\n")
    for name in ("server", "gw2", "bridge", "operator"):
        run("req", *ec, "-keyout", f"{name}.key", "-out", f"{name}.csr", "-subj", f"/CN={name}")
        run("x509", "-req", "-in", f"{name}.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", f"{name}.crt", "-days", "1", *(["-extfile", "san.ext"] if name == "server" else []))
    return lambda name: [os.path.join(WORK, f) for f in ("ca.crt", f"{name}.crt", f"{name}.key")]


def segment():
    """A second segment: a namespace of its own, reached over a veth link
    (10.201.0.1 here, 10.201.0.2 there) and routed both ways, with its own
    broadcast domain: its units' addresses 10.202.0.x on a veth pair of its own
    that carries its default route, so that its broadcasts stay inside. The
    namespace lives as long as its holder and the processes started in it: the
    holder ends with its standard input, that is with the test, killed or not.
    Returns the command prefix that runs a program inside."""
    holder = spawn(["unshare", "-n", "cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    netns = lambda pid: os.readlink(f"/proc/{pid}/ns/net")
    wait_for(lambda: netns(holder.pid) != netns("self"), "the segment's namespace")
    ns = ["nsenter", "-t", str(holder.pid), "-n"]
    ip = lambda prefix, script: subprocess.run([*prefix, "ip", "-batch", "-"], input=script, text=True, check=True)
    ip((), f"link add wxg type veth peer name wxs\nlink set wxs netns {holder.pid}\n")
    ip(ns, "link set lo up\naddr add 10.201.0.2/24 dev wxs\nlink set wxs up\n"
           "link add s2h type veth peer name s2u\naddr add 10.202.0.1/24 dev s2h\n"
           "addr add 10.202.0.3/24 dev s2h\naddr add 10.202.0.4/24 dev s2h\nlink set s2h up\nlink set s2u up\n"
           "route add default dev s2h\nroute add 10.200.0.0/24 via 10.201.0.1\n")
    ip((), "addr add 10.201.0.1/24 dev wxg\nlink set wxg up\nroute add 10.202.0.0/24 via 10.201.0.2\n")
    return ns


def scenario_topology():
    """Two gateways on two segments share a central broker that takes only TLS
    with a client certificate: gw2, in the second segment, connects to it
    directly, gw1 through a site broker bridged to it; a write from the
    central broker reaches gw1's unit. Both search: each finds only its own
    segment's units, gw2 its units by MAC, and a rescan adds a unit that
    appears later."""
    files = certificates()
    central_port = 18883
    ca, server_crt, server_key = files("server")
    central = broker(central_port, f"cafile {ca}\ncertfile {server_crt}\nkeyfile {server_key}\n"
                                   "require_certificate true\nuse_identity_as_username true\n", "0.0.0.0")
    _, bridge_crt, bridge_key = files("bridge")
    site = broker(PORT, f"connection central\naddress 127.0.0.1:{central_port}\ntopic wexo/# both 1\n"
                        f"bridge_cafile {ca}\nbridge_certfile {bridge_crt}\nbridge_keyfile {bridge_key}\n")
    seg2 = segment()
    sim = Sim("ip=10.200.0.2,model=17,id=3,module=on")
    sim2 = Sim("ip=10.202.0.3,model=43,id=1,module=on", "ip=10.202.0.4,model=4,module=on,ignore-discovery=on",
               ns=seg2)
    gw1_config = write("gw1.toml", '[gateway]\nsite = "plant"\nname = "gw1"\nretry_min_ms = 100\n'
                       'search = true\nsearch_window_ms = 200\n'
                       f'[mqtt]\nurl = "mqtt://127.0.0.1:{PORT}"\n'
                       '[[unit]]\nname = "press"\nhost = "10.200.0.2"\nport = 10003\nwritable = ["do/0"]\n')
    _, gw2_crt, gw2_key = files("gw2")
    gw2_config = write("gw2.toml", '[gateway]\nsite = "plant"\nname = "gw2"\nretry_min_ms = 100\n'
                       'rescan_s = 1\nsearch_window_ms = 200\n'
                       f'[mqtt]\nurl = "mqtts://10.201.0.1:{central_port}"\nca_file = "{ca}"\n'
                       f'cert_file = "{gw2_crt}"\nkey_file = "{gw2_key}"\n'
                       '[[unit]]\nname = "valve"\nmac = "02:57:58:00:00:03"\n')
    _, op_crt, op_key = files("operator")
    tls = ("-h", "127.0.0.1", "--cafile", ca, "--cert", op_crt, "--key", op_key)
    sub = Subscriber("wexo/#", central_port, tls)
    anonymous = Subscriber("wexo/#", central_port, ("-h", "127.0.0.1", "--cafile", ca))
    gws = [start_gateway(gw1_config), start_gateway(gw2_config, ns=seg2)]
    sub.wait("wexo/plant/gw2/valve/status", lambda p: json.loads(p)["online"], "gw2 over TLS with its certificate")
    sub.wait("wexo/plant/gw1/press/di/0", what="gw1's values through the bridge")
    subprocess.run(["mosquitto_pub", "-p", str(central_port), *tls, "-t", "wexo/plant/gw1/press/do/0/set", "-m", "1",
                    "-q", "1"], check=True)
    sub.wait("wexo/plant/gw1/press/do/0/result", lambda p: '"ok":true' in p, "a write from the central broker")
    check("outputs=0x1 " in sim.cmd("state 0"), "the write reached gw1's unit")
    check(anonymous.lines() == [], "no certificate, no data")
    sim2.cmd("discovery 1 on")
    sub.wait("wexo/plant/gw2/unit-025758000004/status", lambda p: json.loads(p)["online"], "a rescan adds a new unit")
    check(json.loads(sub.payloads("wexo/plant/gw2/valve/status")[-1])["online"], "the searches keep the others online")
    # Both gateways searched (gw2 at least twice), and the segments are routed
    # to each other: a unit that heard the other segment's search would have
    # answered and been added as unit-<mac>.
    units = {gw: {t.split("/")[3] for t, _ in sub.lines() if t.startswith(f"wexo/plant/{gw}/") and t.count("/") > 3}
             for gw in ("gw1", "gw2")}
    check(sim.frames(0, "udp") != [] and units == {"gw1": {"press"}, "gw2": {"valve", "unit-025758000004"}},
          f"each search finds its own segment's units only: {units}")
    for gw in gws:
        check(stop_gateway(gw) == 0, "SIGTERM ends with 0")
    for p in (sub, anonymous):
        p.stop()
    for s in (sim, sim2):
        s.stop()
    for b in (site, central):
        b.terminate()
        b.wait()


try:
    {"units": scenario_units, "topology": scenario_topology, "outage": scenario_outage, "sparkplug": scenario_sparkplug}[SCENARIO]()
finally:
    for p in procs:
        if p.poll() is None:
            p.kill()
            p.wait()
    if failures:
        print(open(os.path.join(WORK, "gateway.log")).read() if os.path.exists(os.path.join(WORK, "gateway.log")) else "")
print("gateway test: " + ("FAILED: " + "; ".join(failures) if failures else "ok"))
sys.exit(1 if failures else 0)

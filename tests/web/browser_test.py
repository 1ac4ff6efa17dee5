"""The plant view in headless Chromium, against a gateway, a broker and two
simulated units, inside the test's network namespace:

- the page lists the units, online;
- a simulated input change appears on the page;
- switching a writable output from the page changes the simulated unit;
- a non-writable output has no control, and a forged write is refused;
- a screenshot is kept (argument 1: where).

Environment: WEXO_SIM, WEXO_GATEWAY (the programs), WEXO_WEB_ROOT (the page).
"""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(__file__))
import webdriver  # noqa: E402

PRESS, METER = "10.200.0.2", "10.200.0.3"


def wait_port(port, what, timeout=10):
    deadline = time.monotonic() + timeout
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return
        except OSError:
            if time.monotonic() > deadline:
                raise AssertionError(f"{what} did not listen on {port}")
            time.sleep(0.05)


def start_simulator(processes):
    sim = subprocess.Popen(
        [os.environ["WEXO_SIM"],
         "--unit", f"ip={PRESS},model=6,id=3,module=on,mac=02:57:58:00:00:02",
         "--unit", f"ip={METER},model=40,id=4,module=on,mac=02:57:58:00:00:03",
         "--control", "0"],
        stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    processes.append(sim)
    control = None
    for line in sim.stdout:
        if line.startswith("control "):
            control = int(line.split()[1])
        if line.strip() == "ready":
            break
    assert control, "the simulator printed no control port"
    conn = socket.create_connection(("127.0.0.1", control))
    reader = conn.makefile("r")

    def command(text):
        conn.sendall((text + "\n").encode())
        answer = reader.readline().strip()
        assert answer.startswith("ok"), f"{text}: {answer}"
        return answer
    return command


def outputs(state):
    """The output bits from a simulator "state" answer."""
    for field in state.split():
        if field.startswith("outputs="):
            return int(field[len("outputs="):], 0)
    raise AssertionError(f"no outputs in {state}")


def main(screenshot):
    processes = []
    work = tempfile.mkdtemp(prefix="wexo-web-")
    browser = None
    try:
        broker_port = webdriver.free_port()
        with open(os.path.join(work, "mosquitto.conf"), "w") as f:
            f.write(f"listener {broker_port} 127.0.0.1\nallow_anonymous true\npersistence false\n")
        processes.append(subprocess.Popen(["mosquitto", "-c", os.path.join(work, "mosquitto.conf")],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_port(broker_port, "mosquitto")
        sim = start_simulator(processes)
        for ch, wave in ((0, "sine 2000000 20000"), (1, "ramp 1000000 10000")):
            sim(f"ai-wave 1 {ch} {wave}")

        http_port = webdriver.free_port()
        config = os.path.join(work, "gateway.toml")
        with open(config, "w") as f:
            f.write(f"""[gateway]
site = "plant"
name = "gw1"
poll_ms = 100
analog_poll_ms = 200

[mqtt]
url = "mqtt://127.0.0.1:{broker_port}"

[[unit]]
name = "press"
host = "{PRESS}"
model = 6
writable = ["do/0"]

[[unit]]
name = "meter"
host = "{METER}"
model = 40
""")
        processes.append(subprocess.Popen(
            [os.environ["WEXO_GATEWAY"], "--config", config, "--http", f"127.0.0.1:{http_port}",
             "--http-root", os.environ["WEXO_WEB_ROOT"]], stdin=subprocess.DEVNULL))
        wait_port(http_port, "the gateway's page")
        page = f"http://127.0.0.1:{http_port}/"

        browser = webdriver.Browser()
        browser.open(page)
        row_state = 'return Array.from(document.querySelectorAll("#units tbody tr"))' \
                    '.map(r => r.dataset.unit + ":" + r.className)'
        browser.wait_for(lambda: sorted(browser.script(row_state)) == ["meter:online", "press:online"],
                         15, "both units listed online")

        lamp = 'const l = document.querySelector(`[data-key="press/di/1"]`); return l && l.classList.contains("on")'
        assert not browser.script(lamp), "input 1 starts off"
        sim("input 0 1 1")
        changed = time.monotonic()
        browser.wait_for(lambda: browser.script(lamp), 5, "input 1 lit on the page")
        print(f"browser: input change shown after {1000 * (time.monotonic() - changed):.0f} ms")

        assert browser.find_all('[data-write="press/do/1"]') == [], "a read-only output has no control"
        button = browser.wait_for(lambda: browser.find_all('[data-write="press/do/0"]'), 5, "the do/0 control")[0]
        browser.click(button)
        assert "press do 0" in browser.accept_dialog()
        browser.wait_for(lambda: outputs(sim("state 0")) == 0x1, 5, "output 0 set on the unit")
        result = 'const r = document.querySelector(`[data-key="press/do/0"] .result`); return r ? r.textContent : ""'
        browser.wait_for(lambda: browser.script(result).startswith("done"), 5, "the write's result on the page")

        forged = urllib.request.Request(page + "api/units/press/do/1", data=b'{"value":1}', method="POST",
                                        headers={"Content-Type": "application/json"})
        try:
            urllib.request.urlopen(forged, timeout=10)
            raise AssertionError("a write to a read-only output was accepted")
        except urllib.error.HTTPError as e:
            assert e.code == 422, e.code
            assert json.loads(e.read())["ok"] is False
        assert outputs(sim("state 0")) == 0x1, "the refused write reached the unit"

        os.makedirs(os.path.dirname(screenshot) or ".", exist_ok=True)
        browser.screenshot(screenshot)
        print(f"browser: screenshot in {screenshot}")
        print("browser ok")
    finally:
        if browser:
            browser.close()
        for p in reversed(processes):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()


if __name__ == "__main__":
    main(sys.argv[1])

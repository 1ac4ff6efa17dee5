"""A small W3C WebDriver client over chromedriver, from the standard library
only: enough to open a page in headless Chromium, find elements, click,
answer confirmation dialogs and take a screenshot."""

import base64
import json
import os
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

ELEMENT = "element-6066-11e4-a52e-4f735466cecf"

# As root, in a namespace without a network: no sandbox, and none of the
# background traffic Chromium would otherwise start at every launch.
CHROMIUM_ARGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-dev-shm-usage", "--window-size=1200,1400",
]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Browser:
    def __init__(self, chromium="/usr/bin/chromium", chromedriver="/usr/bin/chromedriver"):
        self.profile = tempfile.mkdtemp(prefix="wexo-chromium-")
        self.port = free_port()
        self.driver = subprocess.Popen(
            [chromedriver, f"--port={self.port}", "--allowed-ips=127.0.0.1"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.base = f"http://127.0.0.1:{self.port}"
        deadline = time.monotonic() + 20
        while True:
            try:
                self._call("GET", "/status")
                break
            except OSError:
                if time.monotonic() > deadline or self.driver.poll() is not None:
                    self.close()
                    raise RuntimeError("chromedriver did not start")
                time.sleep(0.1)
        caps = {"capabilities": {"alwaysMatch": {
            "browserName": "chrome",
            "goog:chromeOptions": {"binary": chromium,
                                   "args": CHROMIUM_ARGS + [f"--user-data-dir={self.profile}"]},
        }}}
        self.session = self._call("POST", "/session", caps)["sessionId"]

    def _call(self, method, path, body=None, timeout=30):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(self.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=timeout) as reply:
                return json.loads(reply.read() or b"{}").get("value")
        except urllib.error.HTTPError as e:
            detail = json.loads(e.read() or b"{}").get("value", {})
            raise WebDriverError(detail.get("error", str(e.code)), detail.get("message", "")) from None

    def _s(self, path, body=None, method=None):
        return self._call(method or ("POST" if body is not None else "GET"),
                          f"/session/{self.session}{path}", body)

    def open(self, url):
        self._s("/url", {"url": url})

    def find_all(self, css):
        return [e[ELEMENT] for e in self._s("/elements", {"using": "css selector", "value": css})]

    def text(self, element):
        return self._s(f"/element/{element}/text")

    def click(self, element):
        self._s(f"/element/{element}/click", {})

    def type(self, element, text):
        self._s(f"/element/{element}/value", {"text": text})

    def script(self, source, *args):
        return self._s("/execute/sync", {"script": source, "args": list(args)})

    def accept_dialog(self, timeout=5):
        """Accepts the confirmation dialog, and returns its text."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                message = self._s("/alert/text")
                self._s("/alert/accept", {})
                return message
            except WebDriverError as e:
                if e.error != "no such alert" or time.monotonic() > deadline:
                    raise
                time.sleep(0.05)

    def wait_for(self, predicate, timeout, what):
        """Polls predicate() until it returns a true value; fails after timeout seconds."""
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError(f"timed out after {timeout} s waiting for {what}")
            time.sleep(0.05)

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self._s("/screenshot")))

    def close(self):
        try:
            if getattr(self, "session", None):
                self._s("", method="DELETE")
        except (OSError, WebDriverError):
            pass
        self.driver.terminate()
        try:
            self.driver.wait(10)
        except subprocess.TimeoutExpired:
            self.driver.kill()
        shutil.rmtree(self.profile, ignore_errors=True)


class WebDriverError(Exception):
    def __init__(self, error, message):
        super().__init__(f"{error}: {message}")
        self.error = error

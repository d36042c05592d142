"""Each example prints its receipt on the real daemon with a simulated printer.

The C++ example runs when it is built: $VEKTA_RECEIPT_CPP, else $VEKTA_BUILD_DIR/examples/receipt.
The web POS runs under Node with the Origin header a browser sends, and in Chromium when
playwright-core is in $VEKTA_BUILD_DIR/web-tests (the browser tests put it there)."""

import http.client
import http.server
import json
import os
import shutil
import subprocess
import sys
import threading

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "client", "python"))
os.environ.setdefault("VEKTA_BUILD_DIR", os.path.join(HERE, "..", "build"))
os.environ.pop("VEKTA_TOKEN", None)

from vektamanager.testing import LocalDaemon, free_port  # noqa: E402

BUILD = os.environ["VEKTA_BUILD_DIR"]
RECEIPT = ["Хліб житній 3700", "Молоко 3250", "СУМА 6950"]


def cpp_example():
    path = os.environ.get("VEKTA_RECEIPT_CPP") or os.path.join(BUILD, "examples", "receipt")
    return path if os.access(path, os.X_OK) else None


EXAMPLES = {
    "curl": lambda server, com: ["bash", os.path.join(HERE, "receipt.sh"), str(com)],
    "python": lambda server, com: [sys.executable, os.path.join(HERE, "receipt.py"),
                                   "--port", str(com)],
    "cpp": lambda server, com: [cpp_example(), server, str(com)],
}


def objects_left(daemon):
    conn = http.client.HTTPConnection("127.0.0.1", daemon.port, timeout=10)
    conn.request("GET", "/metrics")
    metrics = conn.getresponse().read().decode()
    conn.close()
    return next(int(line.split()[1]) for line in metrics.splitlines()
                if line.startswith("vekta_objects "))


@pytest.mark.parametrize("example", sorted(EXAMPLES))
def test_each_example_prints_a_receipt_and_releases_its_object(example):
    if example == "curl" and not shutil.which("curl"):
        pytest.skip("no curl")
    if example == "cpp" and cpp_example() is None:
        pytest.skip("the C++ example is not built")
    with LocalDaemon(simulate=[1]) as daemon:
        env = dict(os.environ, VEKTA_SERVER=daemon.server)
        run = subprocess.run(EXAMPLES[example](daemon.server, 1), env=env, capture_output=True,
                             text=True, timeout=120)
        assert run.returncode == 0, run.stderr
        lines = run.stdout.splitlines()
        assert lines[:3] == RECEIPT
        number, total = lines[3].split()[1].split(";")[:2]
        assert lines[3].startswith("чек ") and (number, total) == ("1", "6950")
        tape = daemon.tape(1)
        assert tape.count("ФІСКАЛЬНИЙ ЧЕК") == 1 and tape.count("Молоко") == 1
        assert objects_left(daemon) == 0

        # no printer on COM5: the failure is told, nothing printed, nothing left behind
        run = subprocess.run(EXAMPLES[example](daemon.server, 5), env=env, capture_output=True,
                             text=True, timeout=120)
        assert run.returncode == 1 and "Init" in run.stderr
        assert daemon.tape(1) == tape and objects_left(daemon) == 0


NODE_POS = r"""
const { VektaServer, printReceipt } = require(process.argv[1]);
const [server, origin] = [process.argv[2], process.argv[3]];
// what a browser adds to every request of a page from `origin`
const plain = globalThis.fetch;
globalThis.fetch = (url, init = {}) =>
  plain(url, { ...init, headers: { ...init.headers, Origin: origin } });
printReceipt(new VektaServer(server), 1,
  [{ name: 'Хліб житній', qty: 2, price: 1850, article: 101 },
   { name: 'Молоко', qty: 1, price: 3250, article: 102 }], 10000)
  .then((r) => console.log(JSON.stringify(r)),
        (e) => console.log(JSON.stringify({ error: e.message, status: e.status })));
"""


@pytest.fixture
def pos_origin():
    """The web POS page's own web server (this folder), and the daemon that allows its origin."""
    handler = lambda *a: http.server.SimpleHTTPRequestHandler(*a, directory=HERE)  # noqa: E731
    web = http.server.ThreadingHTTPServer(("127.0.0.1", free_port()), handler)
    web.RequestHandlerClass.log_message = lambda *a: None
    thread = threading.Thread(target=web.serve_forever, kwargs={"poll_interval": 0.1},
                              daemon=True)
    thread.start()
    origin = "http://127.0.0.1:%d" % web.server_address[1]
    try:
        with LocalDaemon(simulate=[1], settings={"Server": {"AllowedOrigins": origin}}) as d:
            yield origin, d
    finally:
        web.shutdown()
        web.server_close()
        thread.join(10)


@pytest.mark.skipif(not shutil.which("node"), reason="no node")
def test_the_web_pos_prints_through_fetch_from_its_allowed_origin(pos_origin):
    origin, daemon = pos_origin

    def node(from_origin):
        run = subprocess.run(["node", "-e", NODE_POS, os.path.join(HERE, "web-pos.js"),
                              daemon.url, from_origin], capture_output=True, text=True,
                             timeout=60)
        assert run.returncode == 0, run.stderr
        return json.loads(run.stdout)

    receipt = node(origin)
    assert receipt["sums"] == [3700, 3250] and receipt["total"] == 6950
    assert receipt["result"].split(";")[:2] == ["1", "6950"]
    # another web page may not print
    refused = node("http://127.0.0.1:%d" % free_port())
    assert refused["status"] == 403 and "Origin" in refused["error"]
    assert daemon.tape(1).count("ФІСКАЛЬНИЙ ЧЕК") == 1
    assert objects_left(daemon) == 0


def test_the_daemon_admits_the_browser_requests_of_the_web_pos(pos_origin):
    origin, daemon = pos_origin
    conn = http.client.HTTPConnection("127.0.0.1", daemon.port, timeout=10)
    # the preflight a browser sends before the page's first JSON POST
    conn.request("OPTIONS", "/api/v1/objects", headers={
        "Origin": origin, "Access-Control-Request-Method": "POST",
        "Access-Control-Request-Headers": "content-type,idempotency-key"})
    preflight = conn.getresponse()
    preflight.read()
    allowed = preflight.getheader("Access-Control-Allow-Origin")
    conn.close()
    assert 200 <= preflight.status < 300
    assert allowed == origin
    assert "POST" in preflight.getheader("Access-Control-Allow-Methods", "")
    asked = preflight.getheader("Access-Control-Allow-Headers", "").lower()
    assert "content-type" in asked and "idempotency-key" in asked


BROWSER_POS = r"""
const { chromium } = require('playwright-core');
(async () => {
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true,
    timeout: 60000, args: ['--no-sandbox', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run'] });
  try {
    const page = await browser.newPage();
    const messages = [];
    page.on('console', (m) => messages.push(m.text()));
    await page.goto(process.argv[1], { timeout: 60000 });
    await page.click('#print');
    await page.waitForSelector('body[data-state=done], body[data-state=failed]',
      { state: 'attached', timeout: 30000 });
    console.log(JSON.stringify({ state: await page.evaluate(() => document.body.dataset.state),
      result: await page.textContent('#result'), messages }));
  } finally {
    await browser.close();
  }
})().catch((e) => { console.error(e); process.exit(2); });
"""


def test_the_web_pos_prints_from_chromium(pos_origin):
    modules = os.path.join(BUILD, "web-tests", "node_modules")
    if not (shutil.which("node") and os.path.isdir(os.path.join(modules, "playwright-core"))
            and os.access("/usr/bin/chromium", os.X_OK)):
        pytest.skip("no playwright-core in %s or no chromium" % modules)
    origin, daemon = pos_origin
    page = "%s/web-pos.html?server=%s&port=1" % (origin, daemon.url)
    run = subprocess.run(["node", "-e", BROWSER_POS, page], capture_output=True, text=True,
                         timeout=150, env=dict(os.environ, NODE_PATH=modules))
    assert run.returncode == 0, run.stderr
    seen = json.loads(run.stdout)
    assert seen["state"] == "done", seen
    assert seen["result"] == "Чек № 1, сума 69.50"
    assert daemon.tape(1).count("Молоко") == 1

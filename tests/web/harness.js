// What the browser tests share: the real daemon on loopback with simulated printers, Debian's
// Chromium driven by playwright-core, an object-protocol client and screenshots.
'use strict';

const { spawn } = require('node:child_process');
const net = require('node:net');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const BUILD = process.env.VEKTA_BUILD_DIR || path.resolve(__dirname, '../../build');
const SHOTS = path.join(BUILD, 'web-screenshots');
const PATIENCE_MS = 15000;
// The first start of a daemon, of Chromium and of a page on a fresh or loaded machine (font
// caches are built, two test binaries run beside): far slower than what follows.
const STARTUP_MS = 90000;

// A loopback port that was free a moment ago.
function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// One vektamanager process. `ports` maps COM names to device paths ([Ports]).
class Daemon {
  constructor(options = {}) {
    this.options = options;
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vekta-page-'));
    this.port = 0;
  }

  async start(port = 0) {
    if (!port) port = await freePort();
    const o = this.options;
    const ini = ['[CurrentConfig]', 'SaveToLog=0', 'KeepLogFiles=3', '[Server]',
      'LogDir=' + path.join(this.dir, 'log'), 'PromptTimeoutSeconds=' + (o.promptTimeout || 60), '[Ports]'];
    for (const [name, device] of Object.entries(o.ports || {})) ini.push(name + '=' + device);
    this.config = path.join(this.dir, 'vektamanager.ini');
    if (!fs.existsSync(this.config)) fs.writeFileSync(this.config, ini.join('\n') + '\n');
    const args = ['--config', this.config, '--listen', '127.0.0.1:' + port,
      '--registration-dir', path.join(this.dir, 'reg'), '--systemd-dir', path.join(this.dir, 'systemd'),
      '--sim-tape-dir', path.join(this.dir, 'tape')];
    for (const n of o.simulate || []) args.push('--simulate', String(n));
    this.process = spawn(path.join(BUILD, 'app/vektamanager'), args, { stdio: ['ignore', 'ignore', 'pipe'] });
    this.log = '';
    this.port = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('no daemon: ' + this.log)), STARTUP_MS);
      this.process.stderr.on('data', (chunk) => {
        this.log += chunk;
        const m = /serving http:\/\/127\.0\.0\.1:(\d+)/.exec(this.log);
        if (m) {
          clearTimeout(timer);
          resolve(Number(m[1]));
        }
      });
      this.process.on('exit', (code) => reject(new Error('daemon ended with ' + code + ': ' + this.log)));
    });
    this.url = 'http://127.0.0.1:' + this.port;
    return this;
  }

  async stop() {
    if (!this.process || this.process.exitCode !== null) return;
    const ended = new Promise((resolve) => this.process.on('exit', resolve));
    this.process.kill('SIGTERM');
    const timer = setTimeout(() => this.process.kill('SIGKILL'), PATIENCE_MS);
    await ended;
    clearTimeout(timer);
    // what the daemon said goes with the test's output, which is shown when a test fails
    process.stderr.write(this.log.split('\n').slice(-200).map((l) => '# daemon: ' + l).join('\n') + '\n');
  }

  tape(port) {
    const file = path.join(this.dir, 'tape', 'COM' + port + '.tape');
    return fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '';
  }

  async request(method, route, body) {
    const init = { method, headers: {} };
    if (body !== undefined) {
      init.headers['Content-Type'] = 'application/json';
      init.body = JSON.stringify(body);
    }
    const res = await fetch(this.url + route, init);
    const text = await res.text();
    let data = null;
    try { data = JSON.parse(text); } catch (e) { data = text; }
    return { status: res.status, data, headers: res.headers };
  }

  async create(progid = 'VektaManager.Orbis') {
    const res = await this.request('POST', '/api/v1/objects', { progid });
    if (res.status !== 201) throw new Error('no object: ' + JSON.stringify(res.data));
    return res.data.object;
  }

  // The call's envelope ({hresultName, ok, out}); a call that a prompt holds resolves when the
  // prompt is answered.
  async call(object, member, args) {
    return (await this.request('POST', '/api/v1/objects/' + object + '/call/' + member, args)).data;
  }

  async release(object) {
    await this.request('DELETE', '/api/v1/objects/' + object);
  }
}

async function launch() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    timeout: STARTUP_MS,
    args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
}

// A page of the daemon at a size, with every script error kept for the test to check: in a
// context of its own (`browser`), or as one more tab of a browser context (of the context's size).
async function openPage(browser, daemon, viewport = { width: 1280, height: 800 }) {
  const page = await (browser.newContext ? browser.newPage({ viewport }) : browser.newPage());
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') page.errors.push(m.text()); });
  // which request a "Failed to load resource" above was
  page.on('response', (r) => { if (r.status() >= 500) page.errors.push(r.status() + ' ' + r.request().method() + ' ' + r.url()); });
  await page.goto(daemon.url + '/', { timeout: STARTUP_MS });
  // the stream is open once its first state has arrived
  await page.waitForSelector('body[data-stream=live]', { state: 'attached', timeout: STARTUP_MS });
  return page;
}

// What a test file starts with: a daemon of `options`, Chromium, and a page of the daemon.
async function start(options) {
  const daemon = await new Daemon(options).start();
  let browser;
  try {
    browser = await launch();
    return { daemon, browser, page: await openPage(browser, daemon) };
  } catch (e) {
    await stop(browser, daemon);
    throw e;
  }
}

async function stop(browser, daemon) {
  if (browser) await browser.close();
  if (daemon) await daemon.stop();
}

// Polls `check` until it holds or the patience is spent.
async function eventually(check) {
  const deadline = Date.now() + PATIENCE_MS;
  while (!(await check()) && Date.now() < deadline) await new Promise((r) => setTimeout(r, 50));
}

async function shot(page, name) {
  fs.mkdirSync(SHOTS, { recursive: true });
  await page.screenshot({ path: path.join(SHOTS, name + '.png') });
}

// Resolves with the promise's value, or says the call is still held after `ms`.
async function heldFor(promise, ms) {
  const marker = Symbol('held');
  const result = await Promise.race([promise, new Promise((r) => setTimeout(() => r(marker), ms))]);
  return result === marker;
}

module.exports = { Daemon, launch, start, stop, openPage, shot, heldFor, eventually, PATIENCE_MS };

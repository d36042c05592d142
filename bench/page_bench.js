// The operator's page in Chromium against the real daemon with one simulated printer:
//   BM_PageBytes    what a first load of / fetches, in bytes
//   BM_ListPaint    navigation to the connection list drawn (one client attached), beside navigation to the first
//                   paint of the daemon's static help page (median of 10 loads each)
//   BM_StatusDelay  a receipt opened and aborted 20 times: from the call leaving the client, and
//                   from the event reaching a plain stream reader, to the status box appearing
//                   on (or leaving) the page; medians and the slowest
// Writes Google Benchmark's JSON shape, so that scripts/bench_report.py reads it with the rest.
//   node bench/page_bench.js OUT.json        (VEKTA_BUILD_DIR and NODE_PATH as for the tests)
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { Daemon, launch } = require('../tests/web/harness');

const LOADS = 10;
const CHANGES = 20;
const WAIT_MS = 15000;

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

function run(name, counters) {
  return Object.assign({ name, run_name: name, run_type: 'iteration', iterations: 1,
    real_time: 0, cpu_time: 0, time_unit: 'ms' }, counters);
}

// Times (Date.now) at which the page's status box of port 1 appeared or went, in the page.
const WATCH_STATUS = () => {
  window.statusChanges = [];
  new MutationObserver((records) => {
    for (const r of records) {
      for (const n of r.addedNodes) if (n.dataset && n.dataset.port === '1') window.statusChanges.push(['shown', Date.now()]);
      for (const n of r.removedNodes) if (n.dataset && n.dataset.port === '1') window.statusChanges.push(['closed', Date.now()]);
    }
  }).observe(document.getElementById('status-windows'), { childList: true });
};

// Reads the event stream as any client would and stamps each "status" event of port 1 on arrival.
async function streamReader(url, stamps, signal) {
  const res = await fetch(url + '/api/v1/events', { signal });
  const decoder = new TextDecoder();
  let buffer = '';
  try {
    for await (const chunk of res.body) {
      buffer += decoder.decode(chunk, { stream: true });
      let end;
      while ((end = buffer.indexOf('\n\n')) >= 0) {
        const block = buffer.slice(0, end);
        buffer = buffer.slice(end + 2);
        if (!/^event: status$/m.test(block)) continue;
        const data = JSON.parse((/^data: (.*)$/m.exec(block) || [])[1] || '{}');
        if (data.port === 1) stamps.push([data.closed || data.shown === false ? 'closed' : 'shown', Date.now()]);
      }
    }
  } catch (e) {
    if (!signal.aborted) throw e;
  }
}

async function until(check, what) {
  const deadline = Date.now() + WAIT_MS;
  while (!(await check())) {
    if (Date.now() > deadline) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 2));
  }
}

async function pageBytes(browser, daemon) {
  const context = await browser.newContext();
  const page = await context.newPage();
  const bodies = [];
  page.on('response', (res) => {
    if (!res.url().includes('/api/')) bodies.push(res.body().then((b) => b.length, () => 0));
  });
  await page.goto(daemon.url + '/', { waitUntil: 'load' });
  await page.waitForSelector('body[data-stream=live]', { state: 'attached' });
  const bytes = (await Promise.all(bodies)).reduce((a, b) => a + b, 0);
  await context.close();
  return run('BM_PageBytes', { page_bytes: bytes, files: bodies.length });
}

async function listPaint(browser, daemon) {
  const list = [];
  const help = [];
  const pos = await daemon.create();  // a client, so that the list has a row to draw
  const init = await daemon.call(pos, 'Init', [1, 'Kasa', '7777777777', 0, 'POS']);
  if (init.hresultName !== 'S_OK') throw new Error('Init: ' + JSON.stringify(init));
  for (let i = 0; i < LOADS; i++) {
    const context = await browser.newContext();  // a cold cache each time
    const page = await context.newPage();
    await page.addInitScript(() => {
      window.listDrawnAt = 0;
      const observe = () => {
        const body = document.querySelector('#connections tbody');
        if (!body) return;
        new MutationObserver(() => {
          if (!window.listDrawnAt && body.rows.length) window.listDrawnAt = performance.now();
        }).observe(body, { childList: true });
      };
      document.addEventListener('DOMContentLoaded', observe);
    });
    await page.goto(daemon.url + '/');
    await until(() => page.evaluate(() => window.listDrawnAt > 0), 'the connection list');
    list.push(await page.evaluate(() => window.listDrawnAt));
    await page.goto(daemon.url + '/web/help.html');
    await until(() => page.evaluate(() => performance.getEntriesByName('first-paint').length > 0), 'a first paint');
    help.push(await page.evaluate(() => performance.getEntriesByName('first-paint')[0].startTime));
    await context.close();
  }
  await daemon.release(pos);
  return run('BM_ListPaint', { list_paint_ms: median(list), static_paint_ms: median(help),
    list_paint_max_ms: Math.max(...list) });
}

async function statusDelay(browser, daemon) {
  const page = await browser.newPage();
  await page.goto(daemon.url + '/');
  await page.waitForSelector('body[data-stream=live]', { state: 'attached' });
  await page.evaluate(WATCH_STATUS);
  const stamps = [];
  const stop = new AbortController();
  const reader = streamReader(daemon.url, stamps, stop.signal);
  const pos = await daemon.create();
  // with status windows on, the printer information window follows the connect: OK closes it
  const initCall = daemon.call(pos, 'Init', [1, 'Kasa', '7777777777', 1, 'POS']);
  await page.locator('dialog[open][data-kind=info] .ok').click({ timeout: WAIT_MS });
  const init = await initCall;
  if (init.hresultName !== 'S_OK') throw new Error('Init: ' + JSON.stringify(init));

  const fromCall = [];
  const fromStream = [];
  const seen = () => page.evaluate(() => window.statusChanges.length);
  for (let i = 0; i < CHANGES; i++) {
    for (const [member, args, kind] of [['OpenCheck', ['1'], 'shown'], ['AbortCheck', [], 'closed']]) {
      const before = await seen();
      const streamBefore = stamps.length;
      const sentAt = Date.now();
      const reply = await daemon.call(pos, member, args);
      if (!reply.ok) throw new Error(member + ': ' + JSON.stringify(reply));
      await until(async () => (await seen()) > before && stamps.length > streamBefore, kind + ' box');
      const [pageKind, pageAt] = await page.evaluate((n) => window.statusChanges[n], before);
      const streamAt = stamps[streamBefore][1];
      if (pageKind !== kind) throw new Error('expected the box ' + kind + ', the page saw ' + pageKind);
      fromCall.push(pageAt - sentAt);
      fromStream.push(pageAt - streamAt);
    }
  }
  stop.abort();
  await reader;
  await daemon.release(pos);
  await page.close();
  return run('BM_StatusDelay', { call_to_page_ms: median(fromCall), stream_to_page_ms: median(fromStream),
    call_to_page_max_ms: Math.max(...fromCall), changes: fromCall.length });
}

async function main() {
  const out = process.argv[2];
  if (!out) {
    console.error('usage: node bench/page_bench.js OUT.json');
    process.exit(2);
  }
  const daemon = await new Daemon({ simulate: [1] }).start();
  const browser = await launch();
  const benchmarks = [];
  try {
    for (const [name, measure] of [['BM_PageBytes', pageBytes], ['BM_ListPaint', listPaint],
      ['BM_StatusDelay', statusDelay]]) {
      try {
        benchmarks.push(await measure(browser, daemon));
      } catch (e) {
        benchmarks.push(run(name, { error_occurred: true, error_message: String(e.message || e) }));
      }
      console.log(JSON.stringify(benchmarks[benchmarks.length - 1]));
    }
  } finally {
    await browser.close();
    await daemon.stop();
  }
  fs.mkdirSync(path.dirname(out), { recursive: true });
  fs.writeFileSync(out, JSON.stringify({ context: {}, benchmarks }, null, 1));
  if (benchmarks.some((b) => b.error_occurred)) process.exit(1);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});

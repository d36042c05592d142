// The main window in Chromium against the real daemon: tray bar and About, the connection
// list kept live, the options page and two pages editing it, the test client, the keyboard, a
// small screen, and a server that goes away and comes back.
'use strict';

const { test, before, after } = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { start, stop, openPage, shot, eventually, PATIENCE_MS } = require('./harness');

let daemon, browser, page;
before(async () => ({ daemon, browser, page } = await start({ simulate: [1] })));
after(() => stop(browser, daemon));

const rows = () => page.$$eval('#connections tbody tr', (trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent)));

test('the page is served with its types and a policy that admits only its own files', async () => {
  const index = await daemon.request('GET', '/');
  assert.equal(index.status, 200);
  assert.match(index.headers.get('content-type'), /^text\/html; charset=utf-8/);
  assert.match(index.headers.get('content-security-policy'), /default-src 'none'; script-src 'self'/);
  assert.equal(index.headers.get('x-content-type-options'), 'nosniff');
  assert.match((await daemon.request('GET', '/web/app.js')).headers.get('content-type'), /^text\/javascript/);
  assert.match((await daemon.request('GET', '/web/style.css')).headers.get('content-type'), /^text\/css/);
  assert.match((await daemon.request('GET', '/web/logo.svg')).headers.get('content-type'), /^image\/svg\+xml/);
  assert.equal((await daemon.request('GET', '/web/help.html')).status, 200);
  for (const bad of ['/web/nothing.js', '/web/.hidden', '/web/..%2Fvektamanager.ini', '/web/']) {
    assert.equal((await daemon.request('GET', bad)).status, 404, bad);
  }
  assert.deepEqual(page.errors, []);
});

test('the tray menu, About with the version the server gives; Сховати and Керування програмою', async () => {
  await page.click('#tray-button');
  const entries = await page.$$eval('#tray-menu > li', (lis) => lis.filter((li) => !li.hidden).map((li) =>
    li.getAttribute('role') === 'separator' ? '-' : li.querySelector('img') ? 'picture' : li.textContent));
  assert.deepEqual(entries, ['picture', '-', 'Керування програмою', 'Про програму', '-', 'Вихід з програми']);
  await shot(page, 'tray-menu');
  await page.click('#menu-about');
  assert.equal(await page.textContent('#about-version'), 'Версія: 1,5,0,15');
  await shot(page, 'about');
  await page.keyboard.press('Enter');
  assert.equal(await page.isVisible('#about'), false);

  await page.click('#hide');
  assert.equal(await page.isVisible('#main-window'), false);
  assert.equal(await page.isVisible('#tray'), true);
  await shot(page, 'hidden-to-tray');
  await page.click('#tray-button');
  await page.click('#menu-show');
  assert.equal(await page.isVisible('#main-window'), true);
});

test('the connection list shows two clients and a lock, and follows them live', async () => {
  const pos = await daemon.create();
  const office = await daemon.create();
  assert.equal((await daemon.call(pos, 'Init', [1, 'Kasa', '7777777777', 0, 'POS'])).hresultName, 'S_OK');
  assert.equal((await daemon.call(office, 'Init', [1, 'Kasa', '7777777777', 0, 'Склад'])).hresultName, 'S_OK');
  assert.equal((await daemon.call(pos, 'LockPrinter', [1000])).ok, true);
  await page.waitForFunction(() => document.querySelector('#connections tbody').textContent.includes('LOCKED'));
  const serial = (await daemon.request('GET', '/api/v1/connections')).data.connections[0].serialNumber;
  assert.deepEqual(await rows(), [['COM1 LOCKED', serial, 'POS'], ['', '', 'Склад']]);
  await shot(page, 'connections-two-clients-locked');

  await daemon.call(pos, 'UnlockPrinter', []);
  await daemon.release(office);
  await page.waitForFunction(() => document.querySelectorAll('#connections tbody tr').length === 1 &&
    !document.querySelector('#connections tbody').textContent.includes('LOCKED'));
  assert.deepEqual(await rows(), [['COM1', serial, 'POS']]);
  // Відновити reads the list again
  await page.$eval('#connections tbody', (b) => b.replaceChildren());
  await page.click('#refresh');
  await page.waitForFunction(() => document.querySelectorAll('#connections tbody tr').length === 1);
  await daemon.release(pos);
  await page.waitForFunction(() => document.querySelectorAll('#connections tbody tr').length === 0);
});

test('the receipts settled after a doubt or an earlier run are listed under the connections', async () => {
  assert.equal(await page.isVisible('#receipts-box'), false);  // none yet
  // A receipt as the journal records one that a killed server left and the next one settled.
  const journal = path.join(daemon.dir, 'log', 'receipts.sqlite');
  execFileSync('python3', ['-c', `import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("INSERT INTO receipts (port, serial, state, total, note, settled) VALUES (1, 'SK1', 'closed', 12345, 'left by an earlier run; closed on the printer', 1)")
db.commit()`, journal]);
  await page.click('#refresh');
  await page.waitForSelector('#receipts-box', { state: 'visible' });
  const cells = await page.$$eval('#receipts tbody td', (tds) => tds.map((td) => td.textContent));
  assert.deepEqual(cells.slice(0, 4), ['COM1', 'надруковано', '123.45', 'left by an earlier run; closed on the printer']);
  await shot(page, 'receipts-settled');
  // a journal the server cannot read is said so, not shown as an empty list
  fs.renameSync(journal, journal + '.kept');
  fs.writeFileSync(journal, Buffer.alloc(4096, 0xff));
  try {
    await page.click('#refresh');
    await page.waitForSelector('#receipts-error', { state: 'visible' });
    assert.match(await page.textContent('#receipts-error'), /cannot be read/);
    page.errors.splice(0);  // the browser's own line for the 500 asked for here
  } finally {
    fs.renameSync(journal + '.kept', journal);
  }
  await page.click('#refresh');
  await page.waitForSelector('#receipts-error', { state: 'hidden' });
});

test('the options page stores both settings and refuses days outside 2 to 4096', async () => {
  await page.click('#tab-options');
  assert.equal(await page.isVisible('#page-connections'), false);
  assert.equal(await page.isDisabled('#keep-days'), true);
  await page.check('#save-to-log');
  assert.equal(await page.isDisabled('#keep-days'), false);
  await page.fill('#keep-days', '14');
  await page.click('#apply');
  await page.waitForFunction(() => document.getElementById('options-error').hidden);
  await assertSettings({ SaveToLog: true, KeepLogFiles: 14 });

  for (const refused of ['1', '4097', 'abc']) {
    await page.fill('#keep-days', refused);
    await page.click('#apply');
    await page.waitForSelector('#options-error:not([hidden])');
    assert.match(await page.textContent('#options-error'), /від 2 до 4096/);
    assert.equal(await page.inputValue('#keep-days'), refused, 'the field keeps what was typed');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'keep-days');
  }
  await shot(page, 'options-refused');
  await assertSettings({ SaveToLog: true, KeepLogFiles: 14 });
  await page.fill('#keep-days', '4096');
  await page.uncheck('#save-to-log');
  await page.click('#apply');
  await page.waitForFunction(() => document.getElementById('options-error').hidden);
  await assertSettings({ SaveToLog: false, KeepLogFiles: 4096 });
  await page.click('#tab-connections');
});

test('two pages editing the options: each saves only what it changed and shows what the other saved', async () => {
  await daemon.request('PUT', '/api/v1/settings', { SaveToLog: true, KeepLogFiles: 5 });
  const a = await openPage(browser, daemon);
  const b = await openPage(browser, daemon);
  for (const p of [a, b]) {
    await p.click('#tab-options');
    await p.waitForFunction(() => document.getElementById('save-to-log').checked);
  }
  await b.uncheck('#save-to-log');
  await b.click('#apply');
  await assertSettings({ SaveToLog: false, KeepLogFiles: 5 });
  // a still shows the box ticked, and changes the days only
  await a.fill('#keep-days', '9');
  await a.click('#apply');
  await assertSettings({ SaveToLog: false, KeepLogFiles: 9 });
  // and shows the file as its save's answer gives it
  await a.waitForFunction(() => !document.getElementById('save-to-log').checked);
  // the options shown again are read again; Встановити with nothing changed sends nothing
  await b.click('#tab-connections');
  await b.click('#tab-options');
  await b.waitForFunction(() => document.getElementById('keep-days').value === '9');
  const puts = [];
  b.on('request', (r) => { if (r.method() === 'PUT') puts.push(r.url()); });
  await b.click('#apply');
  await b.waitForTimeout(300);
  assert.deepEqual(puts, []);
  assert.deepEqual([...a.errors, ...b.errors], []);
  // a settings file the service cannot read is said so, not shown as the defaults
  const kept = fs.readFileSync(daemon.config);
  fs.writeFileSync(daemon.config, Buffer.from([0xff, 0xfe, 0x5b, 0x00]));
  try {
    await b.click('#tab-connections');
    await b.click('#tab-options');
    await b.waitForSelector('#options-error:not([hidden])');
    assert.match(await b.textContent('#options-error'), /settings file cannot be read/);
  } finally {
    fs.writeFileSync(daemon.config, kept);
  }
  await b.click('#tab-connections');
  await b.click('#tab-options');
  await b.waitForFunction(() => document.getElementById('options-error').hidden);
  await a.close();
  await b.close();
});

async function assertSettings(expected) {
  let got;
  await eventually(async () => {
    got = (await daemon.request('GET', '/api/v1/settings')).data;
    return got.SaveToLog === expected.SaveToLog && got.KeepLogFiles === expected.KeepLogFiles;
  });
  assert.deepEqual(got, expected);
}

test('the test client connects, sends a raw command, fetches the XML and prints its receipt', async () => {
  await page.click('#open-test-client');
  await page.click('#tc-connect');
  await page.fill('#ep-port', '17');
  await page.click('#ep-ok');
  assert.match(await page.textContent('#ep-error'), /від 1 до 16/);
  assert.equal(await page.isVisible('#enter-port'), true, 'a port out of range keeps the dialog open');
  await page.fill('#ep-port', '1');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.querySelector('#connections tbody').textContent.includes('VektaManTester'));

  await page.click('#tc-port');
  const box = page.locator('dialog.test-client-box');
  await box.waitFor();
  assert.equal(await box.locator('.text').textContent(), 'Port number is 1');
  await box.locator('button').click();

  await page.fill('#tc-command', 'CONf');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => /READY\n$/.test(document.getElementById('tc-console').value), null, { timeout: PATIENCE_MS });
  assert.match(await page.inputValue('#tc-console'), /^CONf.+\nREADY\n$/s);
  await page.click('#tc-xml');
  await page.waitForFunction(() => document.getElementById('tc-console').value.includes('<?xml'));
  await page.click('#tc-receipt');
  await eventually(() => /Колбаска/.test(daemon.tape(1)));
  assert.match(daemon.tape(1), /Колбаска/);
  await shot(page, 'test-client');

  await page.click('#tc-close');
  await page.waitForSelector('#test-client', { state: 'hidden' });
  await page.waitForFunction(() => !document.querySelector('#connections tbody').textContent.includes('VektaManTester'));
  assert.deepEqual(page.errors, []);
});

test('keyboard alone, and a screen of 800x600', async () => {
  const small = await openPage(browser, daemon, { width: 800, height: 600 });
  await small.focus('#tab-connections');
  await small.keyboard.press('ArrowRight');
  assert.equal(await small.isVisible('#page-options'), true);
  assert.equal(await small.evaluate(() => document.activeElement.id), 'tab-options');
  await small.keyboard.press('ArrowLeft');
  assert.equal(await small.isVisible('#page-connections'), true);
  // everything of the window fits the width; the buttons are reachable
  const box = await small.locator('#main-window').boundingBox();
  assert.ok(box.x >= 0 && box.x + box.width <= 800, JSON.stringify(box));
  assert.ok(await small.locator('#hide').isVisible());
  await shot(small, 'main-800x600');
  await small.keyboard.press('Escape');
  assert.equal(await small.isVisible('#main-window'), false);
  assert.equal(await small.evaluate(() => document.activeElement.id), 'tray-button');
  await small.keyboard.press('Enter');
  await small.keyboard.press('ArrowDown');
  assert.equal(await small.evaluate(() => document.activeElement.textContent), 'Керування програмою');
  await small.keyboard.press('Enter');
  assert.equal(await small.isVisible('#main-window'), true);
  await small.close();
});

test('a server that goes away shows the banner, and the pages come back with it and read the options again', async () => {
  // two tabs of one browser beside the page: one of them has the stream, the other its events
  const context = await browser.newContext();
  const pages = [page, await openPage(context, daemon), await openPage(context, daemon)];
  const port = daemon.port;
  await daemon.stop();
  for (const p of pages) await p.waitForSelector('#banner:not([hidden])', { timeout: PATIENCE_MS });
  await shot(page, 'server-unreachable');
  fs.writeFileSync(daemon.config, fs.readFileSync(daemon.config, 'utf8').replace(/^SaveToLog=0$/m, 'SaveToLog=1'));
  await daemon.start(port);
  for (const p of pages) {
    await p.waitForSelector('#banner', { state: 'hidden', timeout: PATIENCE_MS });
    await p.waitForSelector('body[data-stream=live]', { state: 'attached' });
  }
  await page.waitForFunction(() => document.getElementById('save-to-log').checked &&
    document.getElementById('keep-days').value === '9');
  const pos = await daemon.create();
  assert.equal((await daemon.call(pos, 'Init', [1, 'Kasa', '7777777777', 0, 'POS'])).hresultName, 'S_OK');
  for (const p of pages) await p.waitForFunction(() => document.querySelector('#connections tbody').textContent.includes('POS'));
  await daemon.release(pos);
  await context.close();
});

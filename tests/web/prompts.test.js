// Status windows and prompts in Chromium against the real daemon: a receipt's status box, an
// error box that holds its client's call, Retry/Cancel at connect, the connect dialog and its
// limits, the printer information window's countdown, seven tabs of one browser, two pages
// answering one prompt, and pages that leave one open.
'use strict';

const { test, before, after, afterEach } = require('node:test');
const assert = require('node:assert');
const { start, stop, openPage, shot, heldFor, eventually, PATIENCE_MS } = require('./harness');

let daemon, browser, page;
before(async () => ({ daemon, browser, page } =
  await start({ simulate: [1, 2, 3, 4], ports: { COM7: '/nonexistent/vekta-tty' } })));
after(() => stop(browser, daemon));
// what the main page logged fails the case it happened in, not a later one
afterEach(() => assert.deepEqual(page.errors.splice(0), []));

const dialog = (p, kind) => p.locator('dialog[open][data-kind=' + kind + ']');

test('a receipt shows its status box with title, goods and sum lines, and removes it at the close', async () => {
  const pos = await daemon.create();
  const init = daemon.call(pos, 'Init', [1, 'Kasa', '7777777777', 1, 'POS']);
  // with status windows on, the information window follows the connect
  await dialog(page, 'info').waitFor();
  await dialog(page, 'info').locator('.ok').click();
  assert.equal((await init).hresultName, 'S_OK');

  assert.equal((await daemon.call(pos, 'OpenCheck', ['Бакалея'])).ok, true);
  const box = page.locator('.status-window[data-port="1"]');
  await box.waitFor();
  assert.equal(await box.locator('.title').textContent(), 'Відкривання чека для відділка:Бакалея');
  assert.equal(await box.locator('.goods').isVisible(), false, 'an empty line is not shown');
  assert.equal(await box.locator('.sum').isVisible(), false);
  await shot(page, 'status-open-receipt');

  assert.equal((await daemon.call(pos, 'FiscalLine', ['Хліб', 2, 1850, 0, 1, 0, 101])).out.ThisLineSum, 3700);
  await page.waitForFunction(() => /37/.test(document.querySelector('.status-window[data-port="1"] .sum').textContent));
  assert.equal(await box.locator('.title').textContent(), 'Друкування чека...');
  assert.match(await box.locator('.goods').textContent(), /Хліб/);
  assert.equal(await box.locator('.sum').isVisible(), true);
  await shot(page, 'status-fiscal-line');

  assert.equal((await daemon.call(pos, 'CloseCheck', [])).ok, true);
  await box.waitFor({ state: 'detached' });
  await daemon.release(pos);
});

test('an error box holds the call until the page answers it; Enter presses OK', async () => {
  const pos = await daemon.create();
  assert.equal((await daemon.call(pos, 'Init', [2, 'Kasa', '7777777777', 0, 'POS'])).hresultName, 'S_OK');
  assert.equal((await daemon.call(pos, 'OpenCheck', ['Бакалея'])).ok, true);
  const line = daemon.call(pos, 'FiscalLine', ['Цукор', 100000, 100, 1, 1, 0, 7]);
  const box = dialog(page, 'message');
  await box.waitFor();
  assert.match(await box.getAttribute('class'), /\bstop\b/);
  assert.equal(await box.locator('.text').textContent(), 'Слишком большое количество делимого товара для одной строки чека.');
  assert.deepEqual(await box.locator('button').allTextContents(), ['OK']);
  assert.ok(await heldFor(line, 300), 'the client waits for the operator');
  await shot(page, 'message-stop-ok');
  await page.keyboard.press('Enter');
  const result = await line;
  assert.equal(result.out.ThisLineSum, 0);
  await box.waitFor({ state: 'detached' });
  // a box closed is among the recent messages
  await page.waitForSelector('#recent:not([hidden])');
  assert.match(await page.textContent('#recent-list'), /Слишком большое количество/);
  await daemon.release(pos);
});

test('Retry/Cancel at connect: Retry asks again with the connect dialog, Escape cancels', async () => {
  const pos = await daemon.create();
  const init = daemon.call(pos, 'Init', [7, 'Kasa', '7777777777', 0, 'POS']);
  const box = dialog(page, 'message');
  await box.waitFor();
  assert.match(await box.getAttribute('class'), /\bretrycancel\b/);
  assert.match(await box.locator('.text').textContent(), /^Помилка при відкриванні комунікаціного порта\..*COM7$/);
  assert.deepEqual(await box.locator('button').allTextContents(), ['Повторити', 'Скасувати']);
  await shot(page, 'message-retry-cancel');
  await page.keyboard.press('Enter');  // Retry
  const connect = dialog(page, 'connect');
  await connect.waitFor();
  // the port could not be opened: the list offers the ports, but the link's own is chosen
  assert.equal(await connect.locator('select').inputValue(), 'COM7');
  await connect.locator('.cancel').click();
  assert.equal((await init).hresultName, 'E_FAIL');
  await connect.waitFor({ state: 'detached' });  // so that Escape below reaches the new box

  const again = daemon.call(pos, 'Init', [7, 'Kasa', '7777777777', 0, 'POS']);
  await box.waitFor();
  await page.keyboard.press('Escape');
  assert.equal((await again).hresultName, 'E_FAIL');
  await daemon.release(pos);
});

test('the connect dialog: cancelled, refused over its limits and for another port, answered within them', async () => {
  const pos = await daemon.create();
  const cancelled = daemon.call(pos, 'Init', [3, '', '', 0, 'POS']);
  const connect = dialog(page, 'connect');
  await connect.waitFor();
  assert.deepEqual(await connect.locator('option').allTextContents(), ['COM3'], 'the client gave the port');
  assert.equal(await connect.locator('select').isDisabled(), true);
  assert.equal(await connect.locator('.password').getAttribute('type'), 'password');
  await shot(page, 'connect-dialog');
  await page.keyboard.press('Escape');
  assert.equal((await cancelled).hresultName, 'E_FAIL');
  // the page drops the cancelled dialog when the server says so; until then its id is stale
  await connect.waitFor({ state: 'detached' });

  const init = daemon.call(pos, 'Init', [3, '', '', 0, 'POS']);
  await connect.waitFor();
  const id = await connect.getAttribute('data-prompt');
  // the server holds the limits too: an unidentified printer takes 4 characters of name
  const answer = (body) => daemon.request('POST', '/api/v1/prompts/' + id, body);
  assert.equal((await answer({ button: 'OK', port: 3, cashier: 'Оксана', password: '7777777777' })).status, 400);
  assert.equal((await answer({ button: 'OK', port: 3, cashier: 'Оля', password: '77777777771' })).status, 400);
  assert.equal((await answer({ button: 'OK', port: 4, cashier: 'Оля', password: '7777777777' })).status, 400);
  assert.equal((await answer({ button: 'OK', port: 'COM4', cashier: 'Оля', password: '7777777777' })).status, 400);
  assert.ok(await heldFor(init, 200));
  assert.equal(await connect.isVisible(), true, 'a refused answer keeps the dialog open');
  // the page keeps to the limits as the operator types
  await connect.locator('.cashier').fill('');
  await connect.locator('.cashier').pressSequentially('Олександра');
  assert.equal(await connect.locator('.cashier').inputValue(), 'Олек');
  await connect.locator('.password').pressSequentially('777777777777');
  assert.equal(await connect.locator('.password').inputValue(), '7777777777');
  // a refusal from the server is shown in the dialog
  await connect.locator('.cashier').evaluate((e) => { e.maxLength = 20; });
  await connect.locator('.cashier').fill('Оксана');
  await connect.locator('.cashier').evaluate((e) => { e.maxLength = 4; });
  await page.keyboard.press('Enter');
  await connect.locator('.error:not([hidden])').waitFor();
  await shot(page, 'connect-refused');
  await connect.locator('.cashier').fill('Оля');
  await page.keyboard.press('Enter');
  assert.equal((await init).hresultName, 'S_OK');
  await connect.waitFor({ state: 'detached' });
  await daemon.release(pos);
});

test('the information window counts down and closes itself after 10 s; a click keeps it', async () => {
  const pos = await daemon.create();
  const started = Date.now();
  const init = daemon.call(pos, 'Init', [4, 'Kasa', '7777777777', 1, 'POS']);
  const info = dialog(page, 'info');
  await info.waitFor();
  assert.equal(await info.locator('.countdown').textContent(), 'Вікно закриється за 10 секунд. Нажміть тут для відміни.');
  // the rows are the printer's configuration, labelled from the string table
  const fiscal = await info.locator('table.fiscal tbody tr').evaluateAll((trs) => trs.map((tr) => tr.cells[0].textContent));
  assert.equal(fiscal.length, 12);
  assert.equal(fiscal[11], 'Позиція ключа в ЕККР');
  assert.equal(await info.locator('table.fiscal tbody tr:last-child td:last-child').textContent(), 'РЕЄСТРАЦІЯ');
  assert.equal((await info.locator('table.taxes th').allTextContents())[3], 'Дата реєстрації');
  const taxes = await info.locator('table.taxes tbody tr').evaluateAll((trs) => trs.map((tr) => [tr.cells[0].textContent, tr.cells[1].textContent]));
  assert.deepEqual(taxes.map((t) => t[0]), ['А', 'Б', 'В', 'Г', 'Д', 'Е', 'Ж', 'З']);
  const words = new Set(['Вкладений', 'Накладений', 'Податок на прибуток (з виграшу)', 'Не встановлений']);
  for (const [, type] of taxes) assert.ok(words.has(type), type);
  await shot(page, 'info-window');
  await page.waitForFunction(() => /за [1-8] секунд/.test(document.querySelector('dialog[data-kind=info] .countdown').textContent));
  assert.equal((await init).hresultName, 'S_OK');
  const took = Date.now() - started;
  assert.ok(took >= 9500 && took < 30000, 'closed after ' + took + ' ms, not at the prompt time-out');
  await info.waitFor({ state: 'detached' });
  await daemon.release(pos);

  // a click on the countdown stops it: the window stays until OK
  const kept = await daemon.create();
  const held = daemon.call(kept, 'Init', [4, 'Kasa', '7777777777', 1, 'POS']);
  await info.waitFor();
  await info.locator('.countdown').click();
  await info.locator('.countdown').waitFor({ state: 'hidden' });
  assert.ok(await heldFor(held, 11000), 'still open after the ten seconds');
  await shot(page, 'info-window-kept');
  await info.locator('.ok').click();
  assert.equal((await held).hresultName, 'S_OK');
  await daemon.release(kept);
});

test('seven tabs of one browser: a tab without the stream answers a prompt; the stream passes on when its tab closes', async () => {
  const context = await browser.newContext({ viewport: { width: 800, height: 600 } });
  // the tabs that got a stream, in order
  const holders = new Set();
  context.on('response', (r) => {
    if (r.url().endsWith('/api/v1/events') && r.status() === 200) holders.add(r.frame().page());
  });
  const pos = await daemon.create();
  // a Retry/Cancel box on each tab, Cancel on `from`: the call goes on then, not at the time-out
  const cancelOn = async (tabs, from) => {
    const init = daemon.call(pos, 'Init', [7, 'Kasa', '7777777777', 0, 'POS']);
    for (const t of tabs) await dialog(t, 'message').waitFor();
    await dialog(from, 'message').locator('button[data-button=Cancel]').click();
    assert.equal(await heldFor(init, PATIENCE_MS), false, 'the answer reached the server');
    assert.equal((await init).hresultName, 'E_FAIL');
    for (const t of tabs) await dialog(t, 'message').waitFor({ state: 'detached' });
  };
  try {
    const tabs = [];
    for (let i = 0; i < 7; i += 1) tabs.push(await openPage(context, daemon));
    assert.equal(holders.size, 1);
    const [first] = holders;
    await cancelOn(tabs, tabs.find((t) => t !== first));

    await first.close();
    await eventually(() => holders.size === 2);
    const rest = tabs.filter((t) => t !== first);
    const second = [...holders][1];
    assert.ok(rest.includes(second));
    await cancelOn(rest, rest.find((t) => t !== second));
    assert.deepEqual(rest.flatMap((t) => t.errors), []);
  } finally {
    await context.close();
    await daemon.release(pos);
  }
});

test('two pages: a prompt answered on one closes on both; a page that comes later sees it', async () => {
  const other = await openPage(browser, daemon, { width: 800, height: 600 });
  const pos = await daemon.create();
  const init = daemon.call(pos, 'Init', [7, 'Kasa', '7777777777', 0, 'POS']);
  await dialog(page, 'message').waitFor();
  await dialog(other, 'message').waitFor();
  const late = await openPage(browser, daemon);
  await dialog(late, 'message').waitFor();
  await shot(other, 'two-pages-second');
  await dialog(other, 'message').locator('button[data-button=Cancel]').click();
  assert.equal((await init).hresultName, 'E_FAIL');
  for (const p of [page, other, late]) await dialog(p, 'message').waitFor({ state: 'detached' });
  assert.deepEqual([...page.errors, ...other.errors, ...late.errors], []);

  // pages that leave take their prompts with them: the call goes on with the default
  const left = daemon.call(pos, 'Init', [7, 'Kasa', '7777777777', 0, 'POS']);
  for (const p of [page, other, late]) await dialog(p, 'message').waitFor();
  for (const p of [page, other, late]) await p.close();
  assert.equal((await left).hresultName, 'E_FAIL');
  const recent = (await daemon.request('GET', '/api/v1/status')).data.recentMessages;
  assert.equal(recent[recent.length - 1].reason, 'no page');
  await daemon.release(pos);
});

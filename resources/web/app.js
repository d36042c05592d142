// The operator's page of VektaManager: main window, connection list, options, status windows,
// prompts, About and the test client. Talks only to the server it came from.
'use strict';

const $ = (id) => document.getElementById(id);
const COUNTDOWN_FORMAT = 'Вікно закриється за %d секунд. Нажміть тут для відміни.';
const BUTTON_TEXT = { OK: 'OK', Retry: 'Повторити', Cancel: 'Скасувати' };

// One JSON request; never throws. `data` is null when the answer is not JSON.
async function api(method, path, body) {
  const init = { method, headers: {} };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  try {
    const res = await fetch(path, init);
    let data = null;
    try { data = await res.json(); } catch (e) { data = null; }
    return { status: res.status, ok: res.ok, data };
  } catch (e) {
    return { status: 0, ok: false, data: null };
  }
}

function el(tag, attrs, ...children) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k === 'class') node.className = v;
    else if (k === 'text') node.textContent = v;
    else node.setAttribute(k, v);
  }
  for (const c of children) node.append(c);
  return node;
}

// ---- main window, tabs and tray bar ----

function showMainWindow() {
  $('main-window').hidden = false;
  $('main-window').focus();
}

function hideMainWindow() {
  $('main-window').hidden = true;
  $('tray-button').focus();
}

function selectTab(tab) {
  for (const t of document.querySelectorAll('[role=tab]')) {
    const selected = t === tab;
    t.setAttribute('aria-selected', String(selected));
    t.tabIndex = selected ? 0 : -1;
    $(t.getAttribute('aria-controls')).hidden = !selected;
  }
  // showing the list or the options always shows current data
  if (tab.id === 'tab-connections') refreshConnections();
  if (tab.id === 'tab-options') loadSettings();
}

function setupMainWindow() {
  const tabs = [...document.querySelectorAll('[role=tab]')];
  for (const tab of tabs) {
    tab.addEventListener('click', () => selectTab(tab));
    tab.addEventListener('keydown', (e) => {
      const i = tabs.indexOf(tab);
      let next = null;
      if (e.key === 'ArrowRight') next = tabs[(i + 1) % tabs.length];
      if (e.key === 'ArrowLeft') next = tabs[(i + tabs.length - 1) % tabs.length];
      if (next) {
        e.preventDefault();
        selectTab(next);
        next.focus();
      }
    });
  }
  $('hide').addEventListener('click', hideMainWindow);
  $('refresh').addEventListener('click', refreshConnections);
  $('main-window').addEventListener('keydown', (e) => {
    if (e.key === 'Escape') {
      e.preventDefault();
      hideMainWindow();
    } else if (e.key === 'Enter' && e.target === $('main-window')) {
      // Enter presses the default button
      e.preventDefault();
      hideMainWindow();
    }
  });

  const menu = $('tray-menu');
  const button = $('tray-button');
  const items = () => [...menu.querySelectorAll('[role=menuitem]')].filter((i) => !i.closest('[hidden]'));
  const openMenu = (open) => {
    menu.hidden = !open;
    button.setAttribute('aria-expanded', String(open));
    if (open) items()[0].focus();
  };
  button.addEventListener('click', () => openMenu(menu.hidden));
  menu.addEventListener('keydown', (e) => {
    const list = items();
    const i = list.indexOf(document.activeElement);
    if (e.key === 'Escape') {
      openMenu(false);
      button.focus();
    } else if (e.key === 'ArrowDown') {
      e.preventDefault();
      list[(i + 1) % list.length].focus();
    } else if (e.key === 'ArrowUp') {
      e.preventDefault();
      list[(i + list.length - 1) % list.length].focus();
    }
  });
  menu.addEventListener('click', (e) => {
    if (e.target.closest('[role=menuitem]')) openMenu(false);
  });
  document.addEventListener('click', (e) => {
    if (!menu.hidden && !e.target.closest('#tray')) openMenu(false);
  });
  $('menu-show').addEventListener('click', showMainWindow);
  $('menu-about').addEventListener('click', () => {
    $('about').showModal();
    $('about-ok').focus();
  });
  $('about-ok').addEventListener('click', () => $('about').close());
  $('menu-exit').addEventListener('click', async () => {
    await api('POST', '/api/v1/app/exit');
  });
}

async function loadAbout() {
  const about = await api('GET', '/api/v1/about');
  if (!about.ok || !about.data) return;
  $('about-version').textContent = about.data.versionLine;
  // "Вихід з програми" only for a process that was not started on demand
  for (const item of document.querySelectorAll('.exit-only')) item.hidden = about.data.startedOnDemand;
}

// ---- connection list ----

function renderConnections(doc) {
  const body = $('connections').tBodies[0];
  body.replaceChildren(...(doc.rows || []).map((row) =>
    el('tr', {}, ...row.map((cell) => el('td', { text: cell })))));
}

async function refreshConnections() {
  const res = await api('GET', '/api/v1/connections');
  if (res.ok && res.data) renderConnections(res.data);
  refreshReceipts();
}

// The receipts whose close was in doubt or that an earlier run left open, and how each was
// settled, newest first; hidden while there are none.
const RECEIPT_STATES = {
  closed: 'надруковано', 'not printed': 'не надруковано', aborted: 'скасовано',
  'in doubt': 'під сумнівом', open: 'відкрито', closing: 'закривається',
};

function renderReceipts(doc) {
  const receipts = (doc && doc.receipts) || [];
  $('receipts-box').hidden = receipts.length === 0;
  $('receipts-error').hidden = true;
  $('receipts').tBodies[0].replaceChildren(...receipts.map((r) => el('tr', {},
    el('td', { text: 'COM' + r.port }),
    el('td', { text: RECEIPT_STATES[r.state] || r.state }),
    el('td', { text: r.state === 'closed' ? (r.total / 100).toFixed(2) : '' }),
    el('td', { text: r.settled }),
    el('td', { text: r.updated }))));
}

async function refreshReceipts() {
  const res = await api('GET', '/api/v1/receipts');
  if (res.ok && res.data) return renderReceipts(res.data);
  // a journal the server cannot read is said so: the list would look as if nothing were left
  if (res.status >= 500 && res.data && res.data.error) {
    $('receipts-error').textContent = res.data.error;
    $('receipts-error').hidden = false;
    $('receipts-box').hidden = false;
  }
}

// ---- options page ----

// The settings as last read from the server: Встановити sends only what the operator changed
// against them, so that a page that has not seen another page's change does not undo it.
let loadedSettings = null;
let settingsReads = 0;

function typedDays() {
  const text = $('keep-days').value.trim();
  return /^[0-9]{1,10}$/.test(text) ? Number(text) : NaN;
}

// Shows the server's values; a field the operator has changed since the last read keeps what
// they typed, unless `all`.
function showSettings(values, all) {
  const save = $('save-to-log');
  const before = loadedSettings;
  if (all || !before || save.checked === before.SaveToLog) save.checked = Boolean(values.SaveToLog);
  if (all || !before || typedDays() === before.KeepLogFiles) $('keep-days').value = String(values.KeepLogFiles);
  loadedSettings = { SaveToLog: Boolean(values.SaveToLog), KeepLogFiles: Number(values.KeepLogFiles) };
  $('keep-days').disabled = !save.checked;
}

async function loadSettings() {
  const read = ++settingsReads;
  const res = await api('GET', '/api/v1/settings');
  // an answer overtaken by a later read or a save is stale
  if (read !== settingsReads) return;
  const box = $('options-error');
  if (!res.ok || !res.data) {
    // the server could not read its settings: the fields would show values it does not use
    if (res.status >= 400) {
      optionsError(res.data && res.data.error ? res.data.error : 'HTTP ' + res.status);
      box.dataset.read = '1';
    }
    return;
  }
  if (box.dataset.read) {
    delete box.dataset.read;
    optionsError('');
  }
  showSettings(res.data, false);
}

function optionsError(text) {
  const box = $('options-error');
  box.textContent = text || '';
  box.hidden = !text;
  $('keep-days').setAttribute('aria-invalid', String(Boolean(text)));
}

async function applySettings() {
  const field = $('keep-days');
  const days = typedDays();
  if (!(days >= 2 && days <= 4096)) {
    optionsError('Введіть ціле число від 2 до 4096.');
    field.disabled = false;
    field.focus();
    return;
  }
  const save = $('save-to-log').checked;
  const changed = {};
  if (!loadedSettings || save !== loadedSettings.SaveToLog) changed.SaveToLog = save;
  if (!loadedSettings || days !== loadedSettings.KeepLogFiles) changed.KeepLogFiles = days;
  if (Object.keys(changed).length === 0) {
    optionsError('');
    return;
  }
  ++settingsReads;
  const res = await api('PUT', '/api/v1/settings', changed);
  if (!res.ok) {
    optionsError(res.data && res.data.error ? res.data.error : 'HTTP ' + res.status);
    field.focus();
    return;
  }
  // the answer is the file as it is now, with what another page saved
  if (res.data) showSettings(res.data, true);
  optionsError('');
}

function setupOptions() {
  $('save-to-log').addEventListener('change', () => {
    $('keep-days').disabled = !$('save-to-log').checked;
  });
  $('apply').addEventListener('click', applySettings);
}

// ---- status windows ----

const statusWindows = new Map();  // port -> element

function showStatus(doc) {
  if (doc.closed || doc.shown === false) {
    const box = statusWindows.get(doc.port);
    if (box) box.remove();
    statusWindows.delete(doc.port);
    return;
  }
  let box = statusWindows.get(doc.port);
  if (!box) {
    box = el('div', { class: 'status-window', 'data-port': String(doc.port), role: 'status' },
      el('div', { class: 'title' }),
      el('div', { class: 'lower' }, el('span', { class: 'goods' }), el('span', { class: 'sum' })));
    statusWindows.set(doc.port, box);
    $('status-windows').append(box);
  }
  for (const line of ['title', 'goods', 'sum']) {
    const part = box.querySelector('.' + line);
    part.textContent = doc[line] || '';
    part.hidden = !doc[line];  // an empty line is not shown
  }
}

function replaceStatusWindows(windows) {
  for (const box of statusWindows.values()) box.remove();
  statusWindows.clear();
  for (const w of windows || []) showStatus(w);
}

// ---- prompts: message boxes, connect dialog, information window ----

const prompts = new Map();  // id -> {dialog, doc}

async function answer(id, body) {
  return api('POST', '/api/v1/prompts/' + encodeURIComponent(id), body);
}

function closePrompt(id) {
  const p = prompts.get(id);
  if (!p) return;
  prompts.delete(id);
  if (p.timer) clearInterval(p.timer);
  if (!p.dialog) return;  // closed while the port list was read
  if (p.dialog.open) p.dialog.close();
  p.dialog.remove();
}

// Sends the button; the dialog closes when the server says the prompt closed (on every page).
async function press(id, button) {
  const res = await answer(id, { button });
  if (res.status === 404) closePrompt(id);  // already closed elsewhere
  return res;
}

function messageBox(doc) {
  const dialog = $('message-template').content.firstElementChild.cloneNode(true);
  dialog.classList.add(doc.style);
  dialog.querySelector('.text').textContent = doc.text;
  const buttons = dialog.querySelector('.buttons');
  for (const b of doc.buttons) {
    const button = el('button', { type: 'button', 'data-button': b, text: BUTTON_TEXT[b] || b });
    if (b === doc.buttons[0]) button.classList.add('default');
    button.addEventListener('click', () => press(doc.id, b));
    buttons.append(button);
  }
  // Enter presses the first button (OK or Retry); Escape is OK for an OK box and Cancel for
  // Retry/Cancel, as a message box on the desktop does.
  const escape = doc.buttons.includes('Cancel') ? 'Cancel' : 'OK';
  dialog.addEventListener('cancel', (e) => {
    e.preventDefault();
    press(doc.id, escape);
  });
  dialog.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && !(e.target instanceof HTMLButtonElement)) {
      e.preventDefault();
      press(doc.id, doc.buttons[0]);
    }
  });
  return dialog;
}

async function connectDialog(doc) {
  const dialog = $('connect-template').content.firstElementChild.cloneNode(true);
  const form = dialog.querySelector('form');
  const select = dialog.querySelector('.port');
  const cashier = dialog.querySelector('.cashier');
  const password = dialog.querySelector('.password');
  const error = dialog.querySelector('.error');
  const ids = 'c' + doc.id;
  for (const [cls, field] of [['port', select], ['cashier', cashier], ['password', password]]) {
    field.id = ids + '-' + cls;
    dialog.querySelector('.' + cls + '-label').setAttribute('for', field.id);
  }
  cashier.maxLength = doc.cashierLimit;
  password.maxLength = doc.passwordLimit;
  cashier.value = doc.cashier || '';
  const own = 'COM' + doc.port;
  let names;
  if (doc.portFixed) {
    // a port given by the client is the only choice
    names = [doc.portName];
    select.disabled = true;
  } else {
    const res = await api('GET', '/api/v1/ports');
    names = res.ok && res.data ? res.data.ports.slice() : [];
    if (!names.includes(own)) names.push(own);
    names.sort();
  }
  for (const name of names) select.append(el('option', { value: name, text: name }));
  select.value = doc.portFixed ? doc.portName : own;

  const showError = (text) => {
    error.textContent = text || '';
    error.hidden = !text;
  };
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    const fields = { port: select.value, cashier: cashier.value, password: password.value };
    if (fields.port.length > doc.portNameLimit || fields.cashier.length > doc.cashierLimit ||
        fields.password.length > doc.passwordLimit) {
      showError('Ім\'я касира: до ' + doc.cashierLimit + ' символів, пароль: до ' + doc.passwordLimit + '.');
      return;
    }
    const res = await answer(doc.id, Object.assign({ button: 'OK' }, fields));
    if (res.status === 404) closePrompt(doc.id);
    else if (!res.ok) showError(res.data && res.data.error ? res.data.error : 'HTTP ' + res.status);
  });
  dialog.querySelector('.cancel').addEventListener('click', () => press(doc.id, 'Cancel'));
  dialog.addEventListener('cancel', (e) => {
    e.preventDefault();
    press(doc.id, 'Cancel');
  });
  return dialog;
}

function infoWindow(doc, entry) {
  const dialog = $('info-template').content.firstElementChild.cloneNode(true);
  const fill = (table, columns, rows) => {
    table.tHead.rows[0].replaceChildren(...columns.map((c) => el('th', { text: c })));
    table.tBodies[0].replaceChildren(...rows.map((r) => el('tr', {}, ...r.map((c) => el('td', { text: c })))));
  };
  fill(dialog.querySelector('.fiscal'), doc.fiscalColumns, doc.fiscal);
  fill(dialog.querySelector('.taxes'), doc.taxColumns, doc.taxes);
  const countdown = dialog.querySelector('.countdown');
  // The server closes the window when the time is up; the page only shows the seconds.
  let left = Math.min(10, Math.max(1, Math.ceil((doc.closesInMs === undefined ? 10000 : doc.closesInMs) / 1000)));
  const write = () => { countdown.textContent = COUNTDOWN_FORMAT.replace('%d', String(left)); };
  write();
  if (doc.countdownStopped || doc.closesInMs === undefined) {
    countdown.hidden = true;
  } else {
    entry.timer = setInterval(() => {
      if (left > 1) left -= 1;
      write();
    }, 1000);
  }
  countdown.addEventListener('click', async () => {
    stopCountdown(doc.id);
    await answer(doc.id, { stopCountdown: true });
  });
  dialog.querySelector('.ok').addEventListener('click', () => press(doc.id, 'OK'));
  dialog.addEventListener('cancel', (e) => {
    e.preventDefault();
    press(doc.id, 'OK');
  });
  return dialog;
}

function stopCountdown(id) {
  const p = prompts.get(id);
  if (!p) return;
  if (p.timer) clearInterval(p.timer);
  p.timer = null;
  if (!p.dialog) return;
  const button = p.dialog.querySelector('.countdown');
  if (button) {
    if (button === document.activeElement) p.dialog.querySelector('.ok').focus();
    button.hidden = true;
  }
}

async function openPrompt(doc) {
  if (prompts.has(doc.id)) return;
  const entry = { dialog: null, doc, timer: null };
  prompts.set(doc.id, entry);
  let dialog;
  if (doc.kind === 'connect') dialog = await connectDialog(doc);
  else if (doc.kind === 'info') dialog = infoWindow(doc, entry);
  else dialog = messageBox(doc);
  if (prompts.get(doc.id) !== entry) return;  // closed while the port list was read
  dialog.dataset.prompt = doc.id;
  dialog.dataset.kind = doc.kind;
  entry.dialog = dialog;
  document.body.append(dialog);
  dialog.showModal();
  const first = dialog.querySelector('.default:not([hidden])');
  if (doc.kind === 'connect') dialog.querySelector('.cashier').focus();
  else if (first) first.focus();
}

function replacePrompts(list) {
  const open = new Set((list || []).map((p) => p.id));
  for (const id of [...prompts.keys()]) if (!open.has(id)) closePrompt(id);
  for (const p of list || []) openPrompt(p);
}

// ---- recent messages ----

function renderRecent(list) {
  const items = (list || []).filter((m) => m.kind === 'message').slice(-10).reverse();
  $('recent-list').replaceChildren(...items.map((m) =>
    el('li', { class: m.style }, el('span', { class: 'text', text: m.text }), ' ',
      el('span', { class: 'answer', text: '(' + (BUTTON_TEXT[m.answer] || m.answer) + ')' }))));
  $('recent').hidden = items.length === 0;
}

const recent = [];

// ---- the event stream ----

// What the page does with each event of the stream, and with the stream's opening and loss; every
// tab runs it, whether it holds the stream or has the events from the tab that does.
const handlers = {
  open() { $('banner').hidden = true; },
  down() {
    $('banner').hidden = false;
    document.body.dataset.stream = 'down';
  },
  state(state) {
    $('banner').hidden = true;
    document.body.dataset.stream = 'live';
    replaceStatusWindows(state.windows);
    replacePrompts(state.prompts);
    recent.splice(0, recent.length, ...(state.recentMessages || []));
    renderRecent(recent);
    loadAbout();
    // another page may have changed the settings while this one was away
    loadSettings();
  },
  connections(doc) {
    renderConnections(doc);
    refreshReceipts();
  },
  status: showStatus,
  prompt: openPrompt,
  promptChanged(change) { if (change.countdownStopped) stopCountdown(change.id); },
  promptClosed(closed) {
    const p = prompts.get(closed.id);
    if (p) recent.push(Object.assign({}, p.doc, { answer: closed.answer, reason: closed.reason }));
    closePrompt(closed.id);
    renderRecent(recent);
  },
};
const STREAM_EVENTS = ['state', 'connections', 'status', 'prompt', 'promptChanged', 'promptClosed'];

function handle(name, data) {
  if (Object.prototype.hasOwnProperty.call(handlers, name)) handlers[name](data);
}

let stream = null;
let retryTimer = null;

// Opens the stream and gives `deliver` each of its events, its opening and its loss.
function connectEvents(deliver) {
  if (retryTimer) clearTimeout(retryTimer);
  retryTimer = null;
  if (stream) stream.close();
  const source = new EventSource('/api/v1/events');
  stream = source;
  for (const name of STREAM_EVENTS) {
    source.addEventListener(name, (e) => {
      let data = null;
      try { data = JSON.parse(e.data); } catch (err) { return; }
      deliver(name, data);
    });
  }
  source.addEventListener('open', () => deliver('open', null));
  source.addEventListener('error', () => {
    deliver('down', null);
    // a refused stream (503) is not retried by the browser: try again a little later
    if (source.readyState === EventSource.CLOSED) retryTimer = setTimeout(() => connectEvents(deliver), 2000);
  });
}

// ---- one stream for all the tabs of a browser ----
// The browser keeps six connections to a server, and a stream holds one for good: with a stream
// in each of six tabs, no tab could answer a prompt. So the tab that holds the lock keeps the one
// stream and passes its events to the other tabs over a channel; when that tab closes, the lock,
// and with it the stream, goes to another tab. A tab that opens asks the holder what the stream
// has said so far. The server counts the one stream as a watching page.

// What the stream has said, as the holder keeps it for the tabs that open later.
const seen = { live: false, down: false, connections: null, windows: new Map(), prompts: new Map() };

function remember(name, data) {
  if (name === 'down') {
    seen.live = false;
    seen.down = true;
  } else if (name === 'state') {
    seen.live = true;
    seen.down = false;
    seen.windows = new Map((data.windows || []).map((w) => [w.port, w]));
    seen.prompts = new Map((data.prompts || []).map((p) => [p.id, { doc: p, at: Date.now() }]));
  } else if (name === 'connections') {
    seen.connections = data;
  } else if (name === 'status') {
    if (data.closed) seen.windows.delete(data.port);
    else seen.windows.set(data.port, data);
  } else if (name === 'prompt') {
    seen.prompts.set(data.id, { doc: data, at: Date.now() });
  } else if (name === 'promptChanged') {
    const p = seen.prompts.get(data.id);
    if (p && data.countdownStopped) {
      p.doc = Object.assign({}, p.doc, { countdownStopped: true });
      delete p.doc.closesInMs;
    }
  } else if (name === 'promptClosed') {
    seen.prompts.delete(data.id);
  }
}

// The state the server would give a stream opened now.
function stateNow() {
  const now = Date.now();
  const prompts = [...seen.prompts.values()].map(({ doc, at }) => (doc.closesInMs === undefined ? doc
    : Object.assign({}, doc, { closesInMs: Math.max(0, doc.closesInMs - (now - at)) })));
  return { windows: [...seen.windows.values()], prompts, recentMessages: recent.slice() };
}

function startEvents() {
  if (!navigator.locks || typeof BroadcastChannel !== 'function') {
    connectEvents(handle);  // each tab keeps a stream of its own
    return;
  }
  const self = crypto.randomUUID();
  const channel = new BroadcastChannel('vekta-events');
  let holder = false;
  channel.addEventListener('message', (e) => {
    const m = e.data || {};
    if (!holder) {
      if (!m.to || m.to === self) handle(m.name, m.data);
    } else if (m.hello) {
      // the tab that asks starts as if it had opened the stream
      const tell = (name, data) => channel.postMessage({ to: m.hello, name, data });
      if (seen.live) {
        tell('state', stateNow());
        if (seen.connections) tell('connections', seen.connections);
      } else if (seen.down) {
        tell('down', null);
      }
    }
  });
  channel.postMessage({ hello: self });
  navigator.locks.request('vekta-events', () => {
    holder = true;
    connectEvents((name, data) => {
      remember(name, data);
      channel.postMessage({ name, data });
      handle(name, data);
    });
    return new Promise(() => {});  // held while the tab lives
  }).catch(() => {
    if (holder) return;
    channel.close();
    connectEvents(handle);
  });
}

document.addEventListener('DOMContentLoaded', () => {
  setupMainWindow();
  setupOptions();
  if (window.TestClient) window.TestClient.setup();
  loadSettings();
  loadAbout();
  refreshConnections();
  startEvents();
});

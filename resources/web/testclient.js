// The built-in test client: an Orbis client of its own server (or of another one, through the
// VektaManager object's InitEx), for service engineers.
'use strict';

(function () {
  const $ = (id) => document.getElementById(id);
  const LOCAL_NAMES = ['', 'localhost', '127.0.0.1', '::1', '[::1]'];
  const LEASE_PING_MS = 60000;

  // app.js's request helper; called only once the page has loaded
  const request = (method, path, body) => api(method, path, body);

  function hresultName(hex) {
    const names = {
      '0x80004002': 'E_NOINTERFACE', '0x80004005': 'E_FAIL', '0x8000FFFF': 'E_UNEXPECTED',
      '0x80040154': 'REGDB_E_CLASSNOTREG', '0x80040155': 'REGDB_E_IIDNOTREG', '0x80070057': 'E_INVALIDARG',
    };
    const key = '0x' + String(hex || '').replace(/^0x/i, '').toUpperCase();
    return names[key] || key;
  }

  // One object of the object protocol, called like IOrbis: each call gives {ok, value}, where
  // value is the call's [out, retval] value. A remote printer is reached through a
  // VektaManager object whose InitEx names the other server; its members answer values.
  class Printer {
    constructor(id, remote) {
      this.id = id;
      this.remote = remote;
      this.ping = setInterval(() => request('POST', '/api/v1/objects/' + id + '/ping'), LEASE_PING_MS);
    }

    static async create(remote) {
      const res = await request('POST', '/api/v1/objects', { progid: remote ? 'VektaManager.Application' : 'VektaManager.Orbis' });
      if (res.status !== 201 || !res.data) {
        return { printer: null, hresult: res.data && res.data.hresult ? res.data.hresult : '0x800706BA' };
      }
      return { printer: new Printer(res.data.object, remote), hresult: '0x00000000' };
    }

    async call(member, args) {
      const res = await request('POST', '/api/v1/objects/' + this.id + '/call/' + member, args);
      if (!res.data) return { ok: false, value: undefined, error: 'HTTP ' + res.status };
      if (!res.ok) return { ok: false, value: undefined, error: hresultName(res.data.hresult), protocol: true };
      if (this.remote) {
        const value = res.data.value;
        return { ok: typeof value === 'string' ? true : value !== 0, value };
      }
      const out = res.data.out || {};
      const values = Object.values(out);
      return { ok: res.data.ok, value: values.length ? values[0] : undefined };
    }

    async release() {
      clearInterval(this.ping);
      await request('DELETE', '/api/v1/objects/' + this.id);
    }
  }

  let printer = null;
  let portNumber = 1;

  // A message box of the test client: only an OK button.
  function box(text, icon) {
    return new Promise((resolve) => {
      const dialog = $('message-template').content.firstElementChild.cloneNode(true);
      dialog.classList.add(icon === 'information' ? 'info-icon' : 'plain', 'test-client-box');
      dialog.querySelector('.text').textContent = text;
      const ok = document.createElement('button');
      ok.type = 'button';
      ok.className = 'default';
      ok.textContent = 'OK';
      const done = () => {
        dialog.close();
        dialog.remove();
        resolve();
      };
      ok.addEventListener('click', done);
      dialog.addEventListener('cancel', (e) => {
        e.preventDefault();
        done();
      });
      dialog.querySelector('.buttons').append(ok);
      document.body.append(dialog);
      dialog.showModal();
      ok.focus();
    });
  }

  function write(text) {
    const console = $('tc-console');
    const at = console.selectionStart;
    const inserted = text + '\r\n';
    console.value = console.value.slice(0, at) + inserted + console.value.slice(console.selectionEnd);
    console.selectionStart = console.selectionEnd = at + inserted.length;
  }

  // Runs one command; a refused request (a protocol error) ends it with the COM error text.
  async function guarded(command) {
    try {
      await command();
    } catch (e) {
      if (e && e.protocol) await box('[ERROR] COM error while accessing the VektaManager server: ' + e.error + '\n');
      else throw e;
    }
  }

  async function must(p, member, args) {
    const r = await p.call(member, args);
    if (r.protocol) throw r;
    return r;
  }

  async function lock(p) {
    const r = await must(p, 'LockPrinter', [3000]);
    if (!r.ok) await box('Unable to lock printer. Printer is locked by another application');
    return r.ok;
  }

  function enterPort() {
    return new Promise((resolve) => {
      const dialog = $('enter-port');
      const port = $('ep-port');
      const server = $('ep-server');
      const error = $('ep-error');
      port.value = String(portNumber);
      server.value = '\\\\localhost';
      error.hidden = true;
      const finish = (result) => {
        form.removeEventListener('submit', submit);
        $('ep-cancel').removeEventListener('click', cancel);
        dialog.removeEventListener('cancel', escape);
        dialog.close();
        resolve(result);
      };
      const form = $('enter-port-form');
      const submit = (e) => {
        e.preventDefault();
        const n = /^[0-9]{1,10}$/.test(port.value.trim()) ? Number(port.value.trim()) : NaN;
        if (!(n >= 1 && n <= 16)) {
          error.textContent = 'Введіть ціле число від 1 до 16.';
          error.hidden = false;
          port.focus();
          return;
        }
        finish({ port: n, server: server.value });
      };
      const cancel = () => finish(null);
      const escape = (e) => {
        e.preventDefault();
        finish(null);
      };
      form.addEventListener('submit', submit);
      $('ep-cancel').addEventListener('click', cancel);
      dialog.addEventListener('cancel', escape);
      dialog.showModal();
      port.focus();
      port.select();
    });
  }

  async function drop() {
    if (!printer) return;
    const p = printer;
    printer = null;
    // the release detaches the client; Done is not called
    await p.release();
  }

  async function connect() {
    await drop();
    const entered = await enterPort();
    if (!entered) return;
    const host = entered.server.replace(/^\\+/, '');
    const remote = !LOCAL_NAMES.includes(host.toLowerCase()) && host !== location.hostname;
    const created = await Printer.create(remote);
    if (!created.printer) {
      await box('CoCreateInstanceEx failed: 0x' + created.hresult.replace(/^0x/i, '').toUpperCase() + '\n');
      return;
    }
    printer = created.printer;
    portNumber = entered.port;
    const args = [portNumber, 'Kassir123456789', '7777777777', 0, 'VektaManTester'];
    const init = remote ? await printer.call('InitEx', args.concat([entered.server])) : await printer.call('Init', args);
    if (!init.ok) await box('Init failed');
  }

  async function showPort() {
    if (!printer) return;
    const r = await must(printer, 'GetPortNumber', []);
    await box('Port number is ' + (r.value === undefined ? 0 : r.value), 'information');
  }

  async function send() {
    const command = $('tc-command').value;
    if (!printer) return;
    const p = printer;
    if (!(await lock(p))) return;
    const sent = await must(p, 'LowSendMessageToPrinter', [command]);
    if (!sent.ok) {
      await box('Unable to send message to printer');
    } else {
      // bounded: a printer that keeps talking stops after this many replies
      for (let i = 0; i < 1000; ++i) {
        const r = await must(p, 'LowGetNextPendingPrinterMessage', [3000]);
        const reply = r.ok && typeof r.value === 'string' ? r.value : '';
        if (!r.ok) await box('[ERROR] Faled to retrieve LowGetNextPendingPrinterMessage');
        if (reply) write(reply);
        if (!reply || reply.toUpperCase() === 'READY') break;
      }
    }
    await must(p, 'UnlockPrinter', []);
  }

  async function fetchXml() {
    if (!printer) return;
    const p = printer;
    if (!(await lock(p))) return;
    const r = await must(p, 'GetPrinterConfigXML', [0]);
    if (r.ok) {
      if (r.value) write(r.value);
    } else {
      await box('[ERROR] Faled to retrieve GetPrinterConfigXML');
    }
    await must(p, 'UnlockPrinter', []);
  }

  const LINE = ['Колбаска', 2, 123, 0, 1, 0, 100, 0, '', 0];

  async function testReceipt() {
    if (!printer) return;
    const p = printer;
    if (!(await lock(p))) return;
    // the server reports printer errors itself; the results are not looked at
    await must(p, 'OpenCheck', ['Бакалея']);
    await must(p, 'FiscalLineEx', LINE);
    await must(p, 'SetCurrentCheckDirection', [0]);
    await must(p, 'FiscalLineEx', [LINE[0], 1].concat(LINE.slice(2)));
    await must(p, 'CloseCheck', []);
    await must(p, 'UnlockPrinter', []);
  }

  async function connectPrintDisconnect() {
    const created = await Printer.create(false);
    if (!created.printer) return;
    const p = created.printer;
    try {
      const init = await must(p, 'Init', [1, 'Test', '7777777777', 1, 'Test App']);
      if (!init.ok) {
        await box('Init failed');
        return;
      }
      const locked = await must(p, 'LockPrinter', [3000]);
      if (!locked.ok) {
        await box('Принтер занят другим приложением');
        return;
      }
      let sum = 0;
      const opened = await must(p, 'OpenCheck', ['Бакалея']);
      if (opened.ok) {
        await must(p, 'FiscalLineEx', [LINE[0], 1].concat(LINE.slice(2)));
        const closed = await must(p, 'CloseCheck', []);
        sum = typeof closed.value === 'number' ? closed.value : 0;
        await must(p, 'PutToDisplay', ['СУМА', (sum * 0.01).toFixed(2)]);
      }
      await must(p, 'UnlockPrinter', []);
    } finally {
      await p.release();
    }
  }

  function setup() {
    const dialog = $('test-client');
    const bind = (id, command) => $(id).addEventListener('click', () => guarded(command));
    $('open-test-client').addEventListener('click', () => {
      dialog.showModal();
      $('tc-connect').focus();
    });
    bind('tc-connect', connect);
    bind('tc-port', showPort);
    bind('tc-disconnect', drop);
    bind('tc-xml', fetchXml);
    bind('tc-receipt', testReceipt);
    bind('tc-cpd', connectPrintDisconnect);
    $('tc-send-form').addEventListener('submit', (e) => {
      e.preventDefault();
      guarded(send);
    });
    const close = async () => {
      await drop();
      dialog.close();
    };
    $('tc-close').addEventListener('click', close);
    dialog.addEventListener('cancel', (e) => {
      e.preventDefault();
      close();
    });
  }

  window.TestClient = { setup };
})();

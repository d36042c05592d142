// A web POS: the page's own script prints a receipt on the VektaManager server with fetch.
//
// The page comes from its own web server, not from VektaManager, for example
//   python3 -m http.server 8000 --bind 127.0.0.1 --directory examples
//   http://127.0.0.1:8000/web-pos.html?server=http://127.0.0.1:8460
// so its requests are cross-origin: the browser sends each with "Origin: http://127.0.0.1:8000"
// and asks first (a CORS preflight) before a JSON POST. The server refuses, with 403, every
// request from an origin it does not name, so that another web page the cashier opens cannot
// print receipts. Name the POS page's origin in the server's settings:
//   [Server]
//   AllowedOrigins=http://127.0.0.1:8000
// (comma-separated for several; the server's own page is always allowed).
'use strict';

class VektaServer {
  constructor(base, token = '') {
    this.base = base.replace(/\/+$/, '');
    this.token = token;
    this.keyPrefix = (globalThis.crypto && crypto.randomUUID)
      ? crypto.randomUUID() : String(Date.now()) + '-' + Math.random().toString(16).slice(2);
    this.calls = 0;
  }

  async request(method, path, body, headers = {}) {
    const init = { method, headers: { ...headers }, signal: AbortSignal.timeout(180000) };
    if (this.token) init.headers.Authorization = 'Bearer ' + this.token;
    if (body !== undefined) {
      init.headers['Content-Type'] = 'application/json';
      init.body = JSON.stringify(body);
    }
    const res = await fetch(this.base + path, init);
    const text = await res.text();
    let data = null;
    try { data = text ? JSON.parse(text) : null; } catch (e) { data = text; }
    if (!res.ok) {
      const error = new Error((data && data.error) || 'HTTP ' + res.status);
      error.status = res.status;
      error.hresult = data && data.hresult;
      throw error;
    }
    return data;
  }

  async create(progid = 'VektaManager.Orbis') {
    return (await this.request('POST', '/api/v1/objects', { progid })).object;
  }

  // An Orbis call: its [out] value, or an error with its HRESULT. Each call has a key of its
  // own; when the answer is lost on the way it is sent once more with the same key, and the
  // server answers from its record instead of printing the line again.
  async call(object, member, args = []) {
    const path = '/api/v1/objects/' + object + '/call/' + member;
    const headers = { 'Idempotency-Key': this.keyPrefix + '-' + (++this.calls) };
    let answer;
    try {
      answer = await this.request('POST', path, args, headers);
    } catch (e) {
      if (e.status !== undefined) throw e; // the server answered: nothing was lost
      answer = await this.request('POST', path, args, headers);
    }
    if (!answer.ok) {
      const error = new Error(member + ' failed: ' + answer.hresultName);
      error.hresult = answer.hresult;
      throw error;
    }
    const values = Object.values(answer.out);
    return values.length ? values[0] : null;
  }

  async release(object) {
    await this.request('DELETE', '/api/v1/objects/' + object);
  }
}

// Prints `lines` ({name, qty, price, article}; prices in kopecks) on the printer of COM `port`
// and pays `cash` (0: the receipt's sum).
async function printReceipt(server, port, lines, cash = 0, cashier = ['Касир', '7777777777']) {
  const object = await server.create();
  try {
    await server.call(object, 'Init', [port, cashier[0], cashier[1], 0, 'web-pos']);
    await server.call(object, 'OpenCheck', { DepartmentName: 'Бакалея' });
    const sums = [];
    try {
      for (const l of lines) {
        sums.push(await server.call(object, 'FiscalLine',
          [l.name, l.qty, l.price, 0, 1, 0, l.article]));
      }
    } catch (e) {
      await server.call(object, 'AbortCheck').catch(() => {});
      throw e;
    }
    const total = await server.call(object, 'GetCheckSum');
    await server.call(object, 'CloseCheckEx', [Math.max(cash, total), 0, 0, 0]);
    return { sums, total, result: await server.call(object, 'GetCheckResult') };
  } finally {
    await server.release(object).catch(() => {});
  }
}

// The page.
if (typeof document !== 'undefined') {
  const $ = (id) => document.getElementById(id);
  const query = new URLSearchParams(location.search);
  $('server').value = query.get('server') || 'http://127.0.0.1:8460';
  $('port').value = query.get('port') || '1';
  const money = (kopecks) => (kopecks / 100).toFixed(2);

  $('sale').addEventListener('submit', async (event) => {
    event.preventDefault();
    const lines = [];
    for (const row of document.querySelectorAll('#goods tbody tr')) {
      const qty = Number(row.querySelector('input').value);
      if (qty > 0) {
        lines.push({ name: row.dataset.name, qty, price: Number(row.dataset.price),
          article: Number(row.dataset.article) });
      }
    }
    document.body.dataset.state = 'printing';
    $('result').textContent = 'Друкування чека...';
    try {
      const server = new VektaServer($('server').value);
      const receipt = await printReceipt(server, Number($('port').value), lines,
        Math.round(Number($('cash').value) * 100));
      $('result').textContent = 'Чек № ' + receipt.result.split(';')[0] + ', сума ' +
        money(receipt.total);
      document.body.dataset.state = 'done';
    } catch (e) {
      // a browser tells a refused cross-origin request only as a failed fetch
      $('result').textContent = 'Помилка: ' + e.message + (e.hresult ? ' (' + e.hresult + ')' : '');
      document.body.dataset.state = 'failed';
    }
  });
}

if (typeof module !== 'undefined') module.exports = { VektaServer, printReceipt };

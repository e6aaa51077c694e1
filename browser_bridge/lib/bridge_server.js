'use strict';
// The bridge between pages in a real browser and the headless host: serves
// pages (each HTML page gets the page-side shim), and turns the shim's
// synchronous requests into host requests. A call's answer carries the page
// callbacks the module made during it, in order, so the shim can run them
// before the call returns to page script. What happens outside a call
// (javascript: URLs from the module, later callbacks) reaches the page over
// its event stream.
const { EventEmitter } = require('node:events');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');

const protocol = require('./protocol');
const { Sessions } = require('./sessions');

const API = '/halvo-bridge/';
const SHIM = path.join(__dirname, '..', 'page', 'shim.js');
const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.htm': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.md': 'text/plain; charset=utf-8',
  '.txt': 'text/plain; charset=utf-8',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
};
const SHIM_TAG = '<script src="/halvo-bridge/shim.js"></script>';

class RequestError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

class BridgeServer extends EventEmitter {
  // roots: [{ prefix: '/demo/', dir }]; index: the address '/' leads to.
  constructor({ host, roots = [], index = null, log = () => {} }) {
    super();
    this.host = host;
    this.roots = roots;
    this.index = index;
    this.log = log;
    this.sessions = new Sessions();
    this.streams = new Set();
    this.server = http.createServer((request, response) => this._serve(request, response));
    host.on('geturl', (event) => this._geturl(event));
    host.on('callback', (event) => {
      if (event.seq === 0) this._laterCallback(event.fn, event.args);
    });
    host.on('released', (value, duringRequest) => {
      if (!duringRequest) this._released(value);
    });
    for (const kind of ['fault', 'unsupported', 'note']) host.on(kind, (text) => this.log(`host ${kind}: ${text}`));
  }

  listen(port = 0) {
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(port, '127.0.0.1', () => {
        this.port = this.server.address().port;
        this.origin = `http://127.0.0.1:${this.port}`;
        resolve(this.origin);
      });
    });
  }

  async close() {
    for (const session of [...this.sessions.byId.values()]) await this._closeSession(session).catch(() => {});
    for (const stream of this.streams) stream.destroy();
    const closed = new Promise((resolve) => this.server.close(resolve));
    // Kept-alive connections of pages and tools would hold the close for seconds.
    this.server.closeAllConnections();
    await closed;
  }

  // ---- routing ---------------------------------------------------------------

  async _serve(request, response) {
    try {
      const url = new URL(request.url, 'http://127.0.0.1');
      if (url.pathname.startsWith(API)) {
        await this._api(url, request, response);
      } else if (request.method === 'GET' || request.method === 'HEAD') {
        this._static(url, request, response);
      } else {
        throw new RequestError(405, 'method not allowed');
      }
    } catch (error) {
      const status = error instanceof RequestError ? error.status : 500;
      if (status === 500) this.log(`bridge: ${error.stack || error}`);
      if (!response.headersSent) {
        response.writeHead(status, { 'Content-Type': 'application/json' });
        response.end(JSON.stringify({ error: String(error.message || error) }));
      } else {
        response.end();
      }
    }
  }

  _static(url, request, response) {
    if (url.pathname === '/' && this.index) {
      response.writeHead(302, { Location: this.index });
      return response.end();
    }
    const root = this.roots.find((candidate) => url.pathname.startsWith(candidate.prefix));
    if (!root) throw new RequestError(404, 'not found');
    let relative;
    try {
      relative = decodeURIComponent(url.pathname.slice(root.prefix.length));
    } catch {
      throw new RequestError(400, 'bad path');
    }
    if (relative === '' || relative.endsWith('/')) relative += 'index.html';
    const file = path.resolve(root.dir, relative);
    if (!file.startsWith(path.resolve(root.dir) + path.sep) || relative.includes('\0')) throw new RequestError(404, 'not found');
    if (!fs.existsSync(file) || !fs.statSync(file).isFile()) throw new RequestError(404, 'not found');
    const extension = path.extname(file).toLowerCase();
    let body = fs.readFileSync(file);
    if (extension === '.html' || extension === '.htm') body = Buffer.from(injectShim(body.toString('utf8')), 'utf8');
    response.writeHead(200, {
      'Content-Type': TYPES[extension] || 'application/octet-stream',
      'Content-Length': body.length,
      'Cache-Control': 'no-store',
    });
    response.end(request.method === 'HEAD' ? undefined : body);
  }

  async _api(url, request, response) {
    const route = url.pathname.slice(API.length);
    if (request.method === 'GET' && route === 'shim.js') {
      const body = fs.readFileSync(SHIM);
      response.writeHead(200, { 'Content-Type': TYPES['.js'], 'Cache-Control': 'no-store' });
      return response.end(body);
    }
    if (request.method === 'GET' && route === 'events') return this._eventStream(url, request, response);
    if (request.method === 'GET' && route === 'ledger') return this._reply(response, await this.ledger());
    if (request.method !== 'POST') throw new RequestError(405, 'method not allowed');
    this._checkOrigin(request);
    const body = await readJson(request);
    if (route === 'session') return this._reply(response, this._newSession(request));
    const session = this.sessions.get(String(body.session));
    if (!session) throw new RequestError(410, 'no such page session');
    session.lastSeen = Date.now();
    switch (route) {
      case 'new':
        return this._reply(response, await this._new(session, body));
      case 'has':
        return this._reply(response, await this._has(session, body));
      case 'get':
        return this._reply(response, await this._get(session, body));
      case 'call':
        return this._reply(response, await this._call(session, body));
      case 'destroy':
        return this._reply(response, await this._destroy(session, body));
      case 'close':
        await this._closeSession(session);
        return this._reply(response, { ok: true });
      default:
        throw new RequestError(404, 'no such request');
    }
  }

  // Only pages this bridge served may drive the module.
  _checkOrigin(request) {
    const origin = request.headers.origin;
    if (origin !== undefined && origin !== this.origin) throw new RequestError(403, 'foreign origin');
    const type = String(request.headers['content-type'] || '');
    if (!type.startsWith('application/json') && !type.startsWith('text/plain')) throw new RequestError(415, 'JSON only');
  }

  _reply(response, value) {
    const body = JSON.stringify(value);
    response.writeHead(200, { 'Content-Type': 'application/json', 'Cache-Control': 'no-store' });
    response.end(body);
  }

  // ---- page sessions ---------------------------------------------------------

  _newSession() {
    const session = this.sessions.create(this.origin);
    return { session: session.id, types: this.host.plugins.flatMap((plugin) => plugin.types) };
  }

  _eventStream(url, request, response) {
    const session = this.sessions.get(String(url.searchParams.get('session')));
    if (!session) throw new RequestError(410, 'no such page session');
    response.writeHead(200, {
      'Content-Type': 'text/event-stream',
      'Cache-Control': 'no-store',
      Connection: 'keep-alive',
    });
    response.write(': halvo bridge\n\n');
    this.streams.add(response);
    session.attach(response);
    // The page went (reload, navigation, closed tab): its instances go with it.
    request.on('close', () => {
      this.streams.delete(response);
      if (session.stream === response) this._closeSession(session).catch((error) => this.log(String(error)));
    });
  }

  async _closeSession(session) {
    if (session.closed) return;
    const elements = [...session.elements.keys()];
    this.sessions.close(session);
    for (const element of elements) await this._destroyElement(session, element).catch(() => {});
  }

  // ---- element requests ------------------------------------------------------

  _element(session, body) {
    const hostElement = session.elements.get(Number(body.element));
    if (hostElement === undefined) throw new RequestError(404, 'no such element');
    return hostElement;
  }

  async _new(session, body) {
    const pageElement = Number(body.element);
    if (!Number.isSafeInteger(pageElement) || session.elements.has(pageElement)) throw new RequestError(400, 'bad element id');
    const type = String(body.type || '').trim().toLowerCase();
    const known = this.host.plugins.some((plugin) => plugin.types.some((candidate) => candidate.toLowerCase() === type));
    if (!known) return { ok: false, message: `no plug-in for ${type}` };
    const clamp = (value, low, high) => Math.min(high, Math.max(low, Math.trunc(Number(value) || 0)));
    const attributes = Array.isArray(body.attributes) ? body.attributes : [];
    const pairs = [];
    for (const pair of attributes.slice(0, 256)) pairs.push(protocol.text(String(pair[0])), protocol.text(String(pair[1])));
    const hostElement = this.sessions.addElement(session, pageElement);
    const answer = await this.host.request('new', String(hostElement), protocol.text(type),
      String(clamp(body.x, -32767, 32767)), String(clamp(body.y, -32767, 32767)),
      String(clamp(body.width, 0, 65535)), String(clamp(body.height, 0, 65535)), ...pairs);
    if (answer.status !== 'ok' || answer.fields[0] !== '0') {
      this.sessions.removeElement(session, pageElement);
      if (answer.status !== 'ok') return { ok: false, message: errorText(answer) };
      return { ok: true, npError: Number(answer.fields[0]), np: null };
    }
    const scriptable = protocol.parseValue(answer.fields[1]);
    const np = scriptable && scriptable.type === 'np' ? scriptable.value : null;
    if (np !== null) session.scriptables.add(np);
    return { ok: true, npError: 0, np };
  }

  async _has(session, body) {
    const answer = await this.host.request('has', String(this._element(session, body)), protocol.text(String(body.name)));
    this._reports(session, answer);
    if (answer.status !== 'ok') return { method: false, property: false };
    return { method: answer.fields[0] === 'true', property: answer.fields[1] === 'true' };
  }

  async _get(session, body) {
    const answer = await this.host.request('get', String(this._element(session, body)), protocol.text(String(body.name)));
    return this._answer(session, answer);
  }

  async _call(session, body) {
    const hostElement = this._element(session, body);
    const args = Array.isArray(body.args) ? body.args : [];
    const fields = args.map((field) => this._toHost(session, field));
    const answer = await this.host.request('call', String(hostElement), protocol.text(String(body.name)), ...fields);
    return this._answer(session, answer);
  }

  // A call's or a property's answer, with the callbacks made and page objects released during it, in order.
  _answer(session, answer) {
    const { callbacks, released } = this._reports(session, answer);
    if (answer.status === 'ok') return { ok: true, value: this._toPage(session, answer.fields[0]), callbacks, released };
    return { ok: false, message: answer.status === 'failed' ? protocol.parseText(answer.fields[0] || "'").toString('utf8') : errorText(answer), callbacks, released };
  }

  // What a request caused for page objects: callbacks for this page (others' go to their streams) and releases.
  _reports(session, answer) {
    const callbacks = [];
    const released = [];
    for (const report of answer.reports) {
      if (report.kind === 'callback') {
        const fn = protocol.parseValue(report.fields[1]);
        const page = fn && this.sessions.pageObject(fn.value);
        if (!page) continue;
        const args = report.fields.slice(2).map((field) => this._toPage(page.session, field));
        if (page.session === session) callbacks.push({ fn: page.id, args });
        else page.session.send({ type: 'callback', fn: page.id, args });
      } else if (report.kind === 'released') {
        const value = protocol.parseValue(report.fields[0]);
        const page = value && this.sessions.releaseObject(value.value);
        if (!page) continue;
        if (page.session === session) released.push(`${page.type}:${page.id}`);
        else page.session.send({ type: 'released', object: `${page.type}:${page.id}` });
      }
    }
    return { callbacks, released };
  }

  async _destroy(session, body) {
    const pageElement = Number(body.element);
    this._element(session, body);
    return this._destroyElement(session, pageElement);
  }

  async _destroyElement(session, pageElement) {
    const hostElement = session.elements.get(pageElement);
    if (hostElement === undefined) return { ok: false };
    this.sessions.removeElement(session, pageElement);
    const answer = await this.host.request('destroy', String(hostElement));
    // Page objects the instance held were released during the destruction.
    for (const object of this._reports(session, answer).released) session.send({ type: 'released', object });
    if (answer.status !== 'ok') return { ok: false, message: errorText(answer) };
    return { ok: true, npError: Number(answer.fields[0]), forced: Number(answer.fields[1]) };
  }

  // ---- values ----------------------------------------------------------------

  // A value from the page, checked and given the host's object ids.
  _toHost(session, field) {
    const value = protocol.parseValue(String(field));
    if (!value) throw new RequestError(400, 'bad value');
    if (value.type === 'fn' || value.type === 'obj') return `${value.type}:${this.sessions.hostObject(session, value.type, value.value)}`;
    // A page may hand back only its own elements' objects.
    if (value.type === 'np') return session.scriptables.has(value.value) ? `np:${value.value}` : 'null';
    return protocol.formatValue(value);
  }

  _toPage(session, field) {
    const value = protocol.parseValue(field);
    if (!value) return 'void';
    if (value.type === 'fn' || value.type === 'obj') {
      const page = this.sessions.pageObject(value.value);
      return page && page.session === session ? `${page.type}:${page.id}` : 'null';
    }
    return field;
  }

  // ---- outside any call ------------------------------------------------------

  _geturl({ element, url }) {
    const owner = this.sessions.byElement.get(element);
    if (!owner) return;
    this.emit('geturl', { session: owner.session.id, element: owner.element, url });
    owner.session.send({ type: 'url', element: owner.element, url });
  }

  _laterCallback(fn, args) {
    const page = fn && this.sessions.pageObject(fn.value);
    if (!page) return;
    page.session.send({ type: 'callback', fn: page.id, args: args.map((field) => this._toPage(page.session, field)) });
  }

  _released(value) {
    const page = value && this.sessions.releaseObject(value.value);
    if (page) page.session.send({ type: 'released', object: `${page.type}:${page.id}` });
  }

  async ledger() {
    const host = this.host.exited ? this.host.finalLedger || {} : await this.host.ledger();
    let elements = 0;
    for (const session of this.sessions.byId.values()) elements += session.elements.size;
    return { host, sessions: this.sessions.byId.size, elements, pageObjects: this.sessions.byObject.size };
  }
}

function errorText(answer) {
  const field = answer.fields[0];
  const bytes = field ? protocol.parseText(field) : null;
  return bytes ? bytes.toString('utf8') : answer.fields.join(' ');
}

function injectShim(html) {
  if (html.includes('/halvo-bridge/shim.js')) return html;
  const head = /<head(\s[^>]*)?>/i.exec(html);
  if (head) return html.slice(0, head.index + head[0].length) + SHIM_TAG + html.slice(head.index + head[0].length);
  return SHIM_TAG + html;
}

function readJson(request, limit = 4 * 1024 * 1024) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    request.on('data', (chunk) => {
      size += chunk.length;
      if (size > limit) {
        reject(new RequestError(413, 'too large'));
        request.destroy();
      } else {
        chunks.push(chunk);
      }
    });
    request.on('end', () => {
      try {
        resolve(chunks.length ? JSON.parse(Buffer.concat(chunks).toString('utf8')) : {});
      } catch {
        reject(new RequestError(400, 'bad JSON'));
      }
    });
    request.on('error', reject);
  });
}

module.exports = { BridgeServer, injectShim };

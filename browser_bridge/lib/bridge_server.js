'use strict';
// The bridge between pages in a real browser and the headless host: serves
// pages (each HTML page gets the page-side shim), and turns the shim's
// synchronous requests into host requests. When the module calls one of the
// page's functions during a call, the host waits: the page's pending request
// is answered with the function to run, and the page sends its result in a
// new request, which the host hands to the module; calls the function makes
// meanwhile are served nested. What happens outside a call (javascript: URLs
// from the module, later callbacks) reaches the page over its event stream. Its doors: every request must name the bridge as its
// Host, and every POST must come from the bridge's own origin; a page's
// address is taken from the requests its browser made, never from what its
// script says.
const { EventEmitter } = require('node:events');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');

const { HostEnded, HostTimeout, within } = require('./host_process');
const { RequestError, checkBody, isRoute, readJson } = require('./page_requests');
const protocol = require('./protocol');
const { ServedPages, Sessions } = require('./sessions');

const API = '/halvo-bridge/';
const SHIM = path.join(__dirname, '..', 'page', 'shim.js');
const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.htm': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.md': 'text/plain; charset=utf-8',
  '.txt': 'text/plain; charset=utf-8',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
};

// How long a page waits for the host, how long a page without an event
// stream keeps its session, and how much may wait for one page.
const LIMITS = {
  hostCallMs: 30000,
  pageFunctionMs: 30000,
  idleSessionMs: 60000,
  maxQueuedEvents: 1000,
  maxBufferedBytes: 4 * 1024 * 1024,
};
const SWEEP_MS = 1000;

class BridgeServer extends EventEmitter {
  // roots: [{ prefix: '/demo/', dir }]; index: the address '/' leads to; limits: any of LIMITS.
  constructor({ host, roots = [], index = null, log = () => {}, limits = {} }) {
    super();
    this.host = host;
    this.roots = roots;
    this.index = index;
    this.log = log;
    this.limits = { ...LIMITS, ...limits };
    this.sessions = new Sessions(this.limits);
    this.servedPages = new ServedPages();
    this.streams = new Set();
    this.hostNames = new Set();
    this.sweeper = null;
    // A request without a Host is refused at the bridge's own door, as every other foreign one.
    this.server = http.createServer({ requireHostHeader: false }, (request, response) => this._serve(request, response));
    host.on('geturl', (event) => this._geturl(event));
    host.on('callback', (event) => {
      if (event.seq === 0) this._laterCallback(event.fn, event.args);
    });
    host.on('released', (value, duringRequest) => {
      if (!duringRequest) this._released(value);
    });
    for (const kind of ['fault', 'unsupported', 'note']) host.on(kind, (text) => this.log(`host ${kind}: ${text}`));
    host.on('unreadable', (line) => this.log(`host line dropped, not the protocol's: ${line.slice(0, 200)}`));
  }

  listen(port = 0) {
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(port, '127.0.0.1', () => {
        this.port = this.server.address().port;
        this.origin = `http://127.0.0.1:${this.port}`;
        // The names a browser on this machine reaches the bridge by (a default port goes unwritten).
        for (const name of ['127.0.0.1', 'localhost']) {
          this.hostNames.add(`${name}:${this.port}`);
          if (this.port === 80) this.hostNames.add(name);
        }
        this.sweeper = setInterval(() => this._sweep(), SWEEP_MS);
        this.sweeper.unref();
        resolve(this.origin);
      });
    });
  }

  async close() {
    clearInterval(this.sweeper);
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
      const host = this._checkDoors(request);
      const url = parseAddress(request.url);
      if (url.pathname.startsWith(API)) {
        await this._api(url, request, response);
      } else if (request.method === 'GET' || request.method === 'HEAD') {
        this._static(url, host, request, response);
      } else {
        throw new RequestError(405, 'method not allowed');
      }
    } catch (error) {
      this._fail(response, error);
    }
  }

  // A short reason for the page; what went wrong inside stays in the bridge's log.
  _fail(response, error) {
    let status = 500;
    let message = 'the bridge failed (see its log)';
    if (error instanceof RequestError) {
      [status, message] = [error.status, error.message];
    } else if (error instanceof HostTimeout) {
      [status, message] = [504, error.message];
    } else if (error instanceof HostEnded) {
      [status, message] = [503, error.message];
    } else {
      this.log(`bridge: ${error.stack || error}`);
    }
    if (!response.headersSent) {
      response.writeHead(status, { 'Content-Type': 'application/json', 'Cache-Control': 'no-store' });
      response.end(JSON.stringify({ error: message }));
    } else {
      response.end();
    }
  }

  // Every request must name the bridge as its Host (a page of another name
  // that resolves to this machine, DNS rebinding, gets nothing), and every
  // POST must come from the bridge's own origin under that name (browsers
  // always send Origin on a POST). Answers the Host, in lower case.
  _checkDoors(request) {
    const host = String(request.headers.host || '').toLowerCase();
    if (!this.hostNames.has(host)) throw new RequestError(403, 'not addressed to the bridge (Host)');
    const origin = request.headers.origin;
    const own = `http://${host}`;
    if (request.method === 'POST' ? origin !== own : origin !== undefined && origin !== own) {
      throw new RequestError(403, origin === undefined ? 'no Origin' : 'foreign origin');
    }
    return host;
  }

  _static(url, host, request, response) {
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
    if ((extension === '.html' || extension === '.htm') && request.method === 'GET') {
      // The shim presents this token to open the page's session: the page's address is the one served here.
      const token = this.servedPages.add(`http://${host}`, url.pathname + url.search);
      body = Buffer.from(injectShim(body.toString('utf8'), token), 'utf8');
    }
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
    if (request.method === 'GET' && route === 'ledger') return this._reply(response, await this.ledger(this.limits.hostCallMs));
    if (request.method !== 'POST') throw new RequestError(405, 'method not allowed');
    const type = String(request.headers['content-type'] || '');
    if (!type.startsWith('application/json') && !type.startsWith('text/plain')) throw new RequestError(415, 'JSON only');
    if (!isRoute(route)) throw new RequestError(404, 'no such request');
    const body = checkBody(route, await readJson(request));
    if (route === 'session') return this._reply(response, this._newSession(request, body));
    const session = this.sessions.get(body.session);
    if (!session) throw new RequestError(410, 'no such page session');
    switch (route) {
      case 'new':
        return this._reply(response, await this._new(session, body));
      case 'has':
        return this._reply(response, await this._has(session, body));
      case 'get':
        return this._reply(response, await this._get(session, body));
      case 'lookup':
        return this._reply(response, await this._lookup(session, body));
      case 'call':
        return this._reply(response, await this._call(session, body));
      case 'return':
        return this._reply(response, await this._return(session, body));
      case 'destroy':
        return this._reply(response, await this._destroy(session, body));
      default: // close
        await this._closeSession(session);
        return this._reply(response, { ok: true });
    }
  }

  _reply(response, value) {
    const body = JSON.stringify(value);
    response.writeHead(200, { 'Content-Type': 'application/json', 'Cache-Control': 'no-store' });
    response.end(body);
  }

  // ---- page sessions ---------------------------------------------------------

  // The page's address: the origin its browser sent (checked at the door) and the path the bridge served.
  _newSession(request, body) {
    const page = this.servedPages.take(body.page, request.headers.origin);
    if (page === null) throw new RequestError(400, 'not a page the bridge served');
    const session = this.sessions.create(page);
    return { session: session.id, types: this.host.plugins.flatMap((plugin) => plugin.types) };
  }

  _eventStream(url, request, response) {
    const session = this.sessions.get(url.searchParams.get('session'));
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

  // A page that never opened its event stream is gone after a while.
  _sweep() {
    const now = Date.now();
    for (const session of [...this.sessions.byId.values()]) {
      if (session.streamlessSince === null || now - session.streamlessSince <= this.limits.idleSessionMs) continue;
      this.log(`bridge: ${session.page} opened no event stream in ${this.limits.idleSessionMs / 1000} s; its session ends`);
      this._closeSession(session).catch((error) => this.log(String(error)));
    }
  }

  async _closeSession(session) {
    if (session.closed) return;
    const elements = [...session.elements.keys()];
    if (session.dropped > 0) this.log(`bridge: ${session.dropped} events for ${session.page} were dropped (queue full)`);
    this.sessions.close(session);
    // Calls waiting for this page's functions go on without them.
    for (const id of [...session.waiting.keys()]) this._giveUpFunction(session, id, 'the page went');
    for (const element of elements) await this._destroyElement(session, element).catch(() => {});
  }

  // ---- element requests ------------------------------------------------------

  // A host request the page waits for, at most limits.hostCallMs; served nested
  // while a call waits for a page function.
  _host(command, ...fields) {
    return this.host.requestWithin(this.limits.hostCallMs, command, ...fields);
  }

  _converse(command, ...fields) {
    return this.host.converse({ timeoutMs: this.limits.hostCallMs }, command, ...fields);
  }

  _element(session, body) {
    const hostElement = session.elements.get(body.element);
    if (hostElement === undefined) throw new RequestError(400, 'no such element');
    return hostElement;
  }

  async _new(session, body) {
    const pageElement = body.element;
    if (session.elements.has(pageElement)) throw new RequestError(400, 'the element exists already');
    const type = body.type.trim().toLowerCase();
    const known = this.host.plugins.some((plugin) => plugin.types.some((candidate) => candidate.toLowerCase() === type));
    if (!known) return { ok: false, message: `no plug-in for ${type}` };
    const clamp = (value, low, high) => String(Math.min(high, Math.max(low, Math.trunc(value || 0))));
    const pairs = [];
    for (const [name, value] of (body.attributes || []).slice(0, 256)) pairs.push(protocol.text(name), protocol.text(value));
    const hostElement = this.sessions.addElement(session, pageElement);
    let answer;
    try {
      answer = await this._host('new', String(hostElement), protocol.text(session.page), protocol.text(type),
        clamp(body.x, -32767, 32767), clamp(body.y, -32767, 32767),
        clamp(body.width, 0, 65535), clamp(body.height, 0, 65535), ...pairs);
    } catch (error) {
      this.sessions.removeElement(session, pageElement);
      // The host may still make the instance when it answers at last: it goes again then.
      if (error instanceof HostTimeout) this.host.request('destroy', String(hostElement)).catch(() => {});
      throw error;
    }
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
    const answer = await this._host('has', String(this._element(session, body)), protocol.text(body.name));
    const { released } = this._reports(session, answer.reports);
    if (answer.status !== 'ok') return { method: false, property: false, released };
    return { method: answer.fields[0] === 'true', property: answer.fields[1] === 'true', released };
  }

  async _get(session, body) {
    const hostElement = this._element(session, body);
    return this._steps(session, this._converse('get', String(hostElement), protocol.text(body.name)));
  }

  // What a name of the scriptable object is, and a property's value with it: one request of the page.
  async _lookup(session, body) {
    const found = await this._has(session, body);
    if (found.method || !found.property) return { ...found, ok: true, value: 'void' };
    const hostElement = this._element(session, body);
    const got = this._converse('get', String(hostElement), protocol.text(body.name));
    return { method: false, property: true, ...(await this._steps(session, got, found.released)) };
  }

  async _call(session, body) {
    const hostElement = this._element(session, body);
    const fields = (body.args || []).map((field) => this._toHost(session, field));
    return this._steps(session, this._converse('call', String(hostElement), protocol.text(body.name), ...fields));
  }

  // A request's steps until one for the page: a function of its own to run
  // now ({callback, call}: the page answers with "return" and that call id),
  // or the answer. Page objects released meanwhile come with it, in order.
  async _steps(session, conversation, released = []) {
    try {
      return await this._nextForPage(session, conversation, released);
    } catch (error) {
      // The host must not wait for a page that will never answer: the call goes on without it.
      if (!(error instanceof HostTimeout) && !(error instanceof HostEnded)) {
        conversation.fail();
        this._drain(session, conversation).catch(() => {});
      }
      throw error;
    }
  }

  async _nextForPage(session, conversation, released) {
    for (;;) {
      const step = await conversation.next();
      // Values first: an object released with the answer is still the one the answer names.
      if (step.kind === 'answer') {
        const answer = this._answer(session, step.answer, released);
        released.push(...this._reports(session, step.reports).released);
        return answer;
      }
      const page = this.sessions.pageObject(step.callback.fn.value);
      const args = page ? step.callback.args.map((field) => this._toPage(page.session, field)) : [];
      released.push(...this._reports(session, step.reports).released);
      if (!page || page.session !== session) {
        // Another page's function runs in that page later, over its stream; the call goes on without it.
        if (page) page.session.send({ type: 'callback', fn: page.id, args });
        conversation.reply('void');
        continue;
      }
      if (session.closed) {
        conversation.fail();
        continue;
      }
      const call = session.nextCall++;
      const timer = setTimeout(() => this._giveUpFunction(session, call, `the page function did not return in ${this.limits.pageFunctionMs / 1000} s`),
        this.limits.pageFunctionMs);
      timer.unref();
      session.waiting.set(call, { conversation, timer });
      return { ok: true, callback: { fn: page.id, args }, call, released };
    }
  }

  // The page's function returned (value) or threw (error): the call goes on to its next step.
  async _return(session, body) {
    const waiting = session.waiting.get(body.call);
    if (!waiting) {
      throw new RequestError(410, session.expired.get(body.call) || 'no call waits for that page function');
    }
    session.waiting.delete(body.call);
    clearTimeout(waiting.timer);
    let field = null;
    if (body.error === undefined && body.value !== undefined) {
      try {
        field = this._toHost(session, body.value);
      } catch {
        field = null; // a value the protocol cannot carry: the function failed
      }
    }
    if (field === null) waiting.conversation.fail();
    else waiting.conversation.reply(field);
    return this._steps(session, waiting.conversation);
  }

  // The call waiting for the page's function goes on without its result; the
  // page learns why if it answers later; what the call does afterwards is its own.
  _giveUpFunction(session, call, why) {
    const waiting = session.waiting.get(call);
    if (!waiting) return;
    session.waiting.delete(call);
    clearTimeout(waiting.timer);
    session.forget(call, `the plug-in's call went on without this function's result: ${why}`);
    this.log(`bridge: ${session.page}: ${why}; the call goes on without it`);
    waiting.conversation.fail();
    this._drain(session, waiting.conversation).catch(() => {});
  }

  async _drain(session, conversation) {
    for (;;) {
      const step = await conversation.next();
      for (const object of this._reports(session, step.reports).released) session.send({ type: 'released', object });
      if (step.kind === 'answer') return;
      conversation.fail();
    }
  }

  // A call's or a property's answer, with the page objects released during it, in order.
  _answer(session, answer, released) {
    if (answer.status === 'ok') return { ok: true, value: this._toPage(session, answer.fields[0]), released };
    return { ok: false, message: errorText(answer), released };
  }

  // What a request's reports mean for page objects: this page's released ones
  // (others' go to their streams). Page functions are the request's steps.
  _reports(session, reports) {
    const released = [];
    for (const report of reports) {
      if (report.kind === 'released') {
        const value = protocol.parseValue(report.fields[0]);
        const page = value && this.sessions.releaseObject(value.value);
        if (!page) continue;
        if (page.session === session) released.push(`${page.type}:${page.id}`);
        else page.session.send({ type: 'released', object: `${page.type}:${page.id}` });
      }
    }
    return { released };
  }

  async _destroy(session, body) {
    this._element(session, body);
    return this._destroyElement(session, body.element);
  }

  // The instance goes whatever becomes of the page's wait: the host request itself has no time limit.
  _destroyElement(session, pageElement) {
    const hostElement = session.elements.get(pageElement);
    if (hostElement === undefined) return Promise.resolve({ ok: false });
    this.sessions.removeElement(session, pageElement);
    const destroyed = this.host.request('destroy', String(hostElement)).then((answer) => {
      // Page objects the instance held were released during the destruction.
      for (const object of this._reports(session, answer.reports).released) session.send({ type: 'released', object });
      if (answer.status !== 'ok') return { ok: false, message: errorText(answer) };
      // A call into the instance is on the host's stack: it goes when that returns.
      if (answer.fields[0] === 'delayed') return { ok: true, delayed: true };
      return { ok: true, npError: Number(answer.fields[0]), forced: Number(answer.fields[1]) };
    });
    destroyed.catch(() => {});
    return within(destroyed, this.limits.hostCallMs);
  }

  // ---- values ----------------------------------------------------------------

  // A value from the page, checked and given the host's object ids.
  _toHost(session, field) {
    const value = protocol.parseValue(field);
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

  async ledger(timeoutMs = 0) {
    const host = this.host.exited ? this.host.finalLedger || {} : await this.host.ledger(timeoutMs);
    let elements = 0;
    for (const session of this.sessions.byId.values()) elements += session.elements.size;
    return { host, sessions: this.sessions.byId.size, elements, pageObjects: this.sessions.byObject.size };
  }
}

// A request's target as a path from the root ('//x/y' is a path too, not another host).
function parseAddress(target) {
  try {
    if (target.startsWith('/')) return new URL(`http://127.0.0.1${target}`);
  } catch {
    // not a path: refused below
  }
  throw new RequestError(400, 'bad address');
}

// The reason a failed or refused host answer gives.
function errorText(answer) {
  const bytes = protocol.parseText(answer.fields[0] || "'");
  return bytes ? bytes.toString('utf8') : answer.fields.join(' ');
}

// The shim first thing in the head, with the token of this serving of the page.
function injectShim(html, token) {
  const tag = `<script src="${API}shim.js" data-page="${token}"></script>`;
  const head = /<head(\s[^>]*)?>/i.exec(html);
  if (head) return html.slice(0, head.index + head[0].length) + tag + html.slice(head.index + head[0].length);
  return tag + html;
}

module.exports = { BridgeServer, injectShim };

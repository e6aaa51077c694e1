'use strict';
// The headless host under Wine, as a client of its line protocol: requests go
// one at a time (the host serves them in order on its plug-in thread), each
// answered with its status, fields and the report lines it caused; report
// lines are also emitted as events: geturl, callback, released, fault,
// unsupported, note, status, and exit when the process ends. A line that is
// not the protocol's (a module may write to the host's output too) is
// reported as an 'unreadable' event and dropped. A request may be given a
// time: if the host has not answered by then it fails with a HostTimeout, and
// its answer, should it still come, is dropped.
const { spawn } = require('node:child_process');
const { EventEmitter } = require('node:events');
const readline = require('node:readline');

const protocol = require('./protocol');
const wine = require('./wine');

class HostTimeout extends Error {}

class HostEnded extends Error {}

function timedOut(timeoutMs) {
  return new HostTimeout(`the plug-in host did not answer in ${timeoutMs / 1000} s`);
}

class HostProcess extends EventEmitter {
  constructor() {
    super();
    this.plugins = [];
    this.faults = [];
    this.stderr = [];
    this.pid = null;
    this.exited = false;
    this._seq = 0;
    this._queue = [];
    this._current = null;
    this._readyWaiter = null;
  }

  // Starts halvo_host.exe with the modules; resolves once it is ready.
  static async start({ hostExe, modules, prefix, env = {}, startTimeoutMs = 60000 }) {
    const host = new HostProcess();
    const args = [wine.windowsPath(hostExe), ...modules.map((module) => wine.windowsPath(module))];
    host.child = spawn('wine', args, { env: wine.wineEnv(prefix, env), stdio: ['pipe', 'pipe', 'pipe'] });
    host.child.stdin.on('error', () => {});
    host.child.on('error', (error) => host.emit('note', `the host could not be started: ${error.message}`));
    readline.createInterface({ input: host.child.stdout }).on('line', (line) => host._line(line));
    readline.createInterface({ input: host.child.stderr }).on('line', (line) => {
      host.stderr.push(line);
      if (host.stderr.length > 200) host.stderr.shift();
    });
    const ready = new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('the host did not get ready in time')), startTimeoutMs);
      host._readyWaiter = {
        resolve: () => {
          clearTimeout(timer);
          resolve();
        },
        reject: (error) => {
          clearTimeout(timer);
          reject(error);
        },
      };
    });
    host.child.on('exit', (code) => {
      host.exited = true;
      host.exitCode = code;
      if (host._readyWaiter) host._readyWaiter.reject(new Error(`the host ended (${code}) before it was ready: ` + host.stderr.slice(-5).join(' | ')));
      const pending = host._current ? [host._current, ...host._queue] : host._queue;
      host._current = null;
      host._queue = [];
      for (const request of pending) request.reject(new HostEnded('the plug-in host has ended'));
      host.emit('exit', code);
    });
    await ready;
    return host;
  }

  _line(line) {
    try {
      if (!this._read(line)) this.emit('unreadable', line);
    } catch (error) {
      // A listener's fault must not end the process that serves every page.
      this.emit('note', `a host line could not be handled (${error.message}): ${line.slice(0, 200)}`);
    }
  }

  // False for a line that is not the protocol's.
  _read(line) {
    const fields = protocol.splitFields(line);
    const kind = fields[0];
    if (kind === 'ok' || kind === 'failed' || kind === 'error') {
      if (!/^[0-9]+$/.test(fields[1] || '')) return false;
      const request = this._current;
      if (kind === 'error' && fields[1] === '0' && !request) {
        const why = protocol.parseText(fields[2] || "'");
        if (this._readyWaiter) this._readyWaiter.reject(new Error('host: ' + (why ? why.toString('utf8') : line)));
        this.emit('note', 'host error: ' + line);
        return true;
      }
      if (!request || fields[1] !== String(request.seq)) {
        this.emit('note', 'answer without a request: ' + line);
        return true;
      }
      this._current = null;
      if (request.abandoned) this.emit('note', `a late answer dropped: ${request.command} ${request.seq}`);
      else request.resolve({ seq: request.seq, status: kind, fields: fields.slice(2), reports: request.reports });
      this._next();
      return true;
    }
    const report = readReport(kind, fields);
    if (report === null) return false;
    Object.assign(report, { kind, fields: fields.slice(1), line });
    // A request given up on no longer collects its reports: they go out as if outside any request.
    const during = this._current !== null && !this._current.abandoned;
    if (during) this._current.reports.push(report);
    switch (kind) {
      case 'plugin':
        this.plugins.push(report.plugin);
        break;
      case 'ready':
        this.pid = report.pid;
        if (this._readyWaiter) {
          const waiter = this._readyWaiter;
          this._readyWaiter = null;
          waiter.resolve();
        }
        break;
      case 'geturl':
        this.emit('geturl', report.geturl);
        break;
      case 'callback':
        this.emit('callback', { ...report.callback, seq: during ? report.callback.seq : 0 });
        break;
      case 'released':
        this.emit('released', report.value, during);
        break;
      case 'fault':
        this.faults.push(report.text);
        this.emit('fault', report.text);
        break;
      case 'unsupported':
      case 'note':
        this.emit(kind, report.text);
        break;
      case 'status':
        this.emit('status', report.status);
        break;
      case 'exit':
        this.emit('ledger', parseLedger(fields.slice(1)));
        break;
    }
    return true;
  }

  // One request: the command and its fields (already encoded); resolves with {seq, status, fields, reports}.
  request(command, ...fields) {
    return this.requestWithin(0, command, ...fields);
  }

  // The same, failing with a HostTimeout when the host has not answered in timeoutMs (0: no limit).
  requestWithin(timeoutMs, command, ...fields) {
    if (this.exited) return Promise.reject(new HostEnded('the plug-in host has ended'));
    return new Promise((resolve, reject) => {
      const seq = ++this._seq;
      let timer = null;
      const entry = {
        seq,
        command,
        line: [command, String(seq), ...fields].join(' '),
        reports: [],
        abandoned: false,
        resolve: (value) => {
          clearTimeout(timer);
          resolve(value);
        },
        reject: (error) => {
          clearTimeout(timer);
          reject(error);
        },
      };
      if (timeoutMs > 0) timer = setTimeout(() => this._giveUp(entry, timeoutMs), timeoutMs);
      this._queue.push(entry);
      if (!this._current) this._next();
    });
  }

  _giveUp(entry, timeoutMs) {
    const queued = this._queue.indexOf(entry);
    if (queued >= 0) this._queue.splice(queued, 1); // never sent
    else if (this._current === entry) entry.abandoned = true; // its answer is dropped when it comes
    else return;
    entry.reject(timedOut(timeoutMs));
  }

  _next() {
    if (this._current || this._queue.length === 0) return;
    this._current = this._queue.shift();
    this.child.stdin.write(this._current.line + '\n');
  }

  async ledger(timeoutMs = 0) {
    const answer = await this.requestWithin(timeoutMs, 'ledger');
    return parseLedger(answer.fields);
  }

  // quit, then the process's end; killed when it does not end in time.
  async stop(timeoutMs = 20000) {
    if (this.exited) return this.finalLedger;
    const ended = new Promise((resolve) => this.once('exit', resolve));
    let finalLedger = null;
    try {
      const answer = await this.requestWithin(timeoutMs, 'quit');
      finalLedger = parseLedger(answer.fields);
    } catch (error) {
      this.child.kill('SIGKILL');
    }
    this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill('SIGKILL'), timeoutMs);
    await ended;
    clearTimeout(timer);
    this.finalLedger = finalLedger;
    return finalLedger;
  }
}

// The promise's outcome, or a HostTimeout once timeoutMs have passed (0: no limit); the
// promise itself goes on.
function within(promise, timeoutMs) {
  if (!(timeoutMs > 0)) return promise;
  let timer = null;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => reject(timedOut(timeoutMs)), timeoutMs);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

// A report line's fields, read; null when they are not what the protocol writes.
function readReport(kind, fields) {
  const texts = (from) => fields.slice(from).map((field) => protocol.parseText(field));
  const number = (field) => (/^[0-9]{1,15}$/.test(field || '') ? Number(field) : null);
  switch (kind) {
    case 'plugin': {
      const all = texts(1);
      if (all.length < 3 || all.includes(null)) return null;
      const [pluginPath, name, description, ...types] = all.map((bytes) => bytes.toString('utf8'));
      return { plugin: { path: pluginPath, name, description, types } };
    }
    case 'ready':
      return number(fields[1]) === null ? null : { pid: number(fields[1]) };
    case 'geturl': {
      const [url, target] = texts(2);
      if (fields.length !== 4 || number(fields[1]) === null || !url || !target) return null;
      return { geturl: { element: number(fields[1]), url: url.toString('utf8'), target: target.toString('utf8') } };
    }
    case 'callback': {
      const fn = protocol.parseValue(fields[2]);
      const args = fields.slice(3);
      if (number(fields[1]) === null || !fn || fn.type !== 'fn' || args.some((field) => protocol.parseValue(field) === null)) return null;
      return { callback: { seq: number(fields[1]), fn, args } };
    }
    case 'released': {
      const value = protocol.parseValue(fields[1]);
      return fields.length === 2 && value && (value.type === 'fn' || value.type === 'obj') ? { value } : null;
    }
    case 'fault':
    case 'unsupported':
    case 'note': {
      const bytes = protocol.parseText(fields[1]);
      return fields.length === 2 && bytes ? { text: bytes.toString('utf8') } : null;
    }
    case 'status': {
      const bytes = protocol.parseText(fields[2]);
      return fields.length === 3 && number(fields[1]) !== null && bytes
        ? { status: { element: number(fields[1]), text: bytes.toString('utf8') } } : null;
    }
    case 'exit':
      return fields.length > 1 ? {} : null;
    default:
      return null;
  }
}

function parseLedger(fields) {
  const ledger = {};
  for (const field of fields) {
    const match = /^([a-z]+)=([0-9]+)$/.exec(field);
    if (match) ledger[match[1]] = Number(match[2]);
  }
  return ledger;
}

module.exports = { HostProcess, HostTimeout, HostEnded, within, parseLedger };

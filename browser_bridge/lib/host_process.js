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
    this._queue = []; // requests not sent yet
    this._stack = []; // requests the host is serving, innermost last
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
      const pending = [...host._stack, ...host._queue];
      host._stack = [];
      host._queue = [];
      for (const request of pending) request.fail(new HostEnded('the plug-in host has ended'));
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
      const at = this._stack.findIndex((request) => String(request.seq) === fields[1]);
      if (kind === 'error' && fields[1] === '0' && at < 0) {
        const why = protocol.parseText(fields[2] || "'");
        if (this._readyWaiter) this._readyWaiter.reject(new Error('host: ' + (why ? why.toString('utf8') : line)));
        this.emit('note', 'host error: ' + line);
        return true;
      }
      if (at < 0) {
        this.emit('note', 'answer without a request: ' + line);
        return true;
      }
      const [request] = this._stack.splice(at, 1);
      if (request.resumes && kind !== 'ok' && request.command === 'return') {
        // A result the host would not take: the function failed, so that the call still goes on.
        this.emit('note', `the host refused a page function's result: ${line}`);
        request.resumes.replied = false;
        this._answerPage(request.resumes, null);
      } else if (request.resumes) {
        // The page function's answer is in: the call it belongs to goes on.
        if (kind !== 'ok') this.emit('note', `the host refused a page function's answer: ${line}`);
        request.resumes.waiting = false;
        if (!request.resumes.abandoned) request.resumes.startTimer();
      } else if (request.abandoned) {
        this.emit('note', `a late answer dropped: ${request.command} ${request.seq}`);
      } else {
        request.finish({ seq: request.seq, status: kind, fields: fields.slice(2) });
      }
      this._next();
      return true;
    }
    const report = readReport(kind, fields);
    if (report === null) return false;
    Object.assign(report, { kind, fields: fields.slice(1), line });
    // Reports belong to the request the host is running; those made while it
    // waits for a page (its messages pumped meanwhile), or for a request given
    // up on, go out as if outside any request.
    const top = this._stack[this._stack.length - 1];
    const during = top !== undefined && !top.waiting && !top.abandoned && !top.resumes;
    if (during) top.reports.push(report);
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
      case 'callback': {
        const waits = report.callback.seq !== 0 && top !== undefined && String(top.seq) === String(report.callback.seq) && !top.resumes;
        this.emit('callback', { ...report.callback, seq: waits && during ? report.callback.seq : 0 });
        // The host waits for the page function's answer: the conversation gives it, or it fails.
        if (waits) this._pageFunction(top, report);
        break;
      }
      case 'released':
        this.emit('released', report.value, during);
        break;
      case 'destroyed':
        this.emit('destroyed', report.destroyed);
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

  _pageFunction(request, report) {
    request.waiting = true;
    request.replied = false;
    request.stopTimer();
    if (request.abandoned) {
      this._answerPage(request, null);
    } else {
      request.step({ kind: 'callback', callback: report.callback, reports: request.takeReports() });
    }
    this._next();
  }

  // The page function's result for the host (a value field), or null: it failed.
  _answerPage(request, field) {
    if (!request.waiting || request.replied) return;
    request.replied = true;
    const entry = this._entry(0, field === null ? 'throw' : 'return', field === null ? [String(request.seq)] : [String(request.seq), field]);
    entry.resumes = request;
    this._queue.unshift(entry);
    this._next();
  }

  // One request: the command and its fields (already encoded); resolves with
  // {seq, status, fields, reports}. Page functions the module calls during it
  // are answered at once with no value.
  request(command, ...fields) {
    return this.requestWithin(0, command, ...fields);
  }

  // The same, failing with a HostTimeout when the host has not answered in timeoutMs (0: no limit).
  // The first argument may also be the options of converse().
  async requestWithin(timeoutMs, command, ...fields) {
    const options = typeof timeoutMs === 'object' ? timeoutMs : { timeoutMs };
    const conversation = this.converse(options, command, ...fields);
    const reports = [];
    for (;;) {
      const step = await conversation.next();
      reports.push(...step.reports);
      if (step.kind === 'answer') return { ...step.answer, reports };
      conversation.reply('void');
    }
  }

  // A request whose page functions the caller runs: next() gives each step,
  // {kind: 'callback', callback: {seq, fn, args}, reports} while the host waits
  // for the function's result (reply(field) or fail()), and at last
  // {kind: 'answer', answer: {seq, status, fields}, reports}. While the host
  // waits, other requests go to the host and are served nested, as the calls a
  // page function makes (and, as in a browser, those of other pages and
  // frames, which must not wait for a page that may be waiting for them);
  // nests: false keeps a request until the host's stack is empty. timeoutMs
  // bounds each wait for the host, not the page's.
  converse({ timeoutMs = 0, nests = true } = {}, command, ...fields) {
    const entry = this._entry(timeoutMs, command, fields, nests);
    const conversation = new Conversation(this, entry);
    if (this.exited) {
      entry.fail(new HostEnded('the plug-in host has ended'));
      return conversation;
    }
    entry.startTimer();
    this._queue.push(entry);
    this._next();
    return conversation;
  }

  _entry(timeoutMs, command, fields, nests = true) {
    const seq = ++this._seq;
    const entry = new HostRequest(seq, command, [command, String(seq), ...fields].join(' '), timeoutMs, nests);
    entry.onTimeout = () => this._giveUp(entry);
    return entry;
  }

  _giveUp(entry) {
    const queued = this._queue.indexOf(entry);
    if (queued >= 0) this._queue.splice(queued, 1); // never sent
    else if (this._stack.includes(entry)) entry.abandoned = true; // its answer is dropped when it comes
    else return;
    entry.fail(timedOut(entry.timeoutMs));
  }

  // A request may go when the host serves none, or when the one it serves
  // waits for a page function: then the function's answer, or a request
  // served nested.
  _next() {
    const top = this._stack[this._stack.length - 1];
    if (top !== undefined && !top.waiting) return;
    const index = this._queue.findIndex((entry) => {
      if (entry.resumes) return entry.resumes === top;
      return top === undefined || entry.nests;
    });
    if (index < 0) {
      // An answer for a request that is no longer waiting can never go.
      this._queue = this._queue.filter((entry) => !entry.resumes || this._stack.includes(entry.resumes));
      return;
    }
    const [entry] = this._queue.splice(index, 1);
    this._stack.push(entry);
    this.child.stdin.write(entry.line + '\n');
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
      // quit waits until no call is on the host's stack.
      const conversation = this.converse({ timeoutMs, nests: false }, 'quit');
      let step = await conversation.next();
      while (step.kind !== 'answer') {
        conversation.fail();
        step = await conversation.next();
      }
      finalLedger = parseLedger(step.answer.fields);
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

// One request on its way through the host: its steps (page functions, then
// the answer) wait in order for the conversation that reads them.
class HostRequest {
  constructor(seq, command, line, timeoutMs, nests) {
    Object.assign(this, { seq, command, line, timeoutMs, nests });
    this.reports = [];
    this.abandoned = false;
    this.waiting = false; // the host waits for a page function's result
    this.replied = false; // the page function's result is on its way
    this.resumes = null; // for "return" and "throw": the request that goes on
    this.steps = [];
    this.reader = null;
    this.timer = null;
    this.onTimeout = null;
  }

  startTimer() {
    this.stopTimer();
    if (this.timeoutMs > 0) this.timer = setTimeout(() => this.onTimeout(), this.timeoutMs);
  }

  stopTimer() {
    clearTimeout(this.timer);
    this.timer = null;
  }

  takeReports() {
    return this.reports.splice(0);
  }

  step(step) {
    this._push({ step });
  }

  finish(answer) {
    this.stopTimer();
    this._push({ step: { kind: 'answer', answer, reports: this.takeReports() } });
  }

  fail(error) {
    this.stopTimer();
    this._push({ error });
  }

  _push(item) {
    if (this.reader) {
      const reader = this.reader;
      this.reader = null;
      reader(item);
    } else {
      this.steps.push(item);
    }
  }
}

class Conversation {
  constructor(host, entry) {
    this.host = host;
    this.entry = entry;
  }

  get seq() {
    return this.entry.seq;
  }

  next() {
    const item = this.entry.steps.shift();
    const settle = (value) => (value.error ? Promise.reject(value.error) : Promise.resolve(value.step));
    if (item) return settle(item);
    return new Promise((resolve) => {
      this.entry.reader = resolve;
    }).then(settle);
  }

  // The page function's result, a value field.
  reply(field) {
    this.host._answerPage(this.entry, field);
  }

  // The page function failed (threw, or its page did not answer).
  fail() {
    this.host._answerPage(this.entry, null);
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
    case 'destroyed': {
      const [element, npError, forced] = fields.slice(1).map(number);
      return fields.length === 4 && element !== null && forced !== null && /^-?[0-9]{1,6}$/.test(fields[2])
        ? { destroyed: { element, npError: Number(fields[2]), forced } } : null;
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

'use strict';
// The headless host under Wine, as a client of its line protocol: requests go
// one at a time (the host serves them in order on its plug-in thread), each
// answered with its status, fields and the report lines it caused; report
// lines are also emitted as events: geturl, callback, released, fault,
// unsupported, note, status, and exit when the process ends.
const { spawn } = require('node:child_process');
const { EventEmitter } = require('node:events');
const readline = require('node:readline');

const protocol = require('./protocol');
const wine = require('./wine');

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
      for (const request of pending) request.reject(new Error('the host has ended'));
      host.emit('exit', code);
    });
    await ready;
    return host;
  }

  _line(line) {
    const fields = protocol.splitFields(line);
    const kind = fields[0];
    if (kind === 'ok' || kind === 'failed' || kind === 'error') {
      const request = this._current;
      if (kind === 'error' && fields[1] === '0' && !request) {
        if (this._readyWaiter) this._readyWaiter.reject(new Error('host: ' + protocol.parseText(fields[2] || "'")));
        this.emit('note', 'host error: ' + line);
        return;
      }
      if (!request || fields[1] !== String(request.seq)) {
        this.emit('note', 'answer without a request: ' + line);
        return;
      }
      this._current = null;
      request.resolve({ seq: request.seq, status: kind, fields: fields.slice(2), reports: request.reports });
      this._next();
      return;
    }
    const report = { kind, fields: fields.slice(1), line };
    if (this._current) this._current.reports.push(report);
    switch (kind) {
      case 'plugin':
        this.plugins.push({
          path: protocol.parseText(fields[1]).toString('utf8'),
          name: protocol.parseText(fields[2]).toString('utf8'),
          description: protocol.parseText(fields[3]).toString('utf8'),
          types: fields.slice(4).map((field) => protocol.parseText(field).toString('utf8')),
        });
        break;
      case 'ready':
        this.pid = Number(fields[1]);
        if (this._readyWaiter) {
          const waiter = this._readyWaiter;
          this._readyWaiter = null;
          waiter.resolve();
        }
        break;
      case 'geturl':
        this.emit('geturl', {
          element: Number(fields[1]),
          url: protocol.parseText(fields[2]).toString('utf8'),
          target: protocol.parseText(fields[3]).toString('utf8'),
        });
        break;
      case 'callback':
        this.emit('callback', { seq: Number(fields[1]), fn: protocol.parseValue(fields[2]), args: fields.slice(3) });
        break;
      case 'released': {
        const value = protocol.parseValue(fields[1]);
        this.emit('released', value, this._current !== null);
        break;
      }
      case 'fault': {
        const textValue = protocol.parseText(fields[1]).toString('utf8');
        this.faults.push(textValue);
        this.emit('fault', textValue);
        break;
      }
      case 'unsupported':
      case 'note':
        this.emit(kind, protocol.parseText(fields[1]).toString('utf8'));
        break;
      case 'status':
        this.emit('status', { element: Number(fields[1]), text: protocol.parseText(fields[2]).toString('utf8') });
        break;
      case 'exit':
        this.emit('ledger', parseLedger(fields.slice(1)));
        break;
      default:
        this.emit('note', 'unknown line: ' + line);
    }
  }

  // One request: the command and its fields (already encoded); resolves with {seq, status, fields, reports}.
  request(command, ...fields) {
    if (this.exited) return Promise.reject(new Error('the host has ended'));
    return new Promise((resolve, reject) => {
      const seq = ++this._seq;
      this._queue.push({ seq, line: [command, String(seq), ...fields].join(' '), resolve, reject, reports: [] });
      if (!this._current) this._next();
    });
  }

  _next() {
    if (this._current || this._queue.length === 0) return;
    this._current = this._queue.shift();
    this.child.stdin.write(this._current.line + '\n');
  }

  async ledger() {
    const answer = await this.request('ledger');
    return parseLedger(answer.fields);
  }

  // quit, then the process's end; killed when it does not end in time.
  async stop(timeoutMs = 20000) {
    if (this.exited) return this.finalLedger;
    const ended = new Promise((resolve) => this.once('exit', resolve));
    let finalLedger = null;
    let quitTimer = null;
    try {
      const answer = await Promise.race([
        this.request('quit'),
        new Promise((_, reject) => {
          quitTimer = setTimeout(() => reject(new Error('quit timed out')), timeoutMs);
        }),
      ]);
      finalLedger = parseLedger(answer.fields);
    } catch (error) {
      this.child.kill('SIGKILL');
    }
    clearTimeout(quitTimer);
    this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill('SIGKILL'), timeoutMs);
    await ended;
    clearTimeout(timer);
    this.finalLedger = finalLedger;
    return finalLedger;
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

module.exports = { HostProcess, parseLedger };

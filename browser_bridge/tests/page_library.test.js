'use strict';
// The page library's readers of the plug-in's texts, on texts made the way
// the plug-in makes them; the client's downloads when the engine's events
// come in an order a real engine cannot be made to keep.
const assert = require('node:assert/strict');
const { describe, test } = require('node:test');

const Halvo = require('../../page_library/halvo.js');

// What the plug-in does to a text before it posts it, and what the page's string literal gives back.
function asPosted(text) {
  return text.replace(/"/g, '\\"');
}

// The plug-in's escaping of callback texts: every UTF-16 unit as \uXXXX.
function escaped(text) {
  let out = '';
  for (let i = 0; i < text.length; i++) out += '\\u' + text.charCodeAt(i).toString(16).toUpperCase().padStart(4, '0');
  return out;
}

function eventText(overrides = {}) {
  const values = {
    kind: 3, folder: 'C:\\d', key: 'http://h/a', url: 'http://h/a', fileName: 'a.bin', referrer: '', validator: '',
    partialPath: '', created: '2026-01-01T00:00:00Z', finished: '', path: 'C:\\d\\a.bin', finalUrl: '',
    contentType: '', message: '', queuePosition: 0, stateName: 'downloading', percent: '12.5', connections: 2,
    complete: 0, state: 2, errorCode: 0, speed: 1000, size: 4096, done: 512, ...overrides,
  };
  return Halvo.EVENT_FIELDS.map((name) => values[name]).join('|');
}

describe('event messages', () => {
  test('the 24 fields come back by name, numbers as numbers', () => {
    const event = Halvo.parseEventMessage(asPosted(eventText({ percent: '2.5e+006', size: '-1', done: '-9007199254740991' })));
    assert.equal(event.kind, Halvo.EventKind.TASK);
    assert.equal(event.key, 'http://h/a');
    assert.equal(event.path, 'C:\\d\\a.bin');
    assert.equal(event.percent, 2500000);
    assert.equal(event.size, -1);
    assert.equal(event.done, -9007199254740991);
    assert.equal(event.state, Halvo.TaskState.DOWNLOADING);
    assert.equal(Halvo.EVENT_FIELDS.length, 24);
  });

  test('the backslash before every double quote goes; other backslashes stay, also one before a quote', () => {
    const original = eventText({ validator: '"abc"', message: 'a\\"b \\ c', folder: 'C:\\"' });
    const event = Halvo.parseEventMessage(asPosted(original));
    assert.equal(event.validator, '"abc"');
    assert.equal(event.message, 'a\\"b \\ c');
    assert.equal(event.folder, 'C:\\"');
    assert.equal(event.text, original);
  });

  test('a text that is not an event message gives null: a "|" inside a field shifts the fields', () => {
    assert.equal(Halvo.parseEventMessage(asPosted(eventText({ message: 'a|b' }))), null);
    assert.equal(Halvo.parseEventMessage('hello'), null);
    assert.equal(Halvo.parseEventMessage({ kind: 3 }), null);
    assert.equal(Halvo.parseEventMessage(eventText({ kind: 'x' })), null);
  });
});

describe('callback texts', () => {
  test('escapes decode to the text, surrogate pairs included', () => {
    assert.equal(Halvo.decodeEscapes(escaped('é😀|"\\')), 'é😀|"\\');
    assert.equal(Halvo.decodeEscapes('\\u0031\\u007C\\u0061\\u0022\\u0062'), '1|a"b');
    assert.equal(Halvo.decodeEscapes(''), '');
  });

  test('a working-task record gives its 10 fields; unsigned 64-bit numbers read back signed', () => {
    const record = Halvo.parseTaskRecord(escaped('k1|http://h/a|C:\\d|a.bin|2|18446744073709551615|100|7|no "quotes" added|downloading'));
    assert.deepEqual(record, {
      key: 'k1', url: 'http://h/a', folder: 'C:\\d', fileName: 'a.bin', state: 2, size: -1, done: 100, speed: 7,
      message: 'no "quotes" added', stateName: 'downloading',
      text: 'k1|http://h/a|C:\\d|a.bin|2|18446744073709551615|100|7|no "quotes" added|downloading',
    });
    assert.equal(Halvo.parseTaskRecord(escaped('k1|a|b|c|5|3|100|7|d|')).stateName, '');
    assert.equal(Halvo.parseTaskRecord(escaped('k1|a|b')), null);
  });

  test('a finished-list entry gives the engine\'s 13 fields', () => {
    const entry = Halvo.parseFinishedText(escaped('k|http://h/a|C:\\d|a.bin|6|10|10|5|2026-01-02T00:00:00Z|C:\\d\\a.bin|http://h/a|application/octet-stream|2026-01-01T00:00:00Z'));
    assert.equal(entry.path, 'C:\\d\\a.bin');
    assert.equal(entry.state, Halvo.TaskState.COMPLETED);
    assert.equal(entry.size, 10);
    assert.equal(entry.created, '2026-01-01T00:00:00Z');
  });
});

// A plug-in element with no engine behind it: the test posts its events, in
// the order it chooses, as the plug-in posts them into the page's window.
function scriptedElement() {
  const listeners = [];
  const win = {
    location: { origin: 'https://page.example' },
    addEventListener: (type, listener) => { if (type === 'message') listeners.push(listener); },
    removeEventListener: () => {},
  };
  const calls = [];
  const element = {
    ownerDocument: { defaultView: win },
    GetPeerID: () => 'peer',
    GetIP: () => '127.0.0.1',
    LoadWorkTask: () => 0,
    LoadFinishTask: () => 0,
  };
  for (const name of ['CreateDownload', 'CancelDownload', 'StopDownload']) {
    element[name] = (...args) => { calls.push([name, ...args]); return 0; };
  }
  const post = (overrides) => {
    const data = asPosted(eventText({ key: 'http://h/a', url: 'http://h/a', ...overrides }));
    for (const listener of listeners) listener({ source: win, origin: win.location.origin, data });
  };
  return { element, calls, post };
}

const { TaskState } = Halvo;
const settled = (promise) => promise.then((path) => ({ path }), (error) => ({ code: error.code }));

describe('the client and the order of events', () => {
  test('a cancel told again after the page resumed ends nothing: the new attempt ends as the engine says', async () => {
    const { element, calls, post } = scriptedElement();
    const client = Halvo.connect(element);
    const download = client.add({ url: 'http://h/a', folder: 'C:\\d' });
    post({ state: TaskState.DOWNLOADING, stateName: 'downloading', done: 512 });
    download.cancel();
    // At once; then again, once the partial file is gone: the page resumes in between.
    post({ state: TaskState.CANCELLED, stateName: 'cancelled', done: 512 });
    assert.deepEqual(await settled(download.finished), { code: 'cancelled' });
    download.resume();
    assert.deepEqual(calls.map((call) => call[0]), ['CreateDownload', 'CancelDownload', 'CreateDownload']);
    const attempt = download.finished;
    post({ state: TaskState.CANCELLED, stateName: 'cancelled', done: 0, fileName: 'a(1).bin' });
    assert.equal(download.state, 'queued');
    assert.equal(download.fileName, 'a(1).bin');
    post({ state: TaskState.QUEUED, stateName: 'queued', done: 0 });
    post({ state: TaskState.DOWNLOADING, stateName: 'downloading', done: 100 });
    post({ state: TaskState.COMPLETED, stateName: 'complete', done: 4096, path: 'C:\\d\\a.bin' });
    assert.equal(download.finished, attempt);
    assert.deepEqual(await settled(attempt), { path: 'C:\\d\\a.bin' });
  });

  test('after the engine\'s word of the new attempt, a cancel ends it again', async () => {
    const { element, post } = scriptedElement();
    const client = Halvo.connect(element);
    const download = client.add({ url: 'http://h/a', folder: 'C:\\d' });
    post({ state: TaskState.CANCELLED, stateName: 'cancelled' });
    download.resume();
    post({ state: TaskState.QUEUED, stateName: 'queued' });
    const attempt = download.finished;
    post({ state: TaskState.CANCELLED, stateName: 'cancelled' });
    assert.deepEqual(await settled(attempt), { code: 'cancelled' });
    // The engine's first word of a new attempt may be a failure (an address it refuses now): it is told.
    download.resume();
    post({ state: TaskState.FAILED, stateName: 'failed', message: 'HTTP 404' });
    assert.equal(download.state, 'failed');
  });
});

describe('method wrappers', () => {
  test('there is one wrapper for each of the 38 methods, under distinct names', () => {
    assert.equal(new Set(Halvo.METHOD_NAMES).size, 38);
    const wrappers = Object.keys(Halvo.Transfer.prototype).filter((name) => !['call', 'loadWorkTask', 'loadFinishTask'].includes(name));
    assert.equal(wrappers.length, 38);
  });

  test('status names', () => {
    assert.deepEqual([0, 1, 2, 3, 9].map(Halvo.statusName), ['ok', 'engine unavailable', 'bad arguments', 'no instance', 'status 9']);
  });
});

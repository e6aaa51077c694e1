'use strict';
// What the bridge keeps per page, without a host: the pages it served and
// the tokens that open their sessions, and the bounds on what waits for a page.
const assert = require('node:assert/strict');
const { PassThrough } = require('node:stream');
const { describe, test } = require('node:test');

const { ServedPages, Sessions } = require('../lib/sessions');

describe('pages served', () => {
  test('a token opens one session, only for the origin it was served to', () => {
    const pages = new ServedPages();
    const first = pages.add('http://127.0.0.1:8400', '/demo/?a=1');
    const second = pages.add('http://localhost:8400', '/demo/');
    assert.notEqual(first, second);
    assert.equal(pages.take(first, 'http://127.0.0.1:8400'), 'http://127.0.0.1:8400/demo/?a=1');
    assert.equal(pages.take(first, 'http://127.0.0.1:8400'), null);
    assert.equal(pages.take(second, 'http://127.0.0.1:8400'), null);
    assert.equal(pages.take(second, 'http://localhost:8400'), null, 'a token tried from another origin is spent');
    assert.equal(pages.take('made-up', 'http://127.0.0.1:8400'), null);
  });

  test('the table keeps the newest tokens only, and none past their time', () => {
    const pages = new ServedPages({ max: 2 });
    const tokens = ['/a', '/b', '/c'].map((address) => pages.add('http://127.0.0.1:1', address));
    assert.equal(pages.byToken.size, 2);
    assert.equal(pages.take(tokens[0], 'http://127.0.0.1:1'), null);
    assert.equal(pages.take(tokens[2], 'http://127.0.0.1:1'), 'http://127.0.0.1:1/c');
    const expired = new ServedPages({ lifetimeMs: -1 });
    assert.equal(expired.take(expired.add('http://127.0.0.1:1', '/'), 'http://127.0.0.1:1'), null);
  });
});

describe('what waits for a page', () => {
  const limits = { maxQueuedEvents: 3, maxBufferedBytes: 256 };

  test('without a stream, the newest events wait and the oldest are dropped and counted', () => {
    const session = new Sessions(limits).create('http://127.0.0.1:1/');
    for (let i = 1; i <= 5; i++) session.send({ n: i });
    assert.deepEqual(session.pending.map((event) => event.n), [3, 4, 5]);
    assert.equal(session.dropped, 2);
    const stream = new PassThrough();
    session.attach(stream);
    assert.equal(session.pending.length, 0);
    assert.deepEqual(stream.read().toString().trim().split('\n\n').map((line) => JSON.parse(line.slice(6)).n), [3, 4, 5]);
  });

  test('a stream the page does not read holds a bounded amount; a closed session takes nothing', () => {
    const sessions = new Sessions(limits);
    const session = sessions.create('http://127.0.0.1:1/');
    const stream = new PassThrough({ highWaterMark: 16 });
    session.attach(stream);
    for (let i = 0; i < 100; i++) session.send({ text: 'x'.repeat(40) });
    assert.ok(stream.writableLength <= limits.maxBufferedBytes + 100, `${stream.writableLength} bytes buffered`);
    assert.ok(session.dropped > 90);
    sessions.close(session);
    session.send({ late: true });
    assert.deepEqual([session.pending, sessions.get(session.id)], [[], null]);
  });
});

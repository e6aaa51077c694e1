'use strict';
// The bridge's own rules, asked directly over HTTP as any local program or
// foreign page could: only requests addressed to the bridge and, for POSTs,
// from its own origin are served; malformed requests are refused with a
// short reason; a page's address is the one the bridge served; a page
// reaches only its own elements and objects; only the given folders are
// served; the host's stray output, a host that does not answer and pages that
// go away or never read their events leave the bridge serving.
const assert = require('node:assert/strict');
const http = require('node:http');
const { after, before, describe, test } = require('node:test');

const paths = require('../lib/paths');
const protocol = require('../lib/protocol');
const { startStack } = require('../lib/stack');
const { PAGES, prefix, waitFor } = require('./support');

const PROBE = 'application/x-halvo-probe';
let stack;
const logs = [];

before(async () => {
  stack = await startStack({
    prefix: prefix('bare'),
    modules: [paths.PROBE, paths.PLUGIN],
    roots: [{ prefix: '/tests/', dir: PAGES }],
    log: (text) => logs.push(text),
  });
});

after(async () => {
  if (!stack) return;
  const ledger = await stack.stop();
  assert.deepEqual([ledger.memory, ledger.objects, ledger.instances, ledger.faults], [0, 0, 0, 0]);
});

function ownHost() {
  return `127.0.0.1:${stack.bridge.port}`;
}

// One request as any program on this machine can make it: every header as given, Host included
// (undefined leaves a header out).
function raw(method, address, { headers = {}, body = null } = {}) {
  const given = Object.fromEntries(Object.entries({ Host: ownHost(), ...headers }).filter(([, value]) => value !== undefined));
  return new Promise((resolve, reject) => {
    const request = http.request({ host: '127.0.0.1', port: stack.bridge.port, method, path: address, headers: given, setHost: false },
      (response) => {
        const chunks = [];
        response.on('data', (chunk) => chunks.push(chunk));
        response.on('end', () => resolve({ status: response.statusCode, text: Buffer.concat(chunks).toString('utf8') }));
      });
    request.on('error', reject);
    if (body !== null) request.write(body);
    request.end();
  });
}

// A POST to a route, from the bridge's own origin unless the headers say otherwise.
async function api(route, body, headers = {}) {
  const response = await raw('POST', `/halvo-bridge/${route}`, {
    headers: { Origin: stack.url, 'Content-Type': 'application/json', ...headers },
    body: typeof body === 'string' ? body : JSON.stringify(body),
  });
  return { status: response.status, body: JSON.parse(response.text) };
}

// The token the bridge wrote into a page it served.
async function servedToken(address = '/tests/probe.html', host = ownHost()) {
  const page = await raw('GET', address, { headers: { Host: host } });
  assert.equal(page.status, 200);
  return /data-page="([0-9a-f]+)"/.exec(page.text)[1];
}

async function openSession(address) {
  const opened = await api('session', { page: await servedToken(address) });
  assert.equal(opened.status, 200, JSON.stringify(opened.body));
  return opened.body.session;
}

async function pageWithProbe(attributes = []) {
  const session = await openSession();
  const made = await api('new', { session, element: 1, type: PROBE, width: 10, height: 10, attributes });
  assert.equal(made.body.npError, 0);
  return { session, np: made.body.np };
}

function call(page, name, ...args) {
  return api('call', { session: page.session, element: 1, name, args });
}

function textOf(answer) {
  return protocol.parseText(answer.body.value).toString('utf8');
}

async function counts() {
  const ledger = await stack.bridge.ledger();
  return { sessions: ledger.sessions, instances: ledger.host.instances };
}

// The bridge's limits changed for one test, then put back.
async function withLimits(limits, body) {
  const saved = { ...stack.bridge.limits };
  Object.assign(stack.bridge.limits, limits);
  try {
    await body();
  } finally {
    Object.assign(stack.bridge.limits, saved);
  }
}

describe('the doors: a request must be addressed to the bridge, a POST come from its own origin', () => {
  test('a request naming another Host (DNS rebinding) gets 403 and nothing: no page, no session, no ledger', async () => {
    const port = stack.bridge.port;
    const before = await counts();
    for (const host of [`evil.example:${port}`, 'evil.example', `127.0.0.1:${port + 1}`, `127.0.0.1.evil.example:${port}`, '', undefined]) {
      for (const address of ['/demo/', '/tests/probe.html', '/halvo-bridge/shim.js', '/halvo-bridge/ledger', '/halvo-bridge/events?session=x']) {
        const answer = await raw('GET', address, { headers: { Host: host } });
        assert.equal(answer.status, 403, `${address} for Host ${host}`);
        assert.doesNotMatch(answer.text, /<|data-page|memory/);
      }
      const origin = host ? `http://${host}` : undefined;
      const session = await raw('POST', '/halvo-bridge/session', {
        headers: { Host: host, Origin: origin, 'Content-Type': 'application/json' }, body: '{"page":"x"}',
      });
      assert.equal(session.status, 403, `session for Host ${host}`);
    }
    assert.deepEqual(await counts(), before);
    // The bridge's own names, in any case, are served.
    for (const host of [ownHost(), `localhost:${port}`, `LocalHost:${port}`]) {
      assert.equal((await raw('GET', '/tests/probe.html', { headers: { Host: host } })).status, 200, host);
    }
  });

  test('a POST without an Origin, or with any other than the bridge\'s under the name it was sent to, gets 403', async () => {
    const port = stack.bridge.port;
    const token = await servedToken();
    for (const origin of [undefined, 'null', 'http://127.0.0.1:1', `http://localhost:${port}`, `https://127.0.0.1:${port}`,
      `http://127.0.0.1:${port}/`, `http://evil.example:${port}`]) {
      const answer = await api('session', { page: token }, { Origin: origin });
      assert.equal(answer.status, 403, `Origin ${origin}`);
    }
    // The refusals took nothing: the token still opens the page's session.
    assert.equal((await api('session', { page: token })).status, 200);
    assert.equal((await api('session', { page: 'x' }, { 'Content-Type': 'application/x-www-form-urlencoded' })).status, 415);
    assert.equal((await raw('GET', '/halvo-bridge/ledger', { headers: { Origin: 'http://evil.example' } })).status, 403);
  });

  test('a session opens only for a page the bridge served, once; its address is the one served', async () => {
    assert.equal((await api('session', { page: 'f00d' })).status, 400);
    const token = await servedToken('/tests/probe.html?from=test');
    const opened = await api('session', { page: token, href: 'http://evil.example/', origin: 'http://evil.example' });
    assert.equal((await api('session', { page: token })).status, 400, 'a token opens one session');
    // Served to a page of the other name: that page's origin only.
    const other = await servedToken('/tests/probe.html', `localhost:${stack.bridge.port}`);
    assert.equal((await api('session', { page: other })).status, 400);
    const page = { session: opened.body.session };
    assert.equal((await api('new', { session: page.session, element: 1, type: PROBE })).body.npError, 0);
    assert.equal(textOf(await call(page, 'PageAtNew')), `${stack.url}/tests/probe.html?from=test`);
    await api('close', { session: page.session });
  });
});

describe('malformed requests get 400 and a short reason, and the bridge goes on', () => {
  test('bodies that are not JSON objects, fields of the wrong type, unknown elements', async () => {
    const page = await pageWithProbe();
    const session = page.session;
    const good = { session, element: 1, name: 'Echo', args: [] };
    const cases = [
      ['session', 'not json'], ['session', 'null'], ['session', '[]'], ['session', '"text"'], ['session', '5'],
      ['session', ''], ['session', {}], ['session', { page: 5 }],
      ['new', { session, element: '2', type: PROBE }], ['new', { session, element: -2, type: PROBE }],
      ['new', { session, element: 2.5, type: PROBE }], ['new', { session, element: 2 }],
      ['new', { session, element: 2, type: PROBE, x: 'left' }], ['new', { session, element: 2, type: PROBE, width: null }],
      ['new', { session, element: 2, type: PROBE, attributes: 'id=a' }],
      ['new', { session, element: 2, type: PROBE, attributes: [['id']] }],
      ['new', { session, element: 2, type: PROBE, attributes: [[1, 2]] }],
      ['new', { session, element: 1, type: PROBE }], // exists already
      ['call', { ...good, name: 5 }], ['call', { ...good, args: 'i:1' }], ['call', { ...good, args: [5] }],
      ['call', { ...good, args: ["'a b"] }], ['call', { ...good, args: ['i:1 i:2'] }], ['call', { ...good, args: ['d:1;quit 1'] }],
      ['call', { ...good, element: 99 }], ['call', { ...good, element: '1' }], ['call', { ...good, session: 7 }],
      ['has', { session, element: 1 }], ['get', { session, element: 'x', name: 'a' }],
      ['destroy', { session, element: 99 }], ['close', { session: null }], ['close', { session: ['x'] }],
    ];
    for (const [route, body] of cases) {
      const answer = await api(route, body);
      const label = `${route} ${JSON.stringify(body)}`;
      assert.equal(answer.status, 400, label);
      assert.equal(typeof answer.body.error, 'string', label);
      assert.ok(answer.body.error.length < 80 && !/\n|\bat\b.*:\d+/.test(answer.body.error), `${label}: ${answer.body.error}`);
    }
    assert.equal((await call(page, 'Echo', "'a%20b")).body.value, "'a%20b");
    assert.equal((await api('close', { session })).status, 200);
    assert.equal((await call(page, 'Echo')).status, 410);
  });
});

describe('a page reaches only what is its own', () => {
  test('another page\'s elements and scriptable objects are out of reach', async () => {
    const first = await pageWithProbe();
    const second = await pageWithProbe();
    const own = await call(first, 'Echo', `np:${first.np}`);
    assert.equal(own.body.value, `np:${first.np}`);
    const foreign = await call(second, 'Echo', `np:${first.np}`);
    assert.equal(foreign.body.value, 'null');
    assert.equal((await api('destroy', { session: second.session, element: 2 })).status, 400);
    await api('close', { session: first.session });
    await api('close', { session: second.session });
  });

  test('the same page-object id from two pages names two objects', async () => {
    const first = await pageWithProbe();
    const second = await pageWithProbe();
    const before = await stack.bridge.ledger();
    await call(first, 'Keep', 'fn:1');
    await call(second, 'Keep', 'fn:1');
    const kept = await stack.bridge.ledger();
    assert.equal(kept.pageObjects, before.pageObjects + 2);
    assert.equal(kept.host.objects, before.host.objects + 2);
    // The call of one page's function is answered to that page only, and waits for its result.
    const called = await call(second, 'Call', 'fn:1', "'x");
    assert.deepEqual(called.body.callback, { fn: 1, args: ["'x"] });
    const finished = await api('return', { session: second.session, call: called.body.call, value: 'void' });
    assert.equal(finished.body.value, 'true');
    assert.equal((await api('return', { session: second.session, call: called.body.call, value: 'void' })).status, 410);
    await api('close', { session: first.session });
    await api('close', { session: second.session });
    assert.equal((await stack.bridge.ledger()).pageObjects, before.pageObjects);
  });
});

describe('what is served', () => {
  test('only files of the given folders, and HTML pages with the shim once', async () => {
    for (const address of ['/demo/%2e%2e/README.md', '/demo/..%2fREADME.md', '/demo/%2e%2e%2fREADME.md', '/README.md',
      '/tests/%00', '/demo/nothing.html', '//evil.example/demo/']) {
      assert.equal((await raw('GET', address)).status, 404, address);
    }
    for (const address of ['http://[', `http://evil.example:${stack.bridge.port}/demo/`, '*']) {
      assert.equal((await raw('GET', address)).status, 400, address);
    }
    const page = (await raw('GET', '/demo/')).text;
    assert.equal(page.split('/halvo-bridge/shim.js').length, 2);
    assert.equal((await raw('GET', '/page_library/halvo.js')).status, 200);
    const root = await fetch(`${stack.url}/`, { redirect: 'manual' });
    assert.deepEqual([root.status, root.headers.get('location')], [302, '/demo/']);
  });
});

describe('the host\'s output and its time', () => {
  test('a host line the bridge cannot read is reported and dropped, and the bridge serves on', async () => {
    const page = await pageWithProbe();
    const lines = ['garbage', "geturl x 'a 'b", 'geturl 1 %', 'callback 0 fn:x', 'callback', 'fault', 'released fn:',
      'status 1', 'plugin', 'ok x', '\u00ff\u00fe binary', "note 'a 'b"];
    const before = logs.length;
    for (const line of lines) assert.equal((await call(page, 'WriteOut', protocol.text(`${line}\n`))).status, 200, line);
    const dropped = logs.slice(before).filter((text) => text.startsWith('host line dropped'));
    assert.equal(dropped.length, lines.length, logs.slice(before).join('\n'));
    assert.equal((await call(page, 'Echo', 'i:7')).body.value, 'i:7');
    await api('close', { session: page.session });
  });

  test('a call the host does not answer in time fails with a clear error; the late answer is dropped and other pages go on', async () => {
    const stuck = await pageWithProbe();
    const other = await pageWithProbe();
    await withLimits({ hostCallMs: 1000 }, async () => {
      const answer = await call(stuck, 'Sleep', 'd:4000');
      assert.equal(answer.status, 504);
      assert.match(answer.body.error, /did not answer in 1 s/);
    });
    // Once the host is free again, the next call gets its own answer, not the late one.
    assert.equal((await call(other, 'Echo', "'mine")).body.value, "'mine");
    assert.equal((await call(stuck, 'Echo', 'i:2')).body.value, 'i:2');
    assert.ok(logs.some((text) => /late answer dropped: call/.test(text)));
    await api('close', { session: stuck.session });
    await api('close', { session: other.session });
  });

  test('an element whose instance comes too late is not left behind', async () => {
    const before = await counts();
    const session = await openSession();
    await withLimits({ hostCallMs: 1000 }, async () => {
      const made = await api('new', { session, element: 1, type: PROBE, attributes: [['sleep', '3000']] });
      assert.equal(made.status, 504);
    });
    assert.equal((await api('call', { session, element: 1, name: 'Echo' })).status, 400);
    await api('close', { session });
    await waitFor('the late instance destroyed', async () => (await counts()).instances === before.instances);
  });
});

describe('pages that go away, or never read their events', () => {
  test('when its event stream ends, its instances are destroyed', async () => {
    const page = await pageWithProbe();
    const controller = new AbortController();
    const stream = await fetch(`${stack.url}/halvo-bridge/events?session=${page.session}`, { signal: controller.signal });
    assert.equal(stream.headers.get('content-type'), 'text/event-stream');
    assert.equal((await counts()).instances, 1);
    controller.abort();
    await waitFor('no instance', async () => (await counts()).instances === 0);
    assert.equal((await call(page, 'Echo')).status, 410);
  });

  test('a page that opens no event stream ends after the idle time: its elements destroyed, its events dropped', async () => {
    const before = await counts();
    await withLimits({ idleSessionMs: 3000 }, async () => {
      const page = await pageWithProbe();
      await call(page, 'Post', protocol.text('javascript:queued()'), protocol.text('_self'));
      assert.equal(stack.bridge.sessions.get(page.session).pending.length, 1);
      await waitFor('the session ended', async () => stack.bridge.sessions.get(page.session) === null &&
        (await counts()).instances === before.instances);
      assert.equal((await call(page, 'Echo')).status, 410);
      assert.ok(logs.some((text) => /opened no event stream/.test(text)));
    });
  });

  test('events waiting for a page are bounded: the oldest are dropped', async () => {
    await withLimits({ maxQueuedEvents: 3 }, async () => {
      const page = await pageWithProbe();
      for (let i = 1; i <= 6; i++) await call(page, 'Post', protocol.text(`javascript:n(${i})`), protocol.text('_self'));
      assert.equal(stack.bridge.sessions.get(page.session).pending.length, 3);
      const controller = new AbortController();
      const timer = setTimeout(() => controller.abort(), 30000);
      const stream = await fetch(`${stack.url}/halvo-bridge/events?session=${page.session}`, { signal: controller.signal });
      const reader = stream.body.getReader();
      let text = '';
      while ((text.match(/^data: /gm) || []).length < 3) {
        const { done, value } = await reader.read();
        if (done) break;
        text += Buffer.from(value).toString('utf8');
      }
      clearTimeout(timer);
      const urls = text.split('\n').filter((line) => line.startsWith('data: ')).map((line) => JSON.parse(line.slice(6)).url);
      assert.deepEqual(urls, ['javascript:n(4)', 'javascript:n(5)', 'javascript:n(6)']);
      controller.abort();
      await waitFor('the page\'s session ended', async () => stack.bridge.sessions.get(page.session) === null);
    });
  });
});

'use strict';
// The bridge's own rules, asked directly over HTTP as any local program or
// foreign page could: only its pages drive the module, a page reaches only
// its own elements and objects, only the given folders are served, and a
// page whose event stream ends loses its instances.
const assert = require('node:assert/strict');
const { after, before, describe, test } = require('node:test');

const paths = require('../lib/paths');
const { startStack } = require('../lib/stack');
const { PAGES, prefix, waitFor } = require('./support');

let stack;

before(async () => {
  stack = await startStack({ prefix: prefix('bare'), modules: [paths.PROBE, paths.PLUGIN], roots: [{ prefix: '/tests/', dir: PAGES }] });
});

after(async () => {
  if (!stack) return;
  const ledger = await stack.stop();
  assert.deepEqual([ledger.memory, ledger.objects, ledger.instances, ledger.faults], [0, 0, 0, 0]);
});

async function api(route, body, headers = {}) {
  const response = await fetch(`${stack.url}/halvo-bridge/${route}`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', ...headers },
    body: JSON.stringify(body),
  });
  return { status: response.status, body: await response.json() };
}

async function pageWithProbe() {
  const { body } = await api('session', {});
  const made = await api('new', { session: body.session, element: 1, type: 'application/x-halvo-probe', width: 10, height: 10 });
  assert.equal(made.body.npError, 0);
  return { session: body.session, np: made.body.np };
}

describe('who may drive the module', () => {
  test('a request from a foreign origin, or not as JSON or text, is refused', async () => {
    assert.equal((await api('session', {}, { Origin: 'http://127.0.0.1:1' })).status, 403);
    assert.equal((await api('session', {}, { 'Content-Type': 'application/x-www-form-urlencoded' })).status, 415);
    assert.equal((await api('session', {}, { Origin: stack.url })).status, 200);
    assert.equal((await api('call', { session: 'no-such-session', element: 1, name: 'Echo', args: [] })).status, 410);
  });

  test('values from a page are checked before they reach the host', async () => {
    const page = await pageWithProbe();
    for (const field of ["'a b", "'a\nb", 'i:1 i:2', 'd:1;quit 1']) {
      assert.equal((await api('call', { session: page.session, element: 1, name: 'Echo', args: [field] })).status, 400, field);
    }
    const echoed = await api('call', { session: page.session, element: 1, name: 'Echo', args: ["'a%20b"] });
    assert.equal(echoed.body.value, "'a%20b");
    await api('close', { session: page.session });
  });
});

describe('a page reaches only what is its own', () => {
  test('another page\'s elements and scriptable objects are out of reach', async () => {
    const first = await pageWithProbe();
    const second = await pageWithProbe();
    const own = await api('call', { session: first.session, element: 1, name: 'Echo', args: [`np:${first.np}`] });
    assert.equal(own.body.value, `np:${first.np}`);
    const foreign = await api('call', { session: second.session, element: 1, name: 'Echo', args: [`np:${first.np}`] });
    assert.equal(foreign.body.value, 'null');
    assert.equal((await api('destroy', { session: second.session, element: 2 })).status, 404);
    await api('close', { session: first.session });
    await api('close', { session: second.session });
  });

  test('the same page-object id from two pages names two objects', async () => {
    const first = await pageWithProbe();
    const second = await pageWithProbe();
    const before = await stack.bridge.ledger();
    await api('call', { session: first.session, element: 1, name: 'Keep', args: ['fn:1'] });
    await api('call', { session: second.session, element: 1, name: 'Keep', args: ['fn:1'] });
    const kept = await stack.bridge.ledger();
    assert.equal(kept.pageObjects, before.pageObjects + 2);
    assert.equal(kept.host.objects, before.host.objects + 2);
    // The call of one page's function is answered to that page only.
    const called = await api('call', { session: second.session, element: 1, name: 'Call', args: ['fn:1', "'x"] });
    assert.deepEqual(called.body.callbacks, [{ fn: 1, args: ["'x"] }]);
    await api('close', { session: first.session });
    await api('close', { session: second.session });
    assert.equal((await stack.bridge.ledger()).pageObjects, before.pageObjects);
  });
});

describe('what is served', () => {
  test('only files of the given folders, and HTML pages with the shim once', async () => {
    for (const address of ['/demo/%2e%2e/README.md', '/demo/..%2fREADME.md', '/demo/%2e%2e%2fREADME.md', '/README.md',
      '/tests/%00', '/demo/nothing.html']) {
      assert.equal((await fetch(stack.url + address)).status, 404, address);
    }
    const page = await (await fetch(`${stack.url}/demo/`)).text();
    assert.equal(page.split('/halvo-bridge/shim.js').length, 2);
    assert.equal((await fetch(`${stack.url}/page_library/halvo.js`)).status, 200);
    const root = await fetch(`${stack.url}/`, { redirect: 'manual' });
    assert.deepEqual([root.status, root.headers.get('location')], [302, '/demo/']);
  });
});

describe('a page that goes away', () => {
  test('when its event stream ends, its instances are destroyed', async () => {
    const page = await pageWithProbe();
    const controller = new AbortController();
    const stream = await fetch(`${stack.url}/halvo-bridge/events?session=${page.session}`, { signal: controller.signal });
    assert.equal(stream.headers.get('content-type'), 'text/event-stream');
    const instances = async () => (await stack.bridge.ledger()).host.instances;
    assert.equal(await instances(), 1);
    controller.abort();
    await waitFor('no instance', async () => (await instances()) === 0);
    assert.equal((await api('call', { session: page.session, element: 1, name: 'Echo', args: [] })).status, 410);
  });
});

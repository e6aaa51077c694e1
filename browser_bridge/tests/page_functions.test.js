'use strict';
// Page functions run during the module's call, as in a browser: the host
// waits for the page, the function's result (or its failure) is what
// NPN_InvokeDefault answers, calls it makes into the plug-in are served while
// the outer call waits, an instance removed meanwhile goes only after the
// calls into it returned, and a page that does not answer in time leaves the
// call to go on with a clear error. First the host's side through its
// protocol, then pages in headless Chromium, with the probe module.
const assert = require('node:assert/strict');
const { after, before, describe, test } = require('node:test');

const { launchBrowser } = require('../lib/browser');
const paths = require('../lib/paths');
const protocol = require('../lib/protocol');
const { startStack } = require('../lib/stack');
const { PAGES, openPage, prefix } = require('./support');

const PAGE = 'http://127.0.0.1:8400/tests/functions.html';
let stack;
let browser;
let nextElement = 9000; // the bridge's own elements count from 1
const destroyed = [];

before(async () => {
  stack = await startStack({
    prefix: prefix('bare'),
    modules: [paths.PLUGIN, paths.PROBE],
    roots: [{ prefix: '/tests/', dir: PAGES }],
  });
  stack.host.on('destroyed', (event) => destroyed.push(event));
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  if (!stack) return;
  const ledger = await stack.stop();
  assert.deepEqual([ledger.memory, ledger.objects, ledger.instances, ledger.faults], [0, 0, 0, 0]);
});

async function newElement() {
  const element = nextElement++;
  const answer = await stack.host.request('new', String(element), protocol.text(PAGE), protocol.text('application/x-halvo-probe'),
    '0', '0', '10', '10');
  assert.deepEqual([answer.status, answer.fields[0]], ['ok', '0']);
  return String(element);
}

function converse(...fields) {
  return stack.host.converse({ timeoutMs: 20000 }, ...fields);
}

describe('the host waits for the page function', () => {
  test('its result, in every kind of value, is what NPN_InvokeDefault answers; a failure is false', async () => {
    const element = await newElement();
    const cases = [
      ["'caf%C3%A9%20x", "'caf%C3%A9%20x"], ['d:2.5', 'd:2.5'], ['true', 'true'], ['null', 'null'], ['void', 'void'],
      ['i:-3', 'i:-3'], ['obj:77', 'obj:77'], ['fn:78', 'fn:78'],
    ];
    for (const [returned, expected] of cases) {
      const call = converse('call', element, protocol.text('CallReturn'), 'fn:5', "'arg");
      const step = await call.next();
      assert.equal(step.kind, 'callback');
      assert.deepEqual([step.callback.fn.value, step.callback.args], [5, ["'arg"]]);
      call.reply(returned);
      const answer = await call.next();
      assert.deepEqual([answer.kind, answer.answer.status, answer.answer.fields], ['answer', 'ok', [expected]], returned);
    }
    // A function that threw, and a result the host cannot take, are failed calls.
    for (const answer of [(call) => call.fail(), (call) => call.reply('np:999999')]) {
      const call = converse('call', element, protocol.text('CallReturn'), 'fn:5');
      await call.next();
      answer(call);
      assert.deepEqual((await call.next()).answer.fields, ["'(failed)"]);
    }
    assert.equal((await stack.host.request('destroy', element)).status, 'ok');
  });

  test('requests made while it waits are served nested; answers out of turn and quit are refused', async () => {
    const element = await newElement();
    const outer = converse('call', element, protocol.text('CallReturn'), 'fn:6');
    const first = await outer.next();
    // A nested call, itself calling a page function: the innermost answers first.
    const inner = converse('call', element, protocol.text('CallReturn'), 'fn:7');
    assert.equal((await inner.next()).callback.fn.value, 7);
    const wrong = await stack.host.request('return', String(first.callback.seq), "'too early");
    assert.equal(wrong.status, 'error');
    inner.reply("'inner");
    assert.deepEqual((await inner.next()).answer.fields, ["'inner"]);
    const echo = await stack.host.request('call', element, protocol.text('Echo'), 'i:4');
    assert.deepEqual(echo.fields, ['i:4']);
    // The host cannot end with a call on its stack.
    assert.equal((await stack.host.request('quit')).status, 'error');
    outer.reply("'outer");
    assert.deepEqual((await outer.next()).answer.fields, ["'outer"]);
    assert.equal((await stack.host.request('return', '1', 'void')).status, 'error');
    assert.equal((await stack.host.request('destroy', element)).status, 'ok');
  });

  test('an instance destroyed while a call into it waits goes when the call returns', async () => {
    const element = await newElement();
    const before = await stack.host.ledger();
    const outer = converse('call', element, protocol.text('CallReturn'), 'fn:8');
    await outer.next();
    const asked = await stack.host.request('destroy', element);
    assert.deepEqual([asked.status, asked.fields], ['ok', ['delayed']]);
    // Gone for new requests, alive for the call on the stack.
    assert.equal((await stack.host.request('call', element, protocol.text('Echo'))).status, 'error');
    assert.equal((await stack.host.ledger()).instances, before.instances);
    const count = destroyed.length;
    outer.reply("'still%20here");
    const answer = await outer.next();
    assert.deepEqual(answer.answer.fields, ["'still%20here"]);
    assert.deepEqual(destroyed.slice(count).map((event) => event.element), [Number(element)]);
    assert.ok(answer.reports.some((report) => report.kind === 'destroyed'), 'destroyed before the answer');
    assert.equal((await stack.host.ledger()).instances, before.instances - 1);
  });
});

describe('pages run the functions during the call', () => {
  async function page() {
    return openPage(browser, `${stack.url}/tests/functions.html`);
  }

  test('what a page function returns reaches the module, in every kind of value', async () => {
    const tab = await page();
    const result = await tab.evaluate(() => {
      const probe = document.getElementById('probe');
      const object = { a: 1 };
      const fn = () => 1;
      const back = (value) => probe.CallReturn(() => value);
      return {
        values: ['café "x"', 2.5, -0, true, null, undefined].map((value) => {
          const got = back(value);
          return Object.is(got, value) ? 'same' : String(got);
        }),
        object: back(object) === object,
        fn: back(fn) === fn,
        element: back(probe) === probe,
        args: probe.CallReturn((...args) => args.join('|'), 'a', 2, false),
        thrown: probe.CallReturn(() => { throw new Error('inside'); }),
      };
    });
    assert.deepEqual(result, {
      values: ['same', 'same', 'same', 'same', 'same', 'same'], object: true, fn: true, element: true,
      args: 'a|2|false', thrown: '(failed)',
    });
    assert.deepEqual(tab.errors, ['inside']);
    await tab.close();
  });

  test('a page function may call the plug-in: the call is served while the outer one waits', async () => {
    const tab = await page();
    const result = await tab.evaluate(() => {
      const probe = document.getElementById('probe');
      const order = [];
      const answer = probe.CallReturn(() => {
        order.push('outer function');
        const inner = probe.CallReturn(() => {
          order.push('inner function');
          return probe.Echo('deepest');
        });
        order.push('inner call returned');
        return `${inner}+outer`;
      });
      order.push('outer call returned');
      return { answer, order };
    });
    assert.deepEqual(result, {
      answer: 'deepest+outer',
      order: ['outer function', 'inner function', 'inner call returned', 'outer call returned'],
    });
    await tab.close();
  });

  test('a page function may call into another frame\'s element: served nested too, not held behind the call', async () => {
    const tab = await openPage(browser, `${stack.url}/tests/frames.html`);
    await tab.waitForFunction(() => {
      const inner = document.getElementById('inner').contentWindow;
      return inner.__halvoBridge && inner.document.readyState === 'complete';
    });
    const answer = await tab.evaluate(() => {
      const inner = document.getElementById('inner').contentDocument.getElementById('probe');
      return document.getElementById('probe').CallReturn(() => inner.Echo('from the frame'));
    });
    assert.equal(answer, 'from the frame');
    await tab.close();
  });

  test('an element removed inside a page function keeps its instance until the call returns; nothing is left', async () => {
    await settledLedger(); // the earlier tests' pages are gone
    const tab = await page();
    const count = destroyed.length;
    const result = await tab.evaluate(() => {
      const doomed = document.getElementById('doomed');
      const answer = doomed.CallReturn(() => {
        doomed.remove();
        return doomed.isConnected ? 'still in' : 'removed';
      });
      return { answer, after: typeof doomed.Echo };
    });
    assert.deepEqual(result, { answer: 'removed', after: 'undefined' });
    // The host delayed NPP_Destroy until the call returned, then ran it.
    assert.equal(destroyed.length, count + 1);
    assert.equal(destroyed[count].npError, 0);
    await tab.close();
    const ledger = await settledLedger();
    assert.deepEqual([ledger.host.memory, ledger.host.objects, ledger.host.instances, ledger.elements, ledger.pageObjects],
      [0, 0, 0, 0, 0]);
  });

  test('a page that does not answer in time: the call goes on without it, and the page gets a clear error', async () => {
    const saved = stack.bridge.limits.pageFunctionMs;
    stack.bridge.limits.pageFunctionMs = 500;
    const tab = await page();
    try {
      const result = await tab.evaluate(() => {
        const probe = document.getElementById('probe');
        let error = null;
        try {
          probe.CallReturn(() => {
            const end = Date.now() + 1500;
            while (Date.now() < end) { /* the page is busy */ }
            return 'late';
          });
        } catch (thrown) {
          error = thrown.message;
        }
        return { error, after: probe.Echo('goes on') };
      });
      assert.match(result.error, /410.*did not return in 0\.5 s/);
      assert.equal(result.after, 'goes on');
    } finally {
      stack.bridge.limits.pageFunctionMs = saved;
      await tab.close();
    }
  });
});

// The bridge's ledger once the closed pages' sessions are gone.
async function settledLedger() {
  const end = Date.now() + 15000;
  for (;;) {
    const ledger = await stack.bridge.ledger();
    if ((ledger.sessions === 0 && ledger.host.instances === 0) || Date.now() > end) return ledger;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

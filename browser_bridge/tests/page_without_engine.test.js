'use strict';
// Pages in headless Chromium drive the plug-in module through the bridge and
// the host, with no download engine registered: the element as the
// scriptable object, status codes, ExecuteFile's refusals, instances that
// come and go with their elements and pages; and, with the probe module, the
// paths every page relies on: javascript: URLs, callbacks and failed calls.
const assert = require('node:assert/strict');
const http = require('node:http');
const { after, before, describe, test } = require('node:test');

const { launchBrowser } = require('../lib/browser');
const paths = require('../lib/paths');
const { startStack } = require('../lib/stack');
const { PAGES, openPage, prefix, waitFor } = require('./support');

let stack;
let browser;

before(async () => {
  stack = await startStack({
    prefix: prefix('bare'),
    modules: [paths.PLUGIN, paths.PROBE],
    roots: [{ prefix: '/tests/', dir: PAGES }],
  });
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  if (!stack) return;
  const ledger = await stack.stop();
  // The probe's deliberate faults are not made here: a clean run leaves nothing and no fault.
  assert.deepEqual([ledger.memory, ledger.objects, ledger.instances, ledger.faults], [0, 0, 0, 0]);
});

function page(name) {
  return openPage(browser, `${stack.url}/tests/${name}`);
}

describe('the element is the scriptable object', () => {
  test('every one of the 38 methods is there by its exact name, and no other spelling is', async () => {
    const tab = await page('two_elements.html');
    const result = await tab.evaluate(() => {
      const element = document.getElementById('first');
      return {
        methods: Halvo.METHOD_NAMES.filter((name) => typeof element[name] === 'function').length,
        lower: typeof element.createDownload,
        firstLower: typeof element.createdownload,
        other: typeof element.NoSuchMethod,
        dom: typeof element.getAttribute, // the element's own DOM stays
        object: typeof document.getElementById('second').CreateDownload,
      };
    });
    assert.deepEqual(result, { methods: 38, lower: 'undefined', firstLower: 'undefined', other: 'undefined',
      dom: 'function', object: 'function' });
    await tab.close();
  });
});

describe('status codes without an engine', () => {
  test('arguments are judged before the engine: bad ones answer 2, good ones 1', async () => {
    const tab = await page('probe.html');
    const answers = await tab.evaluate(() => {
      const e = document.getElementById('halvo');
      const fn = () => {};
      return {
        create: e.CreateDownload('http://x/a', 'C:\\d', 'a', '', 1, 0),
        createFive: e.CreateDownload('http://x/a', 'C:\\d', 'a', '', 1),
        createBoolean: e.CreateDownload('http://x/a', 'C:\\d', 'a', '', true, 0),
        createNumberText: e.CreateDownload(1, 'C:\\d', 'a', '', 1, 0),
        port: e.SetUDPPort(0),
        portNegativeZero: e.SetUDPPort(-0),
        goodPort: e.SetUDPPort(6881),
        limit: e.SetLimitSpeed(10),
        peer: e.GetPeerID(),
        ip: e.GetIP(),
        speed: e.GetTotalDownloadSpeed(1, 2, 3),
        workText: e.LoadWorkTask('not a function'),
        work: e.LoadWorkTask(fn),
        finished: e.LoadFinishTask(fn),
        noOp: [e.GetResourceInfo(1), e.AddPeer(), e.SetResvrWordUrl('x'), e.GetResvrWordUrl()],
      };
    });
    assert.deepEqual(answers, {
      create: 1, createFive: 2, createBoolean: 2, createNumberText: 2, port: 2, portNegativeZero: 2, goodPort: 1,
      limit: 2, peer: 1, ip: 1, speed: 1, workText: 2, work: 1, finished: 1,
      noOp: [undefined, undefined, undefined, undefined],
    });
    await tab.close();
  });

  test('the page library returns the statuses, or throws them when asked to', async () => {
    const tab = await page('probe.html');
    const result = await tab.evaluate(() => {
      const plain = new Halvo.Transfer(document.getElementById('halvo'));
      const strict = new Halvo.Transfer(document.getElementById('halvo'), { throwOnStatus: true });
      let thrown = null;
      try {
        strict.setAutoStart(true);
      } catch (error) {
        thrown = { name: error.name, status: error.status, method: error.method, code: error.code };
      }
      let connect = null;
      try {
        Halvo.connect(document.getElementById('halvo'));
      } catch (error) {
        connect = { code: error.code, status: error.status, installed: /no engine is installed/.test(error.message) };
      }
      return { work: plain.loadWorkTask(), peer: plain.getPeerID(), thrown, connect };
    });
    assert.deepEqual(result, {
      work: { status: 1, tasks: [] },
      peer: 1,
      thrown: { name: 'HalvoError', status: 1, method: 'SetAutoStart', code: 'page-not-allowed' },
      // Without an engine the plug-in answers as to a refused page; the message names both.
      connect: { code: 'page-not-allowed', status: 1, installed: true },
    });
    await tab.close();
  });

  test('ExecuteFile refuses wrong arguments, and refuses to act without an engine', async () => {
    const tab = await page('probe.html');
    const answers = await tab.evaluate(() => {
      const e = document.getElementById('halvo');
      return [e.ExecuteFile('C:\\windows'), e.ExecuteFile(5, 1), e.ExecuteFile(null, 1), e.ExecuteFile('C:\\windows', 1)];
    });
    assert.deepEqual(answers, [2, 2, 2, 1]);
    await tab.close();
  });
});

describe('instances come and go with their elements and pages', () => {
  test('removing an element destroys its instance, adding one makes one, reloading makes them anew', async () => {
    const tab = await page('two_elements.html');
    const counts = async () => (await stack.bridge.ledger()).host.instances;
    assert.equal(await counts(), 2);
    const afterRemoval = await tab.evaluate(() => {
      const element = document.getElementById('first');
      element.remove();
      return typeof element.CreateDownload;
    });
    assert.equal(afterRemoval, 'undefined');
    await waitFor('one instance', async () => (await counts()) === 1);
    const added = await tab.evaluate(() => {
      const element = document.createElement('embed');
      element.type = 'application/x-halvoplugin';
      document.body.appendChild(element);
      return element.CreateDownload('u', 'f', 'n', 'r', 1, 0);
    });
    assert.equal(added, 1);
    assert.equal(await counts(), 2);
    // Moved elsewhere in the document: a new instance, as browsers reload a moved plug-in.
    const before = await stack.bridge.ledger();
    await tab.evaluate(() => document.body.prepend(document.getElementById('second')));
    await waitFor('the moved element\'s instance', async () => (await counts()) === 2);
    assert.equal(await tab.evaluate(() => document.getElementById('second').GetProxy()), 1);
    await tab.reload();
    await waitFor('two instances after the reload', async () => (await counts()) === 2);
    assert.equal(await tab.evaluate(() => document.getElementById('first').GetProxy()), 1);
    await tab.close();
    const ledger = await waitFor('no instance', async () => {
      const current = await stack.bridge.ledger();
      return current.host.instances === 0 ? current : null;
    });
    assert.deepEqual([ledger.host.memory, ledger.host.objects, ledger.sessions, ledger.elements, ledger.pageObjects],
      [0, 0, 0, 0, 0]);
    assert.equal(before.host.faults, ledger.host.faults);
  });

  test('an element of another type stays a plain element', async () => {
    const tab = await page('probe.html');
    const kind = await tab.evaluate(() => {
      const other = document.createElement('embed');
      other.type = 'application/x-shockwave';
      document.body.appendChild(other);
      return typeof other.Echo;
    });
    assert.equal(kind, 'undefined');
    await tab.close();
  });
});

describe('the page\'s address and its messages', () => {
  test('the module learns the page\'s address from the requests its browser made', async () => {
    for (const address of [`${stack.url}/tests/probe.html?q=1`, `http://localhost:${stack.bridge.port}/tests/probe.html`]) {
      const tab = await openPage(browser, address);
      const [href, learned] = await tab.evaluate(() => [location.href, document.getElementById('probe').PageAtNew()]);
      assert.equal(learned, href);
      await tab.close();
    }
  });

  test('the page library reads only messages from the page\'s own window and origin', async () => {
    const tab = await page('messages.html');
    await tab.evaluate((otherOrigin) => {
      const text = window.eventText;
      // Event messages by their text, but not from this window or not of this origin.
      window.dispatchEvent(new MessageEvent('message', { data: text('foreign-origin'), origin: 'http://evil.example', source: window }));
      window.dispatchEvent(new MessageEvent('message', { data: text('no-source'), origin: location.origin }));
      for (const [base, key] of [[location.origin, 'same-origin-frame'], [otherOrigin, 'other-origin-frame']]) {
        const frame = document.createElement('iframe');
        frame.src = `${base}/tests/post_to_parent.html#${encodeURIComponent(text(key))}`;
        document.body.appendChild(frame);
      }
      // And the plug-in's own, through a javascript: URL into the element's frame.
      document.getElementById('probe').Post(`javascript:window.postMessage('${text('plug-in')}',window.location.href)`, '_self');
    }, `http://localhost:${stack.bridge.port}`);
    await waitFor('all five messages', () => tab.evaluate(() => window.raw.length >= 5));
    assert.deepEqual(await tab.evaluate(() => window.events), ['plug-in']);
    await tab.close();
  });
});

describe('a page of another site', () => {
  // A site of its own on this machine: one page, whatever is asked.
  async function foreignSite() {
    const server = http.createServer((request, response) => {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      response.end('<!doctype html><html><head><title>elsewhere</title></head><body></body></html>');
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    return { server, url: `http://127.0.0.1:${server.address().port}/` };
  }

  test('opens no session, reads nothing of the bridge, and its messages into a framed page are ignored', async () => {
    const site = await foreignSite();
    const answered = [];
    const watch = (request, response) => response.on('finish', () => answered.push(`${request.method} ${request.url} ${response.statusCode}`));
    stack.bridge.server.prependListener('request', watch);
    const tab = await openPage(browser, site.url);
    const outcome = await tab.evaluate(async (bridge) => {
      const body = JSON.stringify({ page: 'x' });
      const result = {};
      // A simple POST any site may send without asking: it goes out, its answer is the site's no more.
      result.fetch = await fetch(`${bridge}/halvo-bridge/session`, { method: 'POST', headers: { 'Content-Type': 'text/plain' }, body })
        .then((response) => response.status, () => 'unreadable');
      await fetch(`${bridge}/halvo-bridge/session`, { method: 'POST', mode: 'no-cors', headers: { 'Content-Type': 'text/plain' }, body });
      navigator.sendBeacon(`${bridge}/halvo-bridge/session`, new Blob([body], { type: 'text/plain' }));
      result.ledger = await fetch(`${bridge}/halvo-bridge/ledger`).then((response) => response.json(), () => 'unreadable');
      return result;
    }, stack.url);
    assert.deepEqual(outcome, { fetch: 'unreadable', ledger: 'unreadable' });
    await waitFor('three refused sessions', () => answered.filter((line) => line === 'POST /halvo-bridge/session 403').length === 3);
    assert.ok(!answered.some((line) => /session 200/.test(line)), answered.join('\n'));

    // It frames a page of the bridge and posts it an event message, as if from the plug-in.
    await tab.evaluate((address) => new Promise((resolve) => {
      const frame = document.createElement('iframe');
      frame.src = address;
      frame.onload = () => {
        const text = ['3', 'C:\\', 'forged', ...Array(21).fill('0')].join('|');
        frame.contentWindow.postMessage(text, '*');
        resolve();
      };
      document.body.appendChild(frame);
    }), `${stack.url}/tests/messages.html`);
    const framed = await waitFor('the framed page', () => tab.frames().find((frame) => frame.url().endsWith('/tests/messages.html')) || null);
    await waitFor('the forged message', () => framed.evaluate(() => window.raw.length === 1));
    assert.deepEqual(await framed.evaluate(() => window.events), []);
    const session = await framed.evaluate(() => window.__halvoBridge.session);
    await tab.close();
    stack.bridge.server.removeListener('request', watch);
    await new Promise((resolve) => site.server.close(resolve));
    await waitFor('the framed page gone', () => stack.bridge.sessions.get(session) === null);
  });
});

describe('what the module sends reaches the page as a browser delivers it', () => {
  test('a javascript: URL runs in the element\'s frame: percent-decoded, as UTF-8, posting a real message', async () => {
    const tab = await page('probe.html');
    const answers = await tab.evaluate(() => {
      const probe = document.getElementById('probe');
      return [
        probe.Post("javascript:window.postMessage('a%20b%22%C3%A9\\u0031',window.location.href)", '_self'),
        // Decoded first, as a browser does: the quote ends the literal and the script fails.
        probe.Post("javascript:window.postMessage('a%27b',window.location.href)", '_self'),
        probe.Post(" JavaScript:window.postMessage('second',window.location.href)", '_self'),
        probe.Post("javascript:window.postMessage('100%',window.location.href)", '_self'),
        probe.Post("http://127.0.0.1/javascript:window.postMessage('no')", '_self'),
        probe.Post("javascript:window.postMessage('no',window.location.href)", '_top'),
      ];
    });
    assert.deepEqual(answers, [0, 0, 0, 0, 10, 9]);
    const received = await waitFor('three messages', () => tab.evaluate(() => (window.received.length >= 3 ? window.received : null)));
    const origin = new URL(stack.url).origin;
    assert.deepEqual(received, [
      { data: 'a b"é1', trusted: true, own: true, origin },
      { data: 'second', trusted: true, own: true, origin },
      { data: '100%', trusted: true, own: true, origin },
    ]);
    assert.equal(tab.errors.length, 1);
    assert.match(tab.errors[0], /SyntaxError|Unexpected|missing/i);
    await tab.close();
  });

  test('each element\'s URLs run in its own frame: a frame is a page of its own', async () => {
    const tab = await page('frames.html');
    const inner = await waitFor('the inner frame', async () => {
      const frame = tab.frame({ url: /probe\.html$/ });
      return frame && (await frame.evaluate(() => document.readyState === 'complete')) ? frame : null;
    });
    await inner.evaluate(() => document.getElementById('probe').Post("javascript:window.postMessage('inner',window.location.href)", '_self'));
    await tab.evaluate(() => document.getElementById('probe').Post("javascript:window.postMessage('top',window.location.href)", '_self'));
    await waitFor('both messages', async () => (await tab.evaluate(() => window.received.length)) === 1 &&
      (await inner.evaluate(() => window.received.length)) === 1);
    assert.deepEqual(await tab.evaluate(() => window.received), ['top']);
    assert.deepEqual(await inner.evaluate(() => window.received.map((message) => message.data)), ['inner']);
    const sessions = await tab.evaluate(() => window.__halvoBridge.session) !== await inner.evaluate(() => window.__halvoBridge.session);
    assert.ok(sessions, 'the frame has a session of its own');
    await tab.close();
  });

  test('page functions the module calls run in order before the call returns', async () => {
    const tab = await page('probe.html');
    const result = await tab.evaluate(() => {
      const probe = document.getElementById('probe');
      const order = [];
      const answer = probe.Call(function (text, number, flag, nothing) {
        order.push(['called', this === window, text, number, flag, nothing]);
      }, 'é|"', 2.5, true, null);
      order.push(['returned', answer]);
      let thrownInside = null;
      window.addEventListener('error', (event) => { thrownInside = event.message; }, { once: true });
      const failed = probe.Call(() => { throw new Error('inside'); });
      return { order, failed, thrownInside };
    });
    assert.deepEqual(result.order, [['called', true, 'é|"', 2.5, true, null], ['returned', true]]);
    // As in a browser, a function that threw is a failed NPN_InvokeDefault, and the error is the page's.
    assert.equal(result.failed, false);
    assert.match(result.thrownInside, /inside/);
    await tab.close();
  });

  test('a function the module keeps is called later, outside any call, and released with the instance', async () => {
    const tab = await page('probe.html');
    await tab.evaluate(() => {
      window.later = [];
      const probe = document.getElementById('probe');
      probe.Keep((text) => window.later.push(text));
      probe.CallKeptLater('from the plug-in thread');
    });
    const later = await waitFor('the later call', () => tab.evaluate(() => (window.later.length ? window.later : null)));
    assert.deepEqual(later, ['from the plug-in thread']);
    assert.equal((await stack.bridge.ledger()).pageObjects, 1);
    await tab.evaluate(() => document.getElementById('probe').remove());
    await waitFor('the kept function released', async () => (await stack.bridge.ledger()).pageObjects === 0);
    await tab.close();
  });

  test('a failed call throws in the page, with the module\'s exception text, and the page goes on', async () => {
    const tab = await page('probe.html');
    const result = await tab.evaluate(() => {
      const probe = document.getElementById('probe');
      const outcome = [];
      for (const attempt of [() => probe.Fail(), () => probe.SetException('refused by the module')]) {
        try {
          outcome.push(['returned', attempt()]);
        } catch (error) {
          outcome.push(['threw', error.message]);
        }
      }
      outcome.push(['returned', probe.Echo('still here')]);
      return outcome;
    });
    assert.deepEqual(result, [
      ['threw', 'Error calling method on NPObject.'],
      ['threw', 'refused by the module'],
      ['returned', 'still here'],
    ]);
    await tab.close();
  });
});

'use strict';
// The headless host through its line protocol, as the bridge drives it: with
// the probe module, which breaks NPAPI's rules on request, and with the real
// plug-in module.
const assert = require('node:assert/strict');
const { after, before, describe, test } = require('node:test');

const { HostProcess } = require('../lib/host_process');
const paths = require('../lib/paths');
const protocol = require('../lib/protocol');
const wine = require('../lib/wine');
const { prefix } = require('./support');

const PREFIX = prefix('bare');
const PAGE = 'http://127.0.0.1:8400/tests/probe.html';
let host;
let nextElement = 1;

async function newElement(type = 'application/x-halvo-probe', page = PAGE) {
  const element = nextElement++;
  const answer = await host.request('new', String(element), protocol.text(page), protocol.text(type), '0', '0', '100', '50');
  assert.equal(answer.status, 'ok', JSON.stringify(answer));
  assert.equal(answer.fields[0], '0');
  return element;
}

function call(element, method, ...values) {
  return host.request('call', String(element), protocol.text(method), ...values);
}

function reportsOf(answer, kind) {
  return answer.reports.filter((report) => report.kind === kind);
}

// The host's next NAME event; fails the test when none comes within ms.
function nextEvent(name, ms = 15000) {
  return new Promise((resolve, reject) => {
    const arrived = (value) => {
      clearTimeout(timer);
      resolve(value);
    };
    const timer = setTimeout(() => {
      host.off(name, arrived);
      reject(new Error(`no ${name} event from the host within ${ms} ms`));
    }, ms);
    host.once(name, arrived);
  });
}

before(async () => {
  await wine.ensurePrefix(PREFIX);
  await wine.startServer(PREFIX);
  host = await HostProcess.start({ hostExe: paths.HOST, modules: [paths.PROBE, paths.PLUGIN], prefix: PREFIX });
});

after(async () => {
  if (host) await host.stop();
  await wine.stopServer(PREFIX);
});

describe('loading modules as a browser does', () => {
  test('each module is named by its version resource, with every MIME type it lists', () => {
    assert.deepEqual(host.plugins.map((plugin) => plugin.types), [
      ['application/x-halvo-probe', 'application/x-halvo-probe-other'],
      ['application/x-halvoplugin'],
    ]);
    assert.equal(host.plugins[1].name, 'Halvo Transfer Plugin');
    assert.equal(host.plugins[1].description, 'This is a npapi plugin built for Chrome on Windows.');
  });

  test('types match without regard to case; an unknown type makes no instance', async () => {
    const element = await newElement('APPLICATION/X-Halvo-Probe');
    assert.equal((await call(element, 'Echo', 'i:1')).fields[0], 'i:1');
    const unknown = await host.request('new', '900', protocol.text(PAGE), protocol.text('application/x-other'), '0', '0', '1', '1');
    assert.equal(unknown.status, 'error');
    // Every element is on a page: a request without the page's address makes nothing.
    const noPage = await host.request('new', '901', protocol.text('application/x-halvo-probe'), '0', '0', '1', '1');
    assert.equal(noPage.status, 'error');
    assert.equal((await call(901, 'Echo')).status, 'error');
    assert.equal((await call(900, 'Echo')).status, 'error');
  });
});

describe('values cross NPAPI unchanged', () => {
  test('texts keep every byte: blanks, percent signs, NUL, newlines, UTF-8 and bytes that are not', async () => {
    const element = await newElement();
    for (const bytes of [
      Buffer.from('a b%c'),
      Buffer.from([0x61, 0x00, 0x62, 0x0a, 0x0d]),
      Buffer.from('é😀|"\\', 'utf8'),
      Buffer.from([0xff, 0xfe, 0x80]),
      Buffer.alloc(0),
    ]) {
      const answer = await call(element, 'Echo', protocol.text(bytes));
      assert.deepEqual(protocol.parseValue(answer.fields[0]), { type: 'string', value: bytes });
    }
    // The echoed strings were host memory handed back with the result: all freed.
    assert.equal((await host.ledger()).memory, 0);
  });

  test('numbers, truth values, null and undefined keep their type and value', async () => {
    const element = await newElement();
    const values = ['d:-0', 'd:nan', 'd:inf', 'd:-inf', 'd:0.1', 'd:1.7976931348623157e+308', 'd:5e-324',
      'i:-2147483648', 'i:2147483647', 'true', 'false', 'null', 'void'];
    for (const field of values) {
      const answer = await call(element, 'Echo', field);
      assert.equal(answer.fields[0], field);
    }
  });

  test('malformed requests are refused and the host serves on', async () => {
    const element = await newElement();
    assert.equal((await call(element, 'Echo', 'd:1x')).status, 'error');
    assert.equal((await call(element, 'Echo', "'%G0")).status, 'error');
    assert.equal((await host.request('frobnicate')).status, 'error');
    assert.equal((await call(element, 'Echo', 'i:7')).fields[0], 'i:7');
  });
});

describe('host calls only on the plug-in thread', () => {
  test('a host call from another thread is refused and reported as a fault', async () => {
    const element = await newElement();
    const answer = await call(element, 'PostFromThread', protocol.text('javascript:void 0'));
    assert.equal(answer.fields[0], 'i:1'); // NPERR_GENERIC_ERROR
    const faults = reportsOf(answer, 'fault').map((report) => protocol.parseText(report.fields[0]).toString());
    assert.equal(faults.length, 1);
    assert.match(faults[0], /^NPN_GetURL called off the plug-in thread/);
    assert.equal(reportsOf(answer, 'geturl').length, 0);
  });

  test('NPN_PluginThreadAsyncCall from another thread runs the function on the plug-in thread, after the call', async () => {
    const element = await newElement();
    const faultsBefore = host.faults.length;
    const later = nextEvent('geturl');
    const answer = await call(element, 'PostLater', protocol.text('javascript:later()'));
    assert.equal(reportsOf(answer, 'geturl').length, 0);
    assert.deepEqual(await later, { element, url: 'javascript:later()', target: '_self' });
    assert.equal(host.faults.length, faultsBefore);
  });
});

describe('URLs the module loads', () => {
  test('javascript: URLs into the element\'s own frame reach the page; others are refused', async () => {
    const element = await newElement();
    const post = (url, target) => call(element, 'Post', protocol.text(url), ...(target === null ? [] : [protocol.text(target)]));
    let answer = await post('javascript:a()', '_self');
    assert.equal(answer.fields[0], 'i:0');
    assert.equal(protocol.parseText(reportsOf(answer, 'geturl')[0].fields[1]).toString(), 'javascript:a()');
    answer = await post(' JavaScript:b()', '_self');
    assert.equal(answer.fields[0], 'i:0');
    assert.equal(reportsOf(answer, 'geturl').length, 1);
    for (const [url, target, error] of [
      ['http://127.0.0.1/', '_self', 'i:10'], // NPERR_INVALID_URL
      ['javascriptx:c()', '_self', 'i:10'],
      ['javascript:d()', '_blank', 'i:9'], // NPERR_INVALID_PARAM
      ['javascript:e()', '_top', 'i:9'],
      ['javascript:f()', null, 'i:9'], // a null target streams to the module: not offered
    ]) {
      answer = await post(url, target);
      assert.equal(answer.fields[0], error, `${url} into ${target}`);
      assert.equal(reportsOf(answer, 'geturl').length, 0);
      assert.equal(reportsOf(answer, 'note').length, 1);
    }
  });
});

describe('page functions and failed calls', () => {
  test('a page function is called during the call, in order, and released when the call ends', async () => {
    const element = await newElement();
    const answer = await call(element, 'Call', 'fn:41', "'first", 'd:2.5');
    assert.equal(answer.fields[0], 'true');
    assert.deepEqual(answer.reports.map((report) => report.line), [`callback ${answer.seq} fn:41 'first d:2.5`, 'released fn:41']);
    const notCallable = await call(element, 'Call', 'obj:42');
    assert.equal(notCallable.fields[0], 'false');
  });

  test('a function the module keeps outlives the call, is called later outside any request, and goes at NPP_Destroy', async () => {
    const element = await newElement();
    const kept = await call(element, 'Keep', 'fn:43');
    assert.equal(reportsOf(kept, 'released').length, 0);
    const later = nextEvent('callback');
    await call(element, 'CallKeptLater', protocol.text('later'));
    const callback = await later;
    assert.equal(callback.seq, 0);
    assert.deepEqual(callback.fn, { type: 'fn', value: 43 });
    assert.deepEqual(callback.args, ["'later"]);
    const destroyed = await host.request('destroy', String(element));
    // The scriptable object (still held by the host) and the kept function.
    assert.deepEqual(destroyed.fields, ['0', '2']);
    assert.deepEqual(reportsOf(destroyed, 'released').map((report) => report.fields[0]), ['fn:43']);
  });

  test('a call answered false, or with NPN_SetException, fails with the exception\'s message', async () => {
    const element = await newElement();
    const failed = await call(element, 'Fail');
    assert.deepEqual([failed.status, failed.fields], ['failed', ["'"]]);
    const thrown = await call(element, 'SetException', protocol.text('engine said no'));
    assert.equal(thrown.status, 'failed');
    assert.equal(protocol.parseText(thrown.fields[0]).toString(), 'engine said no');
  });
});

describe('the page\'s window, as a module asks it for its address', () => {
  const text = (answer) => protocol.parseText(answer.fields[0]).toString('utf8');

  test('NPP_New learns the page\'s address byte for byte, and whatever it got goes back', async () => {
    for (const page of ['http://127.0.0.1:8400/tests/probe.html?x=1&y=%20', 'https://EXAMPLE.org:443/é', 'file:///C:/page.html', '']) {
      const before = await host.ledger();
      const element = await newElement('application/x-halvo-probe', page);
      assert.equal(text(await call(element, 'PageAtNew')), page);
      const made = await host.ledger();
      // The scriptable object, and the window with its location, kept for the page while the instance lives.
      assert.deepEqual([made.objects, made.memory], [before.objects + 3, before.memory]);
      const destroyed = await host.request('destroy', String(element));
      assert.deepEqual(destroyed.fields, ['0', '1'], 'only the host\'s reference to the scriptable object was left');
      const after = await host.ledger();
      assert.deepEqual([after.objects, after.memory, after.faults], [before.objects, before.memory, before.faults]);
    }
  });

  test('every ask answers references of the caller\'s own; other properties are not there', async () => {
    const element = await newElement();
    const before = await host.ledger();
    for (let i = 0; i < 3; i++) assert.equal(text(await call(element, 'Page')), PAGE);
    for (const [first, second, answer] of [
      ['document', 'href', 'no document'],
      ['location', 'host', 'no host'],
      ['location', 'location', 'no location'],
      ['href', 'href', 'no href'],
    ]) {
      assert.equal(text(await call(element, 'Page', protocol.text(first), protocol.text(second))), answer);
    }
    const after = await host.ledger();
    assert.deepEqual([after.objects, after.memory, after.faults], [before.objects, before.memory, before.faults]);
  });

  test('a window object a module keeps is taken at the instance\'s end, the location with it', async () => {
    const before = await host.ledger();
    const element = await newElement();
    assert.equal((await call(element, 'KeepWindow')).fields[0], 'true');
    const destroyed = await host.request('destroy', String(element));
    assert.deepEqual(destroyed.fields, ['0', '2']); // the scriptable object and the kept window
    const after = await host.ledger();
    assert.deepEqual([after.objects, after.memory, after.faults], [before.objects, before.memory, before.faults]);
  });
});

describe('ledgers catch what a module does wrong', () => {
  test('leaked memory, double frees, over-releases and thrown exceptions all show', async () => {
    const element = await newElement();
    const before = await host.ledger();
    await call(element, 'Leak');
    assert.equal((await host.ledger()).memory, before.memory + 1);
    const freed = await call(element, 'FreeTwice');
    assert.match(protocol.parseText(reportsOf(freed, 'fault')[0].fields[0]).toString(), /NPN_MemFree of memory/);
    const released = await call(element, 'ReleaseTwice');
    assert.match(protocol.parseText(reportsOf(released, 'fault')[0].fields[0]).toString(), /NPN_ReleaseObject on an object that is not live/);
    const threw = await call(element, 'Throw');
    assert.equal(threw.status, 'error');
    assert.match(protocol.parseText(reportsOf(threw, 'fault')[0].fields[0]).toString(), /exception left the module/);
    assert.equal((await call(element, 'Echo', 'i:5')).fields[0], 'i:5');
    assert.equal((await host.ledger()).faults, before.faults + 3);
  });
});

describe('the plug-in module in the host', () => {
  test('its scriptable object answers without an engine, and its instances leave nothing behind', async () => {
    const before = await host.ledger();
    const first = await newElement('application/x-halvoplugin');
    const second = await newElement('application/x-halvoplugin');
    const six = ["'u", "'f", "'n", "'r", 'd:1', 'd:0'];
    assert.equal((await call(first, 'CreateDownload', ...six)).fields[0], 'i:1');
    assert.equal((await call(first, 'CreateDownload', ...six.slice(0, 5))).fields[0], 'i:2');
    assert.equal((await call(first, 'CreateDownload', ...six.slice(0, 4), 'i:1', 'd:0')).fields[0], 'i:2');
    assert.deepEqual((await host.request('has', String(first), protocol.text('createDownload'))).fields, ['false', 'false']);
    const tasks = await call(second, 'LoadWorkTask', 'fn:50');
    assert.equal(tasks.fields[0], 'i:1');
    assert.equal(reportsOf(tasks, 'callback').length, 0);
    assert.equal((await call(second, 'GetResourceInfo', 'd:1')).fields[0], 'void');
    for (const element of [first, second]) {
      const destroyed = await host.request('destroy', String(element));
      assert.deepEqual(destroyed.fields, ['0', '1']); // only the host's own reference was left
    }
    const ledger = await host.ledger();
    assert.deepEqual([ledger.memory, ledger.objects, ledger.instances, ledger.faults],
      [before.memory, before.objects, before.instances - 0, before.faults]);
  });
});

'use strict';
// The page library's client (Halvo.connect) in headless Chromium against the
// real module and the working engine: a download's events in order and its
// finished promise, pause and resume, cancel, the queue's order (first,
// moveTo), a failing server and a refused address rejecting with their codes,
// a failed download retried, removal with and without the file, search, the
// settings the page set, and connect refusing a page without the plug-in, one
// the site lock does not allow, and an engine installed only in part. Waits
// for the working engine when it is not built.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { describe, test } = require('node:test');

const { sha256File, writeSampleFile } = require('../lib/file_server');
const wine = require('../lib/wine');
const { engineSuite, openPage, waitFor } = require('./support');

const MiB = 1024 * 1024;
const suite = engineSuite({
  samples: [['ordered.bin', 3 * MiB, 31], ['paused.bin', 3 * MiB, 32], ['kept.bin', MiB, 33], ['deleted.bin', MiB, 34],
    ['again.bin', MiB, 35], ['partial.bin', 4 * MiB, 36], ['cancelled.bin', 3 * MiB, 38],
    ['queue.bin', 2 * MiB, 39]],
  servers: { server: 2 * MiB, slowServer: 256 * 1024 },
});
const { skip, sums } = suite;

// A page with a connected client (window.client).
async function clientPage() {
  const tab = await openPage(suite.browser, `${suite.stack.url}/tests/client.html`);
  await tab.evaluate(() => { window.client = Halvo.connect(document.getElementById('halvo')); });
  return tab;
}

// Adds a download the page follows by its name.
function add(tab, name, options) {
  return tab.evaluate(([n, o]) => { window.follow(n, window.client.add(o)); }, [name, options]);
}

function view(tab, name) {
  return tab.evaluate((n) => window.view(n), name);
}

// Waits until the named download's current attempt has settled; its outcome.
async function outcome(tab, name, attempt = 0, timeoutMs = 60000) {
  return waitFor(`${name} settled`, async () => (await view(tab, name)).outcomes[attempt], { timeoutMs });
}

function options(url, name, extra = {}) {
  return { url, folder: wine.windowsPath(suite.downloads), fileName: name, connections: 1, ...extra };
}

function filePath(name) {
  return wine.windowsPath(path.join(suite.downloads, name));
}

describe('a download through the client', { skip }, () => {
  test('its events come in order, the finished promise resolves with the path, and the file is whole', async () => {
    const tab = await clientPage();
    await tab.evaluate(() => {
      window.created = [];
      window.client.on('created', (download) => window.created.push(download.fileName));
    });
    await add(tab, 'ordered', options(`${suite.server.origin}/files/ordered.bin`, 'ordered.bin'));
    assert.deepEqual(await outcome(tab, 'ordered'), { path: filePath('ordered.bin'), state: 'complete' });
    assert.equal(sha256File(path.join(suite.downloads, 'ordered.bin')), sums['ordered.bin']);

    const seen = await view(tab, 'ordered');
    // Every state change starts from the state before it, in the order a download goes.
    const order = ['queued', 'connecting', 'downloading', 'completing', 'complete'];
    const changes = seen.events.filter((event) => event.type === 'statechange');
    let previous = 'queued';
    for (const change of changes) {
      assert.equal(change.previous, previous, JSON.stringify(changes));
      assert.ok(order.indexOf(change.state) > order.indexOf(previous), `${previous} → ${change.state}`);
      previous = change.state;
    }
    assert.equal(previous, 'complete');
    assert.ok(changes.some((change) => change.state === 'downloading'));
    // Progress: bytes never go back, and reach the size; done comes once, last, and no error.
    const progress = seen.events.filter((event) => event.type === 'progress');
    assert.ok(progress.length >= 3, `${progress.length} progress events`);
    progress.reduce((before, event) => { assert.ok(event.bytes >= before); return event.bytes; }, 0);
    assert.equal(progress[progress.length - 1].bytes, 3 * MiB);
    assert.deepEqual(seen.events.filter((event) => event.type === 'done' || event.type === 'error'),
      [{ type: 'done', state: 'complete', previous: null, bytes: 3 * MiB, total: 3 * MiB, path: filePath('ordered.bin'), code: null }]);
    assert.equal(seen.events[seen.events.length - 1].type, 'done');
    // The fields, in words.
    assert.deepEqual([seen.state, seen.bytesReceived, seen.totalBytes, seen.eta, seen.mimeType, seen.actions, seen.error],
      ['complete', 3 * MiB, 3 * MiB, null, 'application/octet-stream', ['show', 'remove'], null]);
    assert.ok(seen.startTime && seen.endTime && seen.endTime >= seen.startTime, `${seen.startTime} .. ${seen.endTime}`);
    assert.deepEqual(await tab.evaluate(() => window.created), ['ordered.bin']);
    assert.deepEqual(tab.errors, []);
    await tab.close();
  });

  test('pause keeps the bytes and the promise; resume finishes the same download', async () => {
    const tab = await clientPage();
    await add(tab, 'paused', options(`${suite.slowServer.origin}/files/paused.bin`, 'paused.bin'));
    const running = await waitFor('bytes arriving', async () => {
      const seen = await view(tab, 'paused');
      return seen.state === 'downloading' && seen.bytesReceived > 0 ? seen : null;
    });
    assert.equal(running.totalBytes, 3 * MiB);
    assert.deepEqual(running.actions, ['pause', 'cancel', 'remove']);
    await tab.evaluate(() => window.followed.paused.download.pause());
    const paused = await waitFor('paused', async () => {
      const seen = await view(tab, 'paused');
      return seen.state === 'paused' ? seen : null;
    });
    assert.deepEqual(paused.actions, ['resume', 'cancel', 'remove']);
    assert.equal(paused.eta, null);
    assert.deepEqual(paused.outcomes, [null], 'a pause does not settle the download');
    assert.ok(paused.bytesReceived > 0 && paused.bytesReceived < 3 * MiB);
    // Calls the state does not allow are refused before they reach the plug-in.
    assert.deepEqual(await tab.evaluate(() => {
      try { window.followed.paused.download.pause(); } catch (error) { return [error.name, error.code]; }
      return null;
    }), ['HalvoError', 'bad-state']);

    const requests = suite.slowServer.requests.length;
    await tab.evaluate(() => window.followed.paused.download.resume());
    assert.deepEqual(await outcome(tab, 'paused'), { path: filePath('paused.bin'), state: 'complete' });
    assert.equal(sha256File(path.join(suite.downloads, 'paused.bin')), sums['paused.bin']);
    const resumed = suite.slowServer.requests.slice(requests).filter((request) => request.path === '/files/paused.bin');
    assert.ok(resumed.length > 0 && resumed[0].range && !/^bytes=0-/.test(resumed[0].range),
      `the resume asked for the rest: ${JSON.stringify(resumed[0])}`);
    const states = (await view(tab, 'paused')).events.filter((e) => e.type === 'statechange').map((e) => e.state);
    assert.ok(states.indexOf('paused') > 0 && states.indexOf('paused') < states.lastIndexOf('downloading'), states.join(' '));
    await tab.close();
  });

  test('cancel rejects with cancelled and deletes the partial file; resuming starts over and finishes', async () => {
    const tab = await clientPage();
    await add(tab, 'cancelled', options(`${suite.slowServer.origin}/files/cancelled.bin`, 'cancelled.bin'));
    await waitFor('bytes arriving', async () => (await view(tab, 'cancelled')).bytesReceived > 0);
    const partial = path.join(suite.downloads, 'cancelled.bin.part');
    assert.ok(fs.existsSync(partial));
    await tab.evaluate(() => window.followed.cancelled.download.cancel());
    const ended = await outcome(tab, 'cancelled');
    assert.deepEqual([ended.name, ended.code, ended.state], ['HalvoError', 'cancelled', 'cancelled']);
    const seen = await view(tab, 'cancelled');
    assert.deepEqual([seen.actions, seen.error], [['resume', 'remove'], null]);
    await waitFor('the partial file gone', () => !fs.existsSync(partial));

    const requests = suite.slowServer.requests.length;
    await tab.evaluate(() => window.followed.cancelled.download.resume());
    assert.deepEqual(await outcome(tab, 'cancelled', 1), { path: filePath('cancelled.bin'), state: 'complete' });
    assert.equal(sha256File(path.join(suite.downloads, 'cancelled.bin')), sums['cancelled.bin']);
    const again = suite.slowServer.requests.slice(requests).filter((request) => request.path === '/files/cancelled.bin');
    assert.ok(again.length > 0 && (!again[0].range || /^bytes=0-/.test(again[0].range)),
      `the new attempt asked from the start: ${JSON.stringify(again[0])}`);
    await tab.close();
  });

  test('the queue: one added first starts before those waiting, and one moved to the front before both', async () => {
    const tab = await clientPage();
    const queued = (name, extra) => options(`${suite.slowServer.origin}/files/queue.bin?${name}`, `queue-${name}.bin`, extra);
    const states = () => tab.evaluate(() => Object.fromEntries(['running', 'later', 'first', 'moved']
      .map((name) => [name, window.followed[name].download.state])));
    const waiting = (state) => state === 'queued';
    await tab.evaluate(() => window.client.set({ maxDownloads: 1 }));
    try {
      await add(tab, 'running', queued('running'));
      await waitFor('one running', async () => (await view(tab, 'running')).state === 'downloading');
      await add(tab, 'later', queued('later'));
      await add(tab, 'first', queued('first', { first: true }));
      await add(tab, 'moved', queued('moved'));
      await tab.evaluate(() => window.followed.moved.download.moveTo(0));
      assert.deepEqual(await states(), { running: 'downloading', later: 'queued', first: 'queued', moved: 'queued' });

      // The slot frees: the moved one starts, the others wait in their order.
      await tab.evaluate(() => window.followed.running.download.pause());
      const second = await waitFor('the next one started', async () => {
        const now = await states();
        return now.running === 'paused' && !waiting(now.moved) ? now : null;
      });
      assert.deepEqual([second.later, second.first], ['queued', 'queued']);
      await tab.evaluate(() => window.followed.moved.download.pause());
      const third = await waitFor('the one after it started', async () => {
        const now = await states();
        return now.moved === 'paused' && !waiting(now.first) ? now : null;
      });
      assert.equal(third.later, 'queued', 'the download added first went ahead of the one added before it');
      // A position is a place in the work list, 0 to 255.
      assert.deepEqual(await tab.evaluate(() => [-1, 256, 1.5].map((position) => {
        try { window.followed.later.download.moveTo(position); } catch (error) { return error.code; }
        return null;
      })), ['bad-arguments', 'bad-arguments', 'bad-arguments']);
    } finally {
      await tab.evaluate(() => {
        window.client.set({ maxDownloads: 5 });
        ['running', 'later', 'first', 'moved'].forEach((name) => {
          const download = window.followed[name] && window.followed[name].download;
          if (download && download.actions.includes('remove')) download.remove({ deleteFile: true });
        });
      });
    }
    await tab.close();
  });

  test('a failing server rejects with http-error and its status; the same download retried finishes', async () => {
    const tab = await clientPage();
    fs.rmSync(path.join(suite.files, 'late.bin'), { force: true });
    await add(tab, 'late', options(`${suite.server.origin}/files/late.bin`, 'late.bin'));
    const failed = await outcome(tab, 'late');
    assert.deepEqual({ ...failed, message: undefined },
      { name: 'HalvoError', code: 'http-error', httpStatus: 404, sameAsField: true, state: 'failed', message: undefined });
    assert.match(failed.message, /404/);
    const seen = await view(tab, 'late');
    assert.deepEqual([seen.state, seen.error, seen.actions], ['failed', 'http-error', ['resume', 'remove']]);
    assert.deepEqual(seen.events.filter((event) => event.type === 'error').map((event) => event.code), ['http-error']);

    // Once the server has the file, resuming starts a new attempt that finishes.
    const sum = writeSampleFile(path.join(suite.files, 'late.bin'), 512 * 1024, 37);
    await tab.evaluate(() => window.followed.late.download.resume());
    assert.deepEqual(await outcome(tab, 'late', 1), { path: filePath('late.bin'), state: 'complete' });
    assert.equal(sha256File(path.join(suite.downloads, 'late.bin')), sum);
    assert.equal((await view(tab, 'late')).error, null);
    await tab.close();
  });

  test('an address or folder the engine refuses rejects with download-refused and the reason', async () => {
    const tab = await clientPage();
    await add(tab, 'relative', { url: `${suite.server.origin}/files/kept.bin`, folder: 'downloads', fileName: 'x.bin' });
    await add(tab, 'ftp', options('ftp://127.0.0.1/files/kept.bin', 'y.bin'));
    const relative = await outcome(tab, 'relative');
    const ftp = await outcome(tab, 'ftp');
    assert.deepEqual([relative.code, ftp.code], ['download-refused', 'download-refused']);
    assert.match(relative.message, /absolute/);
    assert.match(ftp.message, /ftp/);
    // The library refuses what it can tell is wrong, before the plug-in is asked.
    const refused = await tab.evaluate(() => [{ url: 'http://h/a' }, { url: 5, folder: 'C:\\d' },
      { url: 'http://h/a', folder: 'C:\\d', connections: 1.5 }].map((o) => {
      try { window.client.add(o); } catch (error) { return error.code; }
      return null;
    }));
    assert.deepEqual(refused, ['bad-arguments', 'bad-arguments', 'bad-arguments']);
    await tab.evaluate(() => ['relative', 'ftp'].forEach((name) => window.followed[name].download.remove()));
    await tab.close();
  });
});

describe('removing and searching', { skip }, () => {
  test('remove takes a finished download off the list, and its file only when asked', async () => {
    const tab = await clientPage();
    await add(tab, 'kept', options(`${suite.server.origin}/files/kept.bin`, 'kept.bin'));
    await add(tab, 'deleted', options(`${suite.server.origin}/files/deleted.bin`, 'deleted.bin'));
    await outcome(tab, 'kept');
    await outcome(tab, 'deleted');
    await tab.evaluate(() => {
      window.erased = [];
      window.client.on('erased', (download) => window.erased.push(download.fileName));
      window.followed.kept.download.remove();
      window.followed.deleted.download.remove({ deleteFile: true });
    });
    await waitFor('both erased', () => tab.evaluate(() => window.erased.length === 2));
    assert.deepEqual((await tab.evaluate(() => window.erased)).sort(), ['deleted.bin', 'kept.bin']);
    assert.equal(sha256File(path.join(suite.downloads, 'kept.bin')), sums['kept.bin'], 'the kept file is untouched');
    assert.ok(!fs.existsSync(path.join(suite.downloads, 'deleted.bin')), 'the deleted file is gone');
    const left = await tab.evaluate(() => window.client.downloads({ url: /kept|deleted/ }).length);
    assert.equal(left, 0, 'neither is listed any more');
    assert.deepEqual([(await view(tab, 'kept')).state, (await view(tab, 'kept')).actions], ['removed', []]);
    await tab.close();
  });

  test('removing an unfinished download rejects it and deletes its partial file; a finished one goes alone', async () => {
    const tab = await clientPage();
    const url = `${suite.slowServer.origin}/files/partial.bin`;
    await add(tab, 'partial', options(url, 'partial.bin'));
    const running = await waitFor('partial.bin running', async () => {
      const seen = await view(tab, 'partial');
      return seen.bytesReceived > 0 && seen.path ? seen : null;
    });
    assert.ok(fs.existsSync(path.join(suite.downloads, 'partial.bin.part')));
    await tab.evaluate(() => window.followed.partial.download.remove({ deleteFile: true }));
    const removed = await outcome(tab, 'partial');
    assert.equal(removed.code, 'removed');
    assert.equal(running.path, filePath('partial.bin'));
    await waitFor('the partial file gone', () => !fs.existsSync(path.join(suite.downloads, 'partial.bin.part')));

    // A finished download of an address that is downloading again is removed
    // alone, its file with it: the re-download goes on into a file of its own.
    const again = `${suite.server.origin}/files/again.bin`;
    await add(tab, 'first', options(again, 'again.bin'));
    await outcome(tab, 'first');
    suite.server.bytesPerSecond = 128 * 1024;
    try {
      await add(tab, 'second', options(again, 'again.bin'));
      await waitFor('the re-download running', async () => (await view(tab, 'second')).bytesReceived > 0);
    } finally {
      suite.server.bytesPerSecond = 2 * MiB;
    }
    assert.equal(await tab.evaluate(() => window.followed.second.download !== window.followed.first.download), true,
      'the re-download is a download of its own');
    await tab.evaluate(() => window.followed.first.download.remove({ deleteFile: true }));
    await waitFor('the first removed', async () => (await view(tab, 'first')).state === 'removed');
    await waitFor('its file deleted', () => !fs.existsSync(path.join(suite.downloads, 'again.bin')));
    const second = await outcome(tab, 'second');
    assert.equal(second.path, filePath('again (1).bin'));
    assert.equal(sha256File(path.join(suite.downloads, 'again (1).bin')), sums['again.bin']);
    await tab.close();
  });

  test('search finds downloads by state and address, as the same objects', async () => {
    const tab = await clientPage();
    const url = `${suite.server.origin}/files/ordered.bin?paused|1`;
    const found = await tab.evaluate(([origin, address]) => {
      const client = window.client;
      const created = window.createdKeys = [];
      client.on('created', (download) => created.push(download.key));
      const names = (list) => list.map((d) => d.fileName).sort();
      const paused = client.add({ url: address, folder: 'C:\\', fileName: 'p.bin', paused: true });
      const complete = client.downloads({ state: 'complete' });
      return {
        key: paused.key,
        pausedState: paused.state,
        complete: names(complete),
        byUrl: names(client.downloads({ url: `${origin}/files/ordered.bin` })),
        byGivenUrl: client.downloads({ url: address }).map((d) => d === paused),
        byPattern: names(client.downloads({ url: /ordered\.bin\?paused%7C1$/ })),
        several: names(client.downloads({ state: ['paused', 'failed'] })),
        again: client.downloads({ state: 'complete' }).every((d, i) => d === complete[i]),
        all: client.downloads().length,
      };
    }, [suite.server.origin, url]);
    // The engine keys the address with its "|" escaped; the client's key is the engine's.
    assert.equal(found.key, url.replace('|', '%7C'));
    assert.equal(found.pausedState, 'paused');
    assert.ok(found.complete.includes('ordered.bin') && found.complete.includes('paused.bin'), found.complete.join(' '));
    assert.deepEqual(found.byUrl, ['ordered.bin']);
    assert.deepEqual(found.byGivenUrl, [true]);
    assert.deepEqual(found.byPattern, ['p.bin']);
    assert.deepEqual(found.several, ['p.bin']);
    assert.equal(found.again, true);
    assert.ok(found.all >= found.complete.length + 1);
    // The engine's event about the paused download reaches the same object: no second one is made.
    await waitFor('the paused download\'s event', () => tab.evaluate(() => window.client.downloads({ state: 'paused' })[0].startTime !== null));
    const created = await tab.evaluate(() => ({ paused: window.client.downloads({ state: 'paused' }).length, keys: window.createdKeys }));
    assert.equal(created.paused, 1);
    assert.equal(created.keys.filter((key) => key === found.key).length, 1);
    await tab.evaluate(() => window.client.downloads({ state: 'paused' })[0].remove());
    await tab.close();
  });
});

describe('settings and connecting', { skip }, () => {
  test('the client remembers what the page set, and only what the engine took', async () => {
    const tab = await clientPage();
    const result = await tab.evaluate(() => {
      const client = window.client;
      const attempt = (values) => {
        try { client.set(values); } catch (error) { return error.code; }
        return 'ok';
      };
      const fresh = { ...client.settings };
      const upload = attempt({ uploadLimit: 5 });
      const first = client.set({ speedLimit: 4096, maxDownloads: 3, proxy: { host: '', password: 'secret' } });
      const refused = attempt({ maxDownloads: 0 });
      const wrongType = attempt({ autoStart: 1 });
      const unknown = attempt({ speedlimit: 1 });
      const after = client.settings;
      client.set({ speedLimit: 0, maxDownloads: 5 });
      return { fresh, upload, first: { ...first, proxy: { ...first.proxy } }, refused, wrongType, unknown,
        after: { speedLimit: after.speedLimit, maxDownloads: after.maxDownloads, frozen: Object.isFrozen(after) } };
    });
    assert.deepEqual(result, {
      fresh: {},
      upload: 'bad-arguments',
      first: { speedLimit: 4096, uploadLimit: 0, maxDownloads: 3,
        proxy: { host: '', port: 0, user: '', bypass: '', kind: '', hasPassword: true } },
      refused: 'call-failed',
      wrongType: 'bad-arguments',
      unknown: 'bad-arguments',
      after: { speedLimit: 4096, maxDownloads: 3, frozen: true },
    });
    await tab.close();
  });

  test('connect refuses an element without the plug-in and a page the site lock does not allow', async () => {
    const tab = await openPage(suite.browser, `${suite.stack.url}/tests/client.html`);
    const missing = await tab.evaluate(() => [document.body, null].map((element) => {
      try { Halvo.connect(element); } catch (error) { return [error.name, error.code, error instanceof Halvo.HalvoError]; }
      return null;
    }));
    assert.deepEqual(missing, [['HalvoError', 'plugin-missing', true], ['HalvoError', 'plugin-missing', true]]);
    await tab.close();

    await wine.setAllowedOrigins(suite.stack.prefix, 'https://downloads.example');
    try {
      const refused = await openPage(suite.browser, `${suite.stack.url}/tests/client.html`);
      const error = await refused.evaluate(() => {
        try { Halvo.connect(document.getElementById('halvo')); } catch (e) { return { code: e.code, status: e.status, message: e.message }; }
        return null;
      });
      assert.equal(error.code, 'page-not-allowed');
      assert.equal(error.status, 1);
      assert.match(error.message, /not among the origins/);
      await refused.close();
    } finally {
      await wine.setAllowedOrigins(suite.stack.prefix, null);
    }
  });

  test('an engine installed only in part makes connect throw engine-unavailable, not a refusal', async () => {
    // Without its download class the engine still gives its identity (settings),
    // but not its lists: the page was let in, and a part of the engine is missing.
    await wine.removeProgId(suite.stack.prefix, 'transfer.Download');
    try {
      const tab = await openPage(suite.browser, `${suite.stack.url}/tests/client.html`);
      const error = await tab.evaluate(() => {
        try { Halvo.connect(document.getElementById('halvo')); } catch (e) { return { code: e.code, status: e.status, method: e.method, message: e.message }; }
        return null;
      });
      assert.deepEqual({ ...error, message: undefined },
        { code: 'engine-unavailable', status: 1, method: 'LoadWorkTask', message: undefined });
      assert.match(error.message, /installed only in part/);
      await tab.close();
    } finally {
      await wine.registerServer(suite.stack.prefix, suite.engine);
    }
    const whole = await openPage(suite.browser, `${suite.stack.url}/tests/client.html`);
    assert.equal(await whole.evaluate(() => typeof Halvo.connect(document.getElementById('halvo')).peerId), 'string');
    await whole.close();
  });

  test('the ES module gives the same library, by name and as its default', async () => {
    const tab = await openPage(suite.browser, `${suite.stack.url}/tests/module.html`);
    const check = await waitFor('the module ran', () => tab.evaluate(() => window.moduleCheck || null));
    assert.deepEqual(check.names, check.libraryNames);
    assert.equal(check.sameDefault, true);
    assert.equal(check.sameValues, true);
    assert.match(check.peerId, /^[0-9A-F]{40}$/);
    await tab.close();
  });
});

// Without the engine, the run says what it left out.
if (skip) test('the page library\'s client with the working engine', { skip }, () => {});

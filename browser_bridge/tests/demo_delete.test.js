'use strict';
// The demo page, as a user drives it with the working engine: a file is
// downloaded, the same address is added again, and the re-download is
// deleted with its partial file while it runs. The earlier finished copy
// stays listed, its file stays on the disk, and the Finished list is not
// even redrawn. Waits for the working engine when it is not built.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { after, before, test } = require('node:test');

const { launchBrowser } = require('../lib/browser');
const { FileServer, sha256File, writeSampleFile } = require('../lib/file_server');
const paths = require('../lib/paths');
const { startStack } = require('../lib/stack');
const wine = require('../lib/wine');
const { openPage, prefix, waitFor } = require('./support');

const ENGINE = paths.engineDll();
const skip = ENGINE ? false : 'the working engine (halvo_engine.dll) is not built yet';

let stack;
let browser;
let files;
let downloads;
let server;
let sum;

before(async () => {
  if (skip) return;
  files = fs.mkdtempSync(path.join(os.tmpdir(), 'halvo-files-'));
  downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'halvo-downloads-'));
  sum = writeSampleFile(path.join(files, 'again.bin'), 1536 * 1024, 21);
  server = new FileServer({ dir: files });
  await server.listen();
  // The engine suites take turns on one prefix (CTest's halvo_e2e_wine lock).
  stack = await startStack({ prefix: prefix('engine'), engine: ENGINE });
  browser = await launchBrowser();
});

after(async () => {
  if (skip) return;
  if (browser) await browser.close();
  if (stack) {
    const ledger = await stack.stop();
    assert.deepEqual([ledger.memory, ledger.objects, ledger.instances, ledger.faults], [0, 0, 0, 0]);
  }
  if (server) await server.close();
  fs.rmSync(files, { recursive: true, force: true });
  fs.rmSync(downloads, { recursive: true, force: true });
});

async function add(tab, url) {
  await tab.fill('#add [name=url]', url);
  await tab.fill('#add [name=folder]', wine.windowsPath(downloads));
  await tab.fill('#add [name=fileName]', 'again.bin');
  await tab.fill('#add [name=connections]', '1');
  await tab.click('#add button');
}

test('deleting a working re-download keeps the earlier finished copy and its file', { skip }, async () => {
  const tab = await openPage(browser, `${stack.url}/demo/`);
  const url = `${server.origin}/files/again.bin`;
  await add(tab, url);
  await waitFor('the first download in the Finished list',
    () => tab.evaluate(() => document.querySelectorAll('#finished tbody tr').length === 1), { timeoutMs: 60000 });
  const first = path.join(downloads, 'again.bin');
  assert.equal(sha256File(first), sum);

  // The same address again, slow enough to be deleted while it runs.
  server.bytesPerSecond = 128 * 1024;
  await add(tab, url);
  const running = await waitFor('the re-download running', () => tab.evaluate((key) => {
    const [task] = window.halvoDemo.client.downloads({ url: key, state: 'downloading' });
    return task && task.bytesReceived > 0 && task.fileName ? task.fileName : null;
  }, url), { timeoutMs: 30000 });
  assert.notEqual(running, 'again.bin', 'the re-download writes a file of its own');
  assert.ok(fs.existsSync(path.join(downloads, `${running}.part`)));

  // A mark on the Finished row: a redrawn list would lose it.
  await tab.evaluate(() => { document.querySelector('#finished tbody tr').dataset.mark = 'kept'; });
  await tab.click(`#working tbody tr[data-key="${url}"] button:text("Remove")`);
  await waitFor('the working list empty and the partial file gone', async () =>
    (await tab.evaluate(() => document.querySelectorAll('#working tbody tr').length === 0)) &&
      !fs.existsSync(path.join(downloads, `${running}.part`)), { timeoutMs: 15000 });

  const finished = await tab.evaluate(() => {
    const answer = new Halvo.Transfer(document.getElementById('halvo')).loadFinishTask();
    return { status: answer.status, paths: answer.tasks.map((entry) => entry.path) };
  });
  assert.deepEqual(finished, { status: 0, paths: [wine.windowsPath(first)] }, 'the engine still lists the finished copy');
  assert.equal(sha256File(first), sum, 'and its file is untouched');
  assert.equal(await tab.evaluate(() => document.querySelectorAll('#finished tbody tr').length), 1);
  assert.equal(await tab.evaluate(() => document.querySelector('#finished tbody tr').dataset.mark), 'kept',
    'the Finished list was not redrawn for the deleted working task');
  assert.deepEqual(tab.errors, []);
  await tab.close();
});

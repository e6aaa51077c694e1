'use strict';
// The demo page, as a user drives it with the working engine: a file is
// downloaded, the same address is added again, and the re-download is
// deleted with its partial file while it runs. The earlier finished copy
// stays listed, its file stays on the disk, and the Finished list is not
// even redrawn. Waits for the working engine when it is not built.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { test } = require('node:test');

const { sha256File } = require('../lib/file_server');
const wine = require('../lib/wine');
const { engineSuite, openPage, waitFor } = require('./support');

const suite = engineSuite({ samples: [['again.bin', 1536 * 1024, 21]] });
const { skip, sums } = suite;

async function add(tab, url) {
  await tab.fill('#add [name=url]', url);
  await tab.fill('#add [name=folder]', wine.windowsPath(suite.downloads));
  await tab.fill('#add [name=fileName]', 'again.bin');
  await tab.fill('#add [name=connections]', '1');
  await tab.click('#add button');
}

test('deleting a working re-download keeps the earlier finished copy and its file', { skip }, async () => {
  const tab = await openPage(suite.browser, `${suite.stack.url}/demo/`);
  const url = `${suite.server.origin}/files/again.bin`;
  await add(tab, url);
  await waitFor('the first download in the Finished list',
    () => tab.evaluate(() => document.querySelectorAll('#finished tbody tr').length === 1), { timeoutMs: 60000 });
  const first = path.join(suite.downloads, 'again.bin');
  assert.equal(sha256File(first), sums['again.bin']);

  // The same address again, slow enough to be deleted while it runs.
  suite.server.bytesPerSecond = 128 * 1024;
  await add(tab, url);
  const running = await waitFor('the re-download running', () => tab.evaluate((key) => {
    const [task] = window.halvoDemo.client.downloads({ url: key, state: 'downloading' });
    return task && task.bytesReceived > 0 && task.fileName ? task.fileName : null;
  }, url), { timeoutMs: 30000 });
  assert.notEqual(running, 'again.bin', 'the re-download writes a file of its own');
  assert.ok(fs.existsSync(path.join(suite.downloads, `${running}.part`)));

  // A mark on the Finished row: a redrawn list would lose it.
  await tab.evaluate(() => { document.querySelector('#finished tbody tr').dataset.mark = 'kept'; });
  await tab.click(`#working tbody tr[data-key="${url}"] button:text("Remove")`);
  await waitFor('the working list empty and the partial file gone', async () =>
    (await tab.evaluate(() => document.querySelectorAll('#working tbody tr').length === 0)) &&
      !fs.existsSync(path.join(suite.downloads, `${running}.part`)), { timeoutMs: 15000 });

  const finished = await tab.evaluate(() => {
    const answer = new Halvo.Transfer(document.getElementById('halvo')).loadFinishTask();
    return { status: answer.status, paths: answer.tasks.map((entry) => entry.path) };
  });
  assert.deepEqual(finished, { status: 0, paths: [wine.windowsPath(first)] }, 'the engine still lists the finished copy');
  assert.equal(sha256File(first), sums['again.bin'], 'and its file is untouched');
  assert.equal(await tab.evaluate(() => document.querySelectorAll('#finished tbody tr').length), 1);
  assert.equal(await tab.evaluate(() => document.querySelector('#finished tbody tr').dataset.mark), 'kept',
    'the Finished list was not redrawn for the deleted working task');
  assert.deepEqual(tab.errors, []);
  await tab.close();
});

'use strict';
// The demo page as people use it, with the working engine: an accessibility
// scan (axe-core) with no serious or critical finding in every state the page
// shows; add, pause, resume and remove with the keyboard alone; rows updated
// in place (the focus and a click in progress survive progress events); only
// the actions of each state; a finished file removed only after the page
// asked, naming it; the settings the page set shown; the raw log folded away.
// Writes screenshots during a download and after a failure (demo-shots/).
// Waits for the working engine when it is not built.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { describe, test } = require('node:test');

const { sha256File } = require('../lib/file_server');
const wine = require('../lib/wine');
const { E2E, engineSuite, waitFor } = require('./support');

const AXE = require.resolve('axe-core/axe.min.js');
const SHOTS = process.env.HALVO_SHOTS_DIR || path.join(E2E, 'demo-shots');
const MiB = 1024 * 1024;
const suite = engineSuite({
  samples: [['keyboard.bin', 4 * MiB, 41], ['shown.bin', 4 * MiB, 42]],
  servers: { server: 512 * 1024 },
});
const { skip, sums } = suite;
fs.mkdirSync(SHOTS, { recursive: true });

async function demo() {
  const tab = await suite.browser.newPage({ viewport: { width: 1100, height: 860 } });
  tab.errors = [];
  tab.on('pageerror', (error) => tab.errors.push(error.message));
  await tab.goto(`${suite.stack.url}/demo/`);
  await waitFor('the demo connected', () => tab.evaluate(() => !!(window.halvoDemo && window.halvoDemo.client)));
  return tab;
}

function url(name) {
  return `${suite.server.origin}/files/${name}`;
}

// The working row of an address, as a person sees it: its cells and the buttons it shows.
function workingRow(tab, address) {
  return tab.evaluate((key) => {
    const row = document.querySelector(`#working tbody tr[data-key="${CSS.escape(key)}"]`);
    if (!row) return null;
    const text = (part) => row.querySelector(`[data-part="${part}"]`).textContent;
    const bar = row.querySelector('[role="progressbar"]');
    return {
      state: text('state'), size: text('size'), left: text('left'),
      buttons: [...row.querySelectorAll('button')].filter((b) => !b.hidden).map((b) => b.textContent),
      valuenow: bar.getAttribute('aria-valuenow'), valuetext: bar.getAttribute('aria-valuetext'),
    };
  }, address);
}

// The axe-core findings that stop a person: serious or critical.
async function barriers(tab, where) {
  if (!(await tab.evaluate(() => typeof window.axe === 'object'))) await tab.addScriptTag({ path: AXE });
  const violations = await tab.evaluate(async () => (await window.axe.run(document, { resultTypes: ['violations'] }))
    .violations.map((v) => ({ id: v.id, impact: v.impact, nodes: v.nodes.map((n) => n.target.join(' ')).slice(0, 3) })));
  const blocking = violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  assert.deepEqual(blocking, [], `${where}: ${JSON.stringify(blocking)}`);
  return violations;
}

// Presses Tab until the focused element is the one asked for (at most 60 times).
async function tabTo(tab, what, matches) {
  for (let i = 0; i < 60; i++) {
    await tab.keyboard.press('Tab');
    if (await tab.evaluate(matches)) return;
  }
  throw new Error(`Tab never reached ${what}`);
}

const focusedLabel = (label) => new Function(`return document.activeElement && document.activeElement.getAttribute('aria-label') === ${JSON.stringify(label)};`);
const focusedName = (name) => new Function(`return document.activeElement && document.activeElement.name === ${JSON.stringify(name)};`);

describe('the demo page', { skip }, () => {
  test('add, pause, resume and remove with the keyboard alone', async () => {
    const tab = await demo();
    await tabTo(tab, 'the address field', focusedName('url'));
    await tab.keyboard.type(url('keyboard.bin'));
    await tabTo(tab, 'the folder field', focusedName('folder'));
    await tab.keyboard.type(wine.windowsPath(suite.downloads));
    await tabTo(tab, 'the Add button', () => document.activeElement.textContent === 'Add');
    await tab.keyboard.press('Enter');
    await waitFor('keyboard.bin downloading', async () => (await workingRow(tab, url('keyboard.bin')))?.state === 'downloading');

    // Pause: the same button turns into Resume under the focus.
    await tabTo(tab, 'Pause', focusedLabel('Pause keyboard.bin'));
    await tab.evaluate(() => { document.activeElement.dataset.mark = 'focused'; });
    await tab.keyboard.press('Enter');
    await waitFor('paused', async () => (await workingRow(tab, url('keyboard.bin')))?.state === 'paused');
    assert.equal(await tab.evaluate(() => document.activeElement.dataset.mark === 'focused' &&
      document.activeElement.getAttribute('aria-label')), 'Resume keyboard.bin');
    assert.deepEqual((await workingRow(tab, url('keyboard.bin'))).buttons, ['Resume', 'Cancel', 'Remove']);
    await tab.keyboard.press('Enter');
    await waitFor('downloading again', async () => (await workingRow(tab, url('keyboard.bin')))?.state === 'downloading');

    // Finished: the row moves to the Finished list, and the focus with it.
    await waitFor('keyboard.bin in the Finished list', () => tab.evaluate(() =>
      document.querySelectorAll('#finished tbody tr').length === 1), { timeoutMs: 60000 });
    assert.equal(sha256File(path.join(suite.downloads, 'keyboard.bin')), sums['keyboard.bin']);
    assert.match(await tab.textContent('#status'), /keyboard\.bin is complete/);
    await tabTo(tab, 'Remove…', focusedLabel('Remove keyboard.bin…'));
    await tab.keyboard.press('Enter');
    // The page asks first, naming the file; the focus starts on keeping it.
    const asked = await tab.evaluate(() => ({
      open: document.getElementById('confirm-remove').open,
      title: document.getElementById('confirm-title').textContent,
      file: document.getElementById('confirm-file').textContent,
      focused: document.activeElement.textContent,
    }));
    assert.deepEqual(asked, { open: true, title: 'Remove keyboard.bin from the list?',
      file: wine.windowsPath(path.join(suite.downloads, 'keyboard.bin')), focused: 'Keep it' });
    await barriers(tab, 'the remove dialog');
    await tab.keyboard.press('Escape');
    assert.equal(await tab.evaluate(() => document.querySelectorAll('#finished tbody tr').length), 1, 'Escape keeps it');

    // The focus is back on the button that opened the dialog.
    if (!(await tab.evaluate(focusedLabel('Remove keyboard.bin…')))) await tabTo(tab, 'Remove…', focusedLabel('Remove keyboard.bin…'));
    await tab.keyboard.press('Enter');
    await tab.keyboard.press('Shift+Tab');
    await tab.keyboard.press('Space'); // also delete the file
    await tabTo(tab, 'Remove in the dialog', () => document.activeElement.value === 'remove');
    await tab.keyboard.press('Enter');
    await waitFor('the Finished list empty', () => tab.evaluate(() => document.querySelectorAll('#finished tbody tr').length === 0));
    await waitFor('the file deleted', () => !fs.existsSync(path.join(suite.downloads, 'keyboard.bin')));
    assert.deepEqual(tab.errors, []);
    await tab.close();
  });

  test('rows change in place: the focus and a click in progress survive progress; each state shows its actions', async () => {
    const tab = await demo();
    await tab.fill('#settings [name=limit]', '256');
    await tab.click('#settings button');
    assert.match(await tab.textContent('#settings-known'), /Last set from this page: speed limit 256 KiB\/s/);
    assert.equal(await tab.inputValue('#settings [name=limit]'), '256');

    await tab.fill('#add [name=url]', url('shown.bin'));
    await tab.fill('#add [name=folder]', wine.windowsPath(suite.downloads));
    await tab.click('#add button');
    await tab.fill('#add [name=url]', url('missing.bin'));
    await tab.click('#add button');
    const running = await waitFor('shown.bin with a size and time left', async () => {
      const row = await workingRow(tab, url('shown.bin'));
      return row && row.state === 'downloading' && row.valuenow !== null && /\d/.test(row.left) ? row : null;
    });
    assert.deepEqual(running.buttons, ['Pause', 'Cancel', 'Remove']);
    assert.match(running.valuetext, /^\d+ percent, [\d.]+ (B|KiB|MiB) of 4\.0 MiB$/);
    const failed = await waitFor('missing.bin failed', async () => {
      const row = await workingRow(tab, url('missing.bin'));
      return row && /^failed/.test(row.state) ? row : null;
    });
    assert.deepEqual(failed.buttons, ['Retry', 'Remove']);
    assert.match(failed.state, /404/);
    await tab.screenshot({ path: path.join(SHOTS, 'demo-during-download-and-failure.png') });

    // The focused Cancel button is the same element after several progress events.
    await tab.focus(`#working tbody tr[data-key="${url('shown.bin')}"] button[data-part="cancel"]`);
    await tab.evaluate(() => { document.activeElement.dataset.mark = 'kept'; });
    const before = (await workingRow(tab, url('shown.bin'))).size;
    const seen = await tab.evaluate(() => window.halvoDemo.messageCount());
    await waitFor('three more progress reports', () => tab.evaluate((n) => window.halvoDemo.messageCount() >= n + 3, seen));
    assert.notEqual((await workingRow(tab, url('shown.bin'))).size, before, 'the row changed meanwhile');
    assert.equal(await tab.evaluate(() => document.activeElement.dataset.mark), 'kept');

    // A click that starts before a progress event and ends after it still lands: pause.
    const toggle = tab.locator(`#working tbody tr[data-key="${url('shown.bin')}"] button[data-part="toggle"]`);
    const box = await toggle.boundingBox();
    await tab.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await tab.mouse.down();
    const count = await tab.evaluate(() => window.halvoDemo.messageCount());
    await waitFor('a progress report during the click', () => tab.evaluate((n) => window.halvoDemo.messageCount() > n, count));
    await tab.mouse.up();
    await waitFor('paused by the click', async () => (await workingRow(tab, url('shown.bin'))).state === 'paused');
    await barriers(tab, 'a paused and a failed download');

    // Resumed and finished: local time and the finished row's actions; the log stays folded.
    await tab.click(`#working tbody tr[data-key="${url('shown.bin')}"] button[data-part="toggle"]`);
    await tab.fill('#settings [name=limit]', '0');
    await tab.click('#settings button');
    await waitFor('shown.bin finished', () => tab.evaluate(() => document.querySelectorAll('#finished tbody tr').length === 1), { timeoutMs: 60000 });
    const finished = await tab.evaluate(() => {
      const row = document.querySelector('#finished tbody tr');
      const time = row.querySelector('time');
      return {
        local: time.textContent === new Date(time.getAttribute('datetime')).toLocaleString(),
        buttons: [...row.querySelectorAll('button')].filter((b) => !b.hidden).map((b) => b.textContent),
        logOpen: document.querySelector('details.log').open,
        logged: document.querySelectorAll('#messages li').length,
      };
    });
    assert.deepEqual({ ...finished, logged: finished.logged > 0 }, { local: true, buttons: ['Show', 'Remove…'], logOpen: false, logged: true });
    await tab.screenshot({ path: path.join(SHOTS, 'demo-after-failure-and-finish.png') });
    await barriers(tab, 'a finished download');

    // Removing without ticking the box keeps the file.
    await tab.click('#finished tbody tr button[data-part="remove"]');
    await tab.click('#confirm-remove button[value="remove"]');
    await waitFor('shown.bin off the list', () => tab.evaluate(() => document.querySelectorAll('#finished tbody tr').length === 0));
    assert.equal(sha256File(path.join(suite.downloads, 'shown.bin')), sums['shown.bin'], 'the file stays');
    await tab.click(`#working tbody tr[data-key="${url('missing.bin')}"] button[data-part="remove"]`);
    await waitFor('the working list empty', () => tab.evaluate(() => document.querySelectorAll('#working tbody tr').length === 0));
    assert.deepEqual(tab.errors, []);
    await tab.close();
  });

  test('the page without the engine\'s permission says so, and its forms cannot be used', async () => {
    await wine.setAllowedOrigins(suite.stack.prefix, 'https://downloads.example');
    try {
      const tab = await suite.browser.newPage();
      await tab.goto(`${suite.stack.url}/demo/`);
      await waitFor('the verdict', async () => /may not use/.test(await tab.textContent('#engine')));
      assert.equal(await tab.evaluate(() => document.querySelector('#add fieldset').disabled), true);
      await barriers(tab, 'a refused page');
      await tab.close();
    } finally {
      await wine.setAllowedOrigins(suite.stack.prefix, null);
    }
  });
});

// Without the engine, the run says what it left out.
if (skip) test('the demo page with the working engine', { skip }, () => {});

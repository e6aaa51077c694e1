'use strict';
// Shared by the end-to-end tests: private prefixes under the build tree, one
// page per test with its console and errors kept, waiting for a condition,
// and the set-up of the suites that download through the working engine.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { after, before } = require('node:test');

const { launchBrowser } = require('../lib/browser');
const { FileServer, writeSampleFile } = require('../lib/file_server');
const paths = require('../lib/paths');
const { startStack } = require('../lib/stack');
const wine = require('../lib/wine');

const E2E = process.env.HALVO_E2E_DIR || path.join(paths.ROOT, 'build', 'x86_64', 'e2e');
const PAGES = path.join(__dirname, 'pages');

function prefix(name) {
  return path.join(E2E, `${name}-prefix`);
}

async function openPage(browser, url) {
  const page = await browser.newPage();
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(error.message));
  await page.goto(url);
  return page;
}

async function waitFor(what, condition, { timeoutMs = 30000, everyMs = 50 } = {}) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, everyMs));
  }
}

// The texts a javascript: URL from the module carries, as the page's string literal reads them.
function postedText(url) {
  const match = /^javascript:window\.postMessage\('(.*)',window\.location\.href\)$/.exec(url);
  if (!match) return null;
  return match[1].replace(/\\u([0-9A-F]{4})/g, (_, digits) => String.fromCharCode(parseInt(digits, 16)));
}

const ENGINE = paths.engineDll();

// For a suite with the working engine, started before its tests and stopped
// after them: sample files ([name, size, seed]: their SHA-256 in `sums`)
// served by loopback file servers (by name, with their pace in bytes per
// second), a folder for downloads, the stack in the engines' shared prefix
// with the test pages, and a browser; at the end the host's ledgers must be
// back at zero. Without the engine built, `skip` says so and nothing starts,
// unless the run requires the engine (HALVO_REQUIRE_ENGINE=1, as the test
// command's tree, which builds it, does): then the suite fails.
function engineSuite({ samples = [], servers = { server: 0 }, stack: options = {} } = {}) {
  const required = process.env.HALVO_REQUIRE_ENGINE === '1';
  const suite = { skip: ENGINE || required ? false : 'the working engine (halvo_engine.dll) is not built yet', sums: {},
    engine: ENGINE };
  before(async () => {
    if (suite.skip) return;
    assert.ok(ENGINE, `the working engine is missing: ${process.env.HALVO_ENGINE_DLL || path.join(paths.BIN, 'halvo_engine.dll')}`);
    suite.files = fs.mkdtempSync(path.join(os.tmpdir(), 'halvo-files-'));
    suite.downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'halvo-downloads-'));
    for (const [name, size, seed] of samples) suite.sums[name] = writeSampleFile(path.join(suite.files, name), size, seed);
    for (const [name, bytesPerSecond] of Object.entries(servers)) {
      suite[name] = new FileServer({ dir: suite.files, bytesPerSecond });
      await suite[name].listen();
    }
    suite.stack = await startStack({ prefix: prefix('engine'), engine: ENGINE, roots: [{ prefix: '/tests/', dir: PAGES }],
      ...options });
    suite.browser = await launchBrowser();
  });
  after(async () => {
    if (suite.skip) return;
    if (suite.browser) await suite.browser.close();
    if (suite.stack) {
      // The next suite in the prefix starts from the default allowed list.
      await wine.setAllowedOrigins(suite.stack.prefix, null);
      const ledger = await suite.stack.stop();
      assert.deepEqual([ledger.memory, ledger.objects, ledger.instances, ledger.faults], [0, 0, 0, 0]);
    }
    for (const name of Object.keys(servers)) if (suite[name]) await suite[name].close();
    for (const folder of [suite.files, suite.downloads]) if (folder) fs.rmSync(folder, { recursive: true, force: true });
  });
  return suite;
}

module.exports = { E2E, PAGES, prefix, openPage, waitFor, postedText, engineSuite };

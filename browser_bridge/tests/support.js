'use strict';
// Shared by the end-to-end tests: private prefixes under the build tree, one
// page per test with its console and errors kept, and waiting for a condition.
const path = require('node:path');

const paths = require('../lib/paths');

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

module.exports = { E2E, PAGES, prefix, openPage, waitFor, postedText };

'use strict';
// Debian's Chromium, headless, driven by Playwright.
const fs = require('node:fs');
const { chromium } = require('playwright-core');

const CHROMIUM = process.env.HALVO_CHROMIUM || '/usr/bin/chromium';

function launchBrowser({ headless = true } = {}) {
  if (!fs.existsSync(CHROMIUM)) throw new Error(`no Chromium at ${CHROMIUM}`);
  return chromium.launch({
    executablePath: CHROMIUM,
    headless,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
}

module.exports = { launchBrowser, CHROMIUM };

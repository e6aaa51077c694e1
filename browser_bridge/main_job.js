'use strict';
// The main job: the demo page in headless Chromium downloads a sample file
// through the plug-in and the working engine. It starts a loopback file
// server with the sample, the Wine prefix with the engine registered, the
// headless host and the bridge; prints the page's messages as they arrive
// and a progress line; checks the file's checksum; writes screenshots of the
// page (one in the middle of the download); stops everything and exits 0.
//
//   node main_job.js [--keep] [--port N] [--out DIR]
//
// --keep leaves everything running afterwards and prints the page's address
// for a person to open in their own browser (Ctrl-C ends it).
const fs = require('node:fs');
const path = require('node:path');

const { launchBrowser } = require('./lib/browser');
const { FileServer, sha256File, writeSampleFile } = require('./lib/file_server');
const paths = require('./lib/paths');
const { startStack } = require('./lib/stack');
const wine = require('./lib/wine');

const SAMPLE_SIZE = 8 * 1024 * 1024;
const PACE = 1024 * 1024; // bytes per second per connection: about four seconds with two connections
const LIMIT_KIB = 4096; // the speed limit the page sets, above the pace
const MAX_COUNT = 3;

function options(argv) {
  const result = { keep: false, port: 0, out: path.join(paths.ROOT, 'build', 'main') };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--keep') result.keep = true;
    else if (argv[i] === '--port') result.port = Number(argv[++i]);
    else if (argv[i] === '--out') result.out = path.resolve(argv[++i]);
    else throw new Error(`unknown option ${argv[i]} (use --keep, --port N, --out DIR)`);
  }
  if (result.keep && !result.port) result.port = 8400;
  return result;
}

function say(text) {
  process.stdout.write(`==> ${text}\n`);
}

function mib(bytes) {
  return (bytes / (1024 * 1024)).toFixed(1) + ' MiB';
}

async function main() {
  const opts = options(process.argv.slice(2));
  const started = Date.now();
  const engine = paths.engineDll();
  fs.mkdirSync(opts.out, { recursive: true });
  const filesDir = path.join(opts.out, 'files');
  const downloads = path.join(opts.out, 'downloads');
  fs.rmSync(downloads, { recursive: true, force: true });
  fs.mkdirSync(filesDir, { recursive: true });
  fs.mkdirSync(downloads, { recursive: true });

  const sample = path.join(filesDir, 'sample.bin');
  const expected = writeSampleFile(sample, SAMPLE_SIZE, 20250101);
  const files = new FileServer({ dir: filesDir, bytesPerSecond: PACE });
  await files.listen(opts.keep ? opts.port + 1 : 0);
  const sampleUrl = `${files.origin}/files/sample.bin`;
  say(`file server ${files.origin}: sample.bin, ${mib(SAMPLE_SIZE)}, sha256 ${expected}`);

  const prefix = path.join(opts.out, 'prefix');
  say(`Wine prefix ${prefix}` + (engine ? `, working engine ${engine} registered` : ''));
  if (!engine) say('WAITING FOR THE WORKING ENGINE: halvo_engine.dll is not built; the page runs without an engine and nothing is downloaded');
  const stack = await startStack({ prefix, engine, port: opts.port, log: (text) => say(text) });
  say(`headless host pid ${stack.host.pid} with ${stack.host.plugins.map((plugin) => path.basename(plugin.path)).join(', ')}; bridge ${stack.url}`);

  let browser = null;
  let failure = null;
  try {
    browser = await launchBrowser();
    const page = await browser.newPage({ viewport: { width: 1100, height: 860 } });
    page.on('pageerror', (error) => say(`page error: ${error.message}`));
    let finished = null;
    let lastProgress = -1;
    // Every message event, as the page receives it.
    await page.exposeFunction('halvoMainJobMessage', (data) => {
      process.stdout.write(`page message: ${data}\n`);
    });
    await page.exposeFunction('halvoMainJobEvent', (event) => {
      if (event.kind === 5) finished = event;
      if (event.size > 0 && event.state === 2) {
        const percent = Math.floor((event.done / event.size) * 100);
        if (percent !== lastProgress) {
          lastProgress = percent;
          process.stdout.write(`progress: ${percent}% ${mib(event.done)} of ${mib(event.size)}, ${mib(event.speed)}/s\n`);
        }
      }
    });
    await page.addInitScript(() => {
      window.addEventListener('message', (message) => {
        if (message.source !== window || typeof message.data !== 'string') return;
        window.halvoMainJobMessage(message.data);
        const event = window.Halvo && window.Halvo.parseEventMessage(message.data);
        if (event) window.halvoMainJobEvent(event);
      });
    });
    await page.goto(`${stack.url}/demo/`);
    const engineText = await page.textContent('#engine');
    say(`demo page ${stack.url}/demo/: ${engineText}`);

    await page.fill('#settings [name=limit]', String(LIMIT_KIB));
    await page.fill('#settings [name=count]', String(MAX_COUNT));
    await page.click('#settings button');
    say(`settings: ${await page.textContent('#status')}`);

    await page.fill('#add [name=url]', sampleUrl);
    await page.fill('#add [name=folder]', wine.windowsPath(downloads));
    await page.fill('#add [name=connections]', '2');
    await page.click('#add button');
    say(`add: ${await page.textContent('#status')}`);

    if (engine) {
      const deadline = Date.now() + 120000;
      while (lastProgress < 40 && !finished && Date.now() < deadline) await page.waitForTimeout(50);
      const middle = path.join(opts.out, 'demo-during-download.png');
      await page.screenshot({ path: middle });
      say(`screenshot in the middle of the download (${lastProgress}%): ${middle}`);
      while (!finished && Date.now() < deadline) await page.waitForTimeout(100);
      if (!finished) throw new Error('the download did not finish in time');
      await page.waitForSelector('#finished tbody tr');
      const done = path.join(opts.out, 'demo-finished.png');
      await page.screenshot({ path: done });
      say(`screenshot of the finished list: ${done}`);
      const file = path.join(downloads, 'sample.bin');
      const actual = fs.existsSync(file) ? sha256File(file) : '(no file)';
      if (actual !== expected) throw new Error(`checksum of ${file}: ${actual}, expected ${expected}`);
      say(`downloaded ${file}: sha256 ${actual} matches`);
    } else {
      const shot = path.join(opts.out, 'demo-without-engine.png');
      await page.screenshot({ path: shot });
      say(`screenshot (no engine): ${shot}`);
    }

    if (opts.keep) {
      const address = `${stack.url}/demo/?url=${encodeURIComponent(sampleUrl)}&folder=${encodeURIComponent(wine.windowsPath(downloads))}`;
      await browser.close();
      browser = null;
      say(`running; open the demo page in a browser on this machine: ${address}`);
      say('Ctrl-C ends it');
      await new Promise((resolve) => {
        process.once('SIGINT', resolve);
        process.once('SIGTERM', resolve);
      });
    }
  } catch (error) {
    failure = error;
  }
  if (browser) await browser.close();
  const ledger = await stack.stop();
  await files.close();
  say(`stopped: host ledger at exit ${JSON.stringify(ledger)}`);
  if (failure) throw failure;
  if (!ledger || ledger.memory !== 0 || ledger.objects !== 0 || ledger.instances !== 0 || ledger.faults !== 0)
    throw new Error('the host\'s ledgers are not back at zero');
  say(`done in ${((Date.now() - started) / 1000).toFixed(1)} s` + (engine ? '' : ' (the download waits for the working engine)'));
}

main().then(
  () => process.exit(0),
  (error) => {
    process.stderr.write(`main job failed: ${error.stack || error}\n`);
    process.exit(1);
  },
);

'use strict';
// What a page pays for the plug-in, from one run in headless Chromium: a
// script call, a call whose module calls a page function, and the bridge's
// own floor (a synchronous request it answers at once, without the host),
// each as median and 90th percentile, and the calls' ratios to the floor;
// then event delivery: from the module's NPN_GetURL to the page's message
// event, at a steady rate, with the messages that came out of order or never.
// Figures only: nothing here passes or fails on speed.
// With --tasks N (and the engine built), last: N tasks imported through the
// page, then LoadWorkTask's time to the page function's last call.
//   node bench/page_path.js [--rounds N] [--events-per-second R] [--event-seconds S] [--tasks N]
const path = require('node:path');

const { launchBrowser } = require('../lib/browser');
const paths = require('../lib/paths');
const { startStack } = require('../lib/stack');
const wine = require('../lib/wine');
const { percentile, progress, table } = require('./figures');

const E2E = process.env.HALVO_E2E_DIR || path.join(paths.ROOT, 'build', 'x86_64', 'e2e');

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at > 0 ? Number(process.argv[at + 1]) : fallback;
}

// Runs in the page: every message of the series, as it arrives.
function listen() {
  window.series = [];
  window.addEventListener('message', (event) => {
    const match = /^halvo-series ([0-9]+) ([0-9.]+)$/.exec(String(event.data));
    if (match) window.series.push([Number(match[1]), Number(match[2]), Date.now()]);
  });
}

// The series as the page received it: delays (ms), and how many came out of order or never.
function delivery(received, count) {
  const seen = new Set();
  let highest = -1;
  let outOfOrder = 0;
  const delays = [];
  for (const [seq, sent, arrived] of received) {
    if (seq < highest) outOfOrder++;
    highest = Math.max(highest, seq);
    seen.add(seq);
    delays.push(arrived - sent);
  }
  return { delays, outOfOrder, lost: count - seen.size };
}

async function measureEvents(tab, perSecond, seconds) {
  const count = Math.round(perSecond * seconds);
  await tab.evaluate(listen);
  progress(`${count} messages at ${perSecond} a second from the probe module's NPN_GetURL`);
  await tab.evaluate(([n, rate]) => document.getElementById('probe').PostSeries(n, rate), [count, perSecond]);
  const end = Date.now() + seconds * 1000 + 5000;
  while (Date.now() < end) {
    await new Promise((resolve) => setTimeout(resolve, Math.min(10000, Math.max(0, end - Date.now()))));
    const got = await tab.evaluate(() => window.series.length);
    progress(`${got} of ${count} arrived`);
    if (got >= count) break;
  }
  const { delays, outOfOrder, lost } = delivery(await tab.evaluate(() => window.series), count);
  console.log(`\nevent delivery, NPN_GetURL to the page's message event, ${count} at ${perSecond}/s (ms)`);
  table(['', 'median', 'p99', 'max', 'out of order', 'lost'], [[
    'message', percentile(delays, 50).toFixed(2), percentile(delays, 99).toFixed(2), Math.max(...delays).toFixed(2),
    String(outOfOrder), String(lost),
  ]]);
}

async function measureTaskList(tab, count, folder) {
  progress(`importing ${count} tasks through the page`);
  const imported = await tab.evaluate(([n, into]) => {
    const halvo = document.getElementById('halvo');
    let text = '';
    for (let i = 0; i < n; i++) text += `http://127.0.0.1:9/files/t${i}.bin|${into}|t${i}.bin\n`;
    const start = performance.now();
    const status = halvo.ImportTask(text);
    return { status, ms: performance.now() - start };
  }, [count, folder]);
  progress(`LoadWorkTask with ${count} tasks`);
  const loaded = await tab.evaluate(() => {
    const halvo = document.getElementById('halvo');
    let calls = 0;
    let last = 0;
    const start = performance.now();
    const status = halvo.LoadWorkTask(() => {
      calls++;
      last = performance.now();
    });
    return { status, calls, toLast: last - start, ms: performance.now() - start };
  });
  console.log(`\ntask lists through the page, ${count} tasks (ms)`);
  table(['', 'status', 'page calls', 'to last call', 'whole call'], [
    ['ImportTask', String(imported.status), '', '', imported.ms.toFixed(0)],
    ['LoadWorkTask', String(loaded.status), String(loaded.calls), loaded.toLast.toFixed(0), loaded.ms.toFixed(0)],
  ]);
}

// Runs in the page: the three kinds in turn, so that the machine's load falls on each alike.
function measure(rounds) {
  const halvo = document.getElementById('halvo');
  const probe = document.getElementById('probe');
  const times = { floor: [], call: [], callWithFunction: [] };
  const floor = () => {
    // A request the bridge answers at once: no such session (410), after reading its body as every call's.
    const request = new XMLHttpRequest();
    request.open('POST', '/halvo-bridge/close', false);
    request.setRequestHeader('Content-Type', 'application/json');
    request.send(JSON.stringify({ session: 'none' }));
    if (request.status !== 410) throw new Error('the floor request answered ' + request.status);
  };
  const call = () => {
    if (typeof halvo.GetDownloadingCount() !== 'number') throw new Error('no count');
  };
  let returned = 0;
  const page = (value) => {
    returned += value;
    return value;
  };
  const callWithFunction = () => probe.Call(page, 1);
  const kinds = { floor, call, callWithFunction };
  for (let i = 0; i < 30; i++) for (const name of Object.keys(kinds)) kinds[name]();
  for (let i = 0; i < rounds; i++) {
    for (const name of Object.keys(kinds)) {
      const start = performance.now();
      kinds[name]();
      times[name].push(performance.now() - start);
    }
  }
  if (returned < rounds) throw new Error('the page function ran ' + returned + ' times');
  return times;
}

async function main() {
  const rounds = option('--rounds', 1000);
  const engine = paths.engineDll();
  progress(`starting Wine, the host${engine ? ', the engine' : ''} and the bridge`);
  const stack = await startStack({
    prefix: path.join(E2E, 'bench-prefix'),
    modules: [paths.PLUGIN, paths.PROBE],
    engine,
    roots: [{ prefix: '/bench/', dir: path.join(__dirname, 'pages') }],
  });
  let browser;
  try {
    browser = await launchBrowser();
    const tab = await browser.newPage();
    await tab.goto(`${stack.url}/bench/calls.html`);
    progress(`${rounds} rounds of each kind`);
    const times = await tab.evaluate(measure, rounds);
    const rows = Object.entries(times).map(([name, values]) => ({
      name,
      median: percentile(values, 50),
      p90: percentile(values, 90),
    }));
    const floor = rows[0];
    console.log(`\npage path, ${rounds} of each (ms)`);
    table(['', 'median', 'p90', 'median/floor', 'p90/floor'], rows.map((row) => [
      row.name, row.median.toFixed(3), row.p90.toFixed(3),
      (row.median / floor.median).toFixed(2), (row.p90 / floor.p90).toFixed(2),
    ]));
    const eventSeconds = option('--event-seconds', 60);
    if (eventSeconds > 0) await measureEvents(tab, option('--events-per-second', 200), eventSeconds);
    const tasks = option('--tasks', 0);
    if (tasks > 0 && engine) await measureTaskList(tab, tasks, wine.windowsPath(stack.engineHome));
    await tab.close();
  } finally {
    if (browser) await browser.close();
    await stack.stop();
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});

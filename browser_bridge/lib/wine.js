'use strict';
// Wine for the bridge: private prefixes, their wineserver, COM registration
// and Windows paths. A prefix is made once, with Wine's null display driver
// so that windows work without X.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

function wineEnv(prefix, extra = {}) {
  return {
    ...process.env,
    WINEPREFIX: prefix,
    WINEARCH: 'win64',
    WINEDEBUG: '-all',
    WINEDLLOVERRIDES: 'mscoree,mshtml=',
    ...extra,
  };
}

// Z:\ is the whole Linux file system inside every prefix.
function windowsPath(linuxPath) {
  return 'Z:' + path.resolve(linuxPath).replace(/\//g, '\\');
}

function run(command, args, env, { timeoutMs = 300000 } = {}) {
  return new Promise((resolve, reject) => {
    // Wine's services inherit the streams: detached ones keep them from holding ours open.
    const child = spawn(command, args, { env, stdio: ['ignore', 'ignore', 'ignore'] });
    const timer = setTimeout(() => child.kill('SIGKILL'), timeoutMs);
    child.on('error', (error) => {
      clearTimeout(timer);
      reject(error);
    });
    child.on('exit', (code, signal) => {
      clearTimeout(timer);
      resolve(code === null ? 128 + (signal ? 9 : 0) : code);
    });
  });
}

async function ensurePrefix(prefix) {
  const marker = path.join(prefix, '.halvo-ready');
  if (fs.existsSync(marker)) return false;
  fs.rmSync(prefix, { recursive: true, force: true });
  fs.mkdirSync(prefix, { recursive: true });
  const env = wineEnv(prefix);
  await run('wine', ['wineboot', '-i'], env);
  await run('wine', ['reg', 'add', 'HKCU\\Software\\Wine\\Drivers', '/v', 'Graphics', '/d', 'null', '/f'], env);
  // The desktop process picks its driver when it starts: stop everything started before the setting.
  await run('wineserver', ['-w'], env);
  fs.writeFileSync(marker, '');
  return true;
}

// One persistent wineserver for the prefix, with Wine's services started, so each program starts fast.
async function startServer(prefix) {
  const env = wineEnv(prefix);
  await run('wineserver', ['-k'], env).catch(() => {});
  await run('wineserver', ['-p'], env);
  await run('wine', ['wineboot'], env);
}

async function stopServer(prefix) {
  const env = wineEnv(prefix);
  await run('wineserver', ['-k'], env).catch(() => {});
  await run('wineserver', ['-w'], env).catch(() => {});
}

// regsvr32 of an in-process COM server into the prefix's HKEY_CLASSES_ROOT.
async function registerServer(prefix, dll) {
  const code = await run('wine', ['regsvr32', '/s', windowsPath(dll)], wineEnv(prefix));
  if (code !== 0) throw new Error(`regsvr32 ${dll} failed with ${code}`);
}

async function unregisterServer(prefix, dll) {
  await run('wine', ['regsvr32', '/s', '/u', windowsPath(dll)], wineEnv(prefix));
}

// Takes one class's ProgID out of the prefix's HKEY_CLASSES_ROOT, as an
// installation that is not whole leaves it; registerServer puts it back.
async function removeProgId(prefix, progId) {
  const code = await run('wine', ['reg', 'delete', `HKCR\\${progId}`, '/f'], wineEnv(prefix));
  if (code !== 0) throw new Error(`reg delete ${progId} failed with ${code}`);
}

// The plug-in's site lock: the origins whose pages may use the engine, as an
// administrator sets them (HKEY_LOCAL_MACHINE); null takes the value out of
// both hives, so the module's default list (pages of this machine) holds.
const PLUGIN_KEY = 'Software\\Halvo\\Transfer Plugin';

async function setAllowedOrigins(prefix, origins) {
  const env = wineEnv(prefix);
  if (origins === null) {
    // reg answers 1 when there was no value: nothing to take out then.
    for (const hive of ['HKLM', 'HKCU']) await run('wine', ['reg', 'delete', `${hive}\\${PLUGIN_KEY}`, '/v', 'AllowedOrigins', '/f'], env);
    return;
  }
  const code = await run('wine', ['reg', 'add', `HKLM\\${PLUGIN_KEY}`, '/v', 'AllowedOrigins', '/t', 'REG_SZ', '/d', origins, '/f'], env);
  if (code !== 0) throw new Error(`reg add AllowedOrigins failed with ${code}`);
}

module.exports = {
  wineEnv,
  windowsPath,
  ensurePrefix,
  startServer,
  stopServer,
  registerServer,
  unregisterServer,
  removeProgId,
  setAllowedOrigins,
};

'use strict';
// Where the project's built programs and page folders are.
const fs = require('node:fs');
const path = require('node:path');

const ROOT = path.resolve(__dirname, '..', '..');
const BIN = process.env.HALVO_BIN ? path.resolve(process.env.HALVO_BIN) : path.join(ROOT, 'build', 'x86_64', 'bin');

// The working download engine: built beside the plug-in, or named by HALVO_ENGINE_DLL.
function engineDll() {
  const named = process.env.HALVO_ENGINE_DLL;
  if (named) return fs.existsSync(named) ? path.resolve(named) : null;
  const built = path.join(BIN, 'halvo_engine.dll');
  return fs.existsSync(built) ? built : null;
}

module.exports = {
  ROOT,
  BIN,
  HOST: path.join(BIN, 'halvo_host.exe'),
  PLUGIN: path.join(BIN, 'halvo_plugin.dll'),
  PROBE: path.join(BIN, 'probe_plugin.dll'),
  DEMO: path.join(ROOT, 'demo'),
  PAGE_LIBRARY: path.join(ROOT, 'page_library'),
  engineDll,
};

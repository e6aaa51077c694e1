'use strict';
// The whole chain a page needs, started and stopped as one: a private Wine
// prefix (with the working engine registered when one is given, and the
// plug-in's allowed origins as given: null for its default list), its
// wineserver, the headless host with the plug-in modules, and the bridge that
// serves the pages (limits: the bridge's, see bridge_server.js).
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { BridgeServer } = require('./bridge_server');
const { HostProcess } = require('./host_process');
const paths = require('./paths');
const wine = require('./wine');

async function startStack({
  prefix,
  modules = [paths.PLUGIN],
  engine = null,
  roots = [],
  index = '/demo/',
  port = 0,
  allowedOrigins = null,
  limits = {},
  log = () => {},
}) {
  await wine.ensurePrefix(prefix);
  await wine.startServer(prefix);
  // The engine keeps its settings and tasks in a folder of this run's own.
  const engineHome = fs.mkdtempSync(path.join(os.tmpdir(), 'halvo-engine-'));
  try {
    const marker = path.join(prefix, '.halvo-engine');
    if (engine) {
      await wine.registerServer(prefix, engine);
      fs.writeFileSync(marker, engine);
    } else if (fs.existsSync(marker)) {
      // A prefix used once with the engine must not keep it for a run without one.
      await wine.unregisterServer(prefix, fs.readFileSync(marker, 'utf8'));
      fs.rmSync(marker);
    }
    await wine.setAllowedOrigins(prefix, allowedOrigins);
    const host = await HostProcess.start({
      hostExe: paths.HOST,
      modules,
      prefix,
      env: { HALVO_ENGINE_HOME: wine.windowsPath(engineHome) },
    });
    const bridge = new BridgeServer({
      host,
      roots: [
        { prefix: '/demo/', dir: paths.DEMO },
        { prefix: '/page_library/', dir: paths.PAGE_LIBRARY },
        ...roots,
      ],
      index,
      limits,
      log,
    });
    const url = await bridge.listen(port);
    return {
      prefix,
      host,
      bridge,
      url,
      engineHome,
      async stop() {
        await bridge.close().catch(() => {});
        const ledger = await host.stop();
        await wine.stopServer(prefix);
        fs.rmSync(engineHome, { recursive: true, force: true });
        return ledger;
      },
    };
  } catch (error) {
    await wine.stopServer(prefix);
    throw error;
  }
}

module.exports = { startStack };

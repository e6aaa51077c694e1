'use strict';
// The page library as a package: installed from the files its package.json
// names, it loads through "exports" as CommonJS and as an ES module with the
// same names, and its declarations compile with the TypeScript compiler
// against the example pages (module and plain script, under the resolutions
// pages use) and reject the mistakes they are there to catch.
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');

const paths = require('../lib/paths');

const LIBRARY = paths.PAGE_LIBRARY;
const TSC = require.resolve('typescript/lib/tsc.js');
const MANIFEST = JSON.parse(fs.readFileSync(path.join(LIBRARY, 'package.json'), 'utf8'));

let project;

// A page project with the package installed as npm would: package.json and its "files".
before(() => {
  project = fs.mkdtempSync(path.join(os.tmpdir(), 'halvo-page-project-'));
  const installed = path.join(project, 'node_modules', MANIFEST.name);
  fs.mkdirSync(installed, { recursive: true });
  for (const file of ['package.json', ...MANIFEST.files]) fs.copyFileSync(path.join(LIBRARY, file), path.join(installed, file));
  fs.mkdirSync(path.join(project, 'src'));
  for (const file of fs.readdirSync(path.join(LIBRARY, 'examples'))) {
    fs.copyFileSync(path.join(LIBRARY, 'examples', file), path.join(project, 'src', file));
  }
  fs.copyFileSync(path.join(__dirname, 'types', 'misuse.ts'), path.join(project, 'src', 'misuse.ts'));
});

after(() => fs.rmSync(project, { recursive: true, force: true }));

// Compiles the files with strict checks; the compiler's complaints, or '' when there are none.
function compile(files, options) {
  const config = path.join(project, `tsconfig.${files.join('-').replace(/\W/g, '_')}.json`);
  fs.writeFileSync(config, JSON.stringify({
    compilerOptions: { strict: true, noEmit: true, target: 'es2022', lib: ['es2022', 'dom'], types: [], ...options },
    files: files.map((file) => `src/${file}`),
  }));
  try {
    execFileSync(process.execPath, [TSC, '-p', config, '--pretty', 'false'], { cwd: project, encoding: 'utf8' });
    return '';
  } catch (error) {
    return `${error.stdout}${error.stderr}` || error.message;
  }
}

describe('the package', () => {
  test('it loads through its exports as CommonJS and as an ES module, with the same names and values', async () => {
    const script = `
      const required = require(${JSON.stringify(MANIFEST.name)});
      import(${JSON.stringify(MANIFEST.name)}).then((imported) => {
        const names = Object.keys(imported).filter((name) => name !== 'default').sort();
        process.stdout.write(JSON.stringify({
          names, required: Object.keys(required).sort(),
          same: names.every((name) => imported[name] === required[name]),
          defaults: imported.default === required && required.default === required,
          version: required.VERSION,
        }));
      });`;
    const result = JSON.parse(execFileSync(process.execPath, ['-e', script], { cwd: project, encoding: 'utf8' }));
    assert.deepEqual(result.names, result.required);
    assert.equal(result.same, true);
    assert.equal(result.defaults, true);
    assert.equal(result.version, MANIFEST.version, 'the library and its package say the same version');
  });

  test('its "engines" is the Node.js the tests run on, and every file it names is there', () => {
    const major = Number(/^>=(\d+)$/.exec(MANIFEST.engines.node)[1]);
    assert.ok(Number(process.versions.node.split('.')[0]) >= major);
    for (const target of [MANIFEST.main, MANIFEST.module, MANIFEST.types, ...Object.values(MANIFEST.exports['.'])]) {
      assert.ok(MANIFEST.files.includes(target.replace(/^\.\//, '')), `${target} is shipped`);
    }
  });
});

describe('the type declarations', () => {
  const resolutions = [
    ['a bundler', { module: 'esnext', moduleResolution: 'bundler' }],
    ['Node.js', { module: 'node16', moduleResolution: 'node16' }],
  ];
  for (const [name, options] of resolutions) {
    test(`the example page module compiles as ${name} resolves the package`, () => {
      assert.equal(compile(['downloads_page.ts'], options), '');
    });
  }

  test('the plain-script example compiles against the global Halvo', () => {
    assert.equal(compile(['plain_script.ts'], {}), '');
  });

  test('every mistake the declarations must catch is caught', () => {
    // Each line there expects an error; a line that compiles is reported as an unused expectation.
    assert.equal(compile(['misuse.ts'], { module: 'esnext', moduleResolution: 'bundler' }), '');
  });
});

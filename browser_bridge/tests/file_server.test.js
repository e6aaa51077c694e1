'use strict';
// The loopback file server the downloads come from: the engine asks it for
// byte ranges over several connections, so ranges must be exact.
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');

const { FileServer, sha256File, writeSampleFile } = require('../lib/file_server');

let dir;
let server;
let paced;
let whole;

before(async () => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'halvo-file-server-'));
  const sum = writeSampleFile(path.join(dir, 'a.bin'), 200000, 3);
  assert.equal(sha256File(path.join(dir, 'a.bin')), sum);
  whole = fs.readFileSync(path.join(dir, 'a.bin'));
  server = new FileServer({ dir });
  paced = new FileServer({ dir, bytesPerSecond: 400000 });
  await server.listen();
  await paced.listen();
});

after(async () => {
  await server.close();
  await paced.close();
  fs.rmSync(dir, { recursive: true, force: true });
});

async function get(origin, file, headers = {}, method = 'GET') {
  const response = await fetch(`${origin}/files/${file}`, { method, headers });
  return { status: response.status, headers: response.headers, body: Buffer.from(await response.arrayBuffer()) };
}

describe('sample files', () => {
  test('the same seed makes the same file, another seed another', () => {
    const again = writeSampleFile(path.join(dir, 'b.bin'), 200000, 3);
    const other = writeSampleFile(path.join(dir, 'c.bin'), 200000, 4);
    assert.equal(again, crypto.createHash('sha256').update(whole).digest('hex'));
    assert.notEqual(other, again);
  });
});

describe('ranges', () => {
  test('whole file, a middle range, an open range and a suffix range', async () => {
    const full = await get(server.origin, 'a.bin');
    assert.equal(full.status, 200);
    assert.deepEqual(full.body, whole);
    assert.equal(full.headers.get('accept-ranges'), 'bytes');
    const middle = await get(server.origin, 'a.bin', { Range: 'bytes=1000-1999' });
    assert.deepEqual([middle.status, middle.headers.get('content-range')], [206, 'bytes 1000-1999/200000']);
    assert.deepEqual(middle.body, whole.subarray(1000, 2000));
    const open = await get(server.origin, 'a.bin', { Range: 'bytes=199990-' });
    assert.deepEqual(open.body, whole.subarray(199990));
    const suffix = await get(server.origin, 'a.bin', { Range: 'bytes=-10' });
    assert.deepEqual(suffix.body, whole.subarray(199990));
    const beyond = await get(server.origin, 'a.bin', { Range: 'bytes=5-999999' });
    assert.deepEqual(beyond.body, whole.subarray(5));
  });

  test('unsatisfiable ranges answer 416; a stale If-Range gets the whole file', async () => {
    assert.equal((await get(server.origin, 'a.bin', { Range: 'bytes=200000-' })).status, 416);
    assert.equal((await get(server.origin, 'a.bin', { Range: 'bytes=9-3' })).status, 416);
    const stale = await get(server.origin, 'a.bin', { Range: 'bytes=0-9', 'If-Range': '"other"' });
    assert.deepEqual([stale.status, stale.body.length], [200, 200000]);
    const etag = (await get(server.origin, 'a.bin', {}, 'HEAD')).headers.get('etag');
    assert.equal((await get(server.origin, 'a.bin', { Range: 'bytes=0-9', 'If-Range': etag })).status, 206);
  });

  test('a paced answer is still exact', async () => {
    const middle = await get(paced.origin, 'a.bin', { Range: 'bytes=12345-160000' });
    assert.deepEqual(middle.body, whole.subarray(12345, 160001));
  });

  test('only files of the folder are served', async () => {
    assert.equal((await get(server.origin, '..%2Fsecret')).status, 404);
    assert.equal((await get(server.origin, 'missing.bin')).status, 404);
    assert.equal((await fetch(`${server.origin}/a.bin`)).status, 404);
    assert.equal((await get(server.origin, 'a.bin', {}, 'POST')).status, 405);
  });
});

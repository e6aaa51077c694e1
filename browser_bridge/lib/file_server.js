'use strict';
// A loopback file server for sample downloads: GET and HEAD of the files in
// one folder, single byte ranges, ETag and Last-Modified, and an optional
// pace (bytes per second per response) so that a download lasts long enough
// to be watched.
const crypto = require('node:crypto');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');

class FileServer {
  constructor({ dir, bytesPerSecond = 0, log = () => {} }) {
    this.dir = path.resolve(dir);
    this.bytesPerSecond = bytesPerSecond;
    this.log = log;
    this.requests = [];
    this.sockets = new Set();
    this.server = http.createServer((request, response) => this._serve(request, response));
    this.server.on('connection', (socket) => {
      this.sockets.add(socket);
      socket.on('close', () => this.sockets.delete(socket));
    });
  }

  listen(port = 0) {
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(port, '127.0.0.1', () => {
        this.port = this.server.address().port;
        this.origin = `http://127.0.0.1:${this.port}`;
        resolve(this.origin);
      });
    });
  }

  close() {
    for (const socket of this.sockets) socket.destroy();
    return new Promise((resolve) => this.server.close(resolve));
  }

  _serve(request, response) {
    const url = new URL(request.url, 'http://127.0.0.1');
    this.requests.push({ method: request.method, path: url.pathname, range: request.headers.range || null });
    let name;
    try {
      name = decodeURIComponent(url.pathname.replace(/^\/files\//, ''));
    } catch {
      name = '';
    }
    const file = path.resolve(this.dir, name);
    if (!url.pathname.startsWith('/files/') || !file.startsWith(this.dir + path.sep) ||
        !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404, { 'Content-Length': 0 });
      return response.end();
    }
    if (request.method !== 'GET' && request.method !== 'HEAD') {
      response.writeHead(405, { Allow: 'GET, HEAD', 'Content-Length': 0 });
      return response.end();
    }
    const stat = fs.statSync(file);
    const size = stat.size;
    const etag = `"${stat.size.toString(16)}-${Math.floor(stat.mtimeMs).toString(16)}"`;
    const headers = {
      'Accept-Ranges': 'bytes',
      'Content-Type': 'application/octet-stream',
      ETag: etag,
      'Last-Modified': stat.mtime.toUTCString(),
    };
    let start = 0;
    let end = size - 1;
    let status = 200;
    const range = request.headers.range;
    const ifRange = request.headers['if-range'];
    if (range && (!ifRange || ifRange === etag)) {
      const match = /^bytes=(\d*)-(\d*)$/.exec(range.trim());
      if (!match || (match[1] === '' && match[2] === '')) {
        response.writeHead(416, { 'Content-Range': `bytes */${size}`, 'Content-Length': 0 });
        return response.end();
      }
      if (match[1] === '') {
        start = Math.max(0, size - Number(match[2]));
      } else {
        start = Number(match[1]);
        if (match[2] !== '') end = Math.min(end, Number(match[2]));
      }
      if (start >= size || start > end) {
        response.writeHead(416, { 'Content-Range': `bytes */${size}`, 'Content-Length': 0 });
        return response.end();
      }
      status = 206;
      headers['Content-Range'] = `bytes ${start}-${end}/${size}`;
    }
    headers['Content-Length'] = end - start + 1;
    response.writeHead(status, headers);
    if (request.method === 'HEAD' || size === 0) return response.end();
    const stream = fs.createReadStream(file, { start, end, highWaterMark: 64 * 1024 });
    if (!this.bytesPerSecond) return stream.pipe(response);
    this._paced(stream, response);
  }

  // Chunks of a tenth of the pace, ten a second.
  _paced(stream, response) {
    const slice = Math.max(1024, Math.floor(this.bytesPerSecond / 10));
    let buffered = Buffer.alloc(0);
    let ended = false;
    const timer = setInterval(() => {
      if (buffered.length === 0 && ended) {
        clearInterval(timer);
        return response.end();
      }
      const chunk = buffered.subarray(0, slice);
      buffered = buffered.subarray(chunk.length);
      if (chunk.length) response.write(chunk);
      if (buffered.length < slice * 4) stream.resume();
    }, 100);
    stream.on('data', (data) => {
      buffered = Buffer.concat([buffered, data]);
      if (buffered.length >= slice * 4) stream.pause();
    });
    stream.on('end', () => {
      ended = true;
    });
    response.on('close', () => {
      clearInterval(timer);
      stream.destroy();
    });
  }
}

// A file of pseudo-random bytes from a seed (the same seed gives the same file); its SHA-256.
function writeSampleFile(file, size, seed = 1) {
  const block = 64 * 1024;
  const hash = crypto.createHash('sha256');
  const fd = fs.openSync(file, 'w');
  let counter = 0;
  for (let written = 0; written < size; written += block) {
    const bytes = Buffer.alloc(Math.min(block, size - written));
    for (let at = 0; at < bytes.length; at += 32) {
      const digest = crypto.createHash('sha256').update(`${seed}:${counter++}`).digest();
      digest.copy(bytes, at, 0, Math.min(32, bytes.length - at));
    }
    hash.update(bytes);
    fs.writeSync(fd, bytes);
  }
  fs.closeSync(fd);
  return hash.digest('hex');
}

function sha256File(file) {
  return crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');
}

module.exports = { FileServer, writeSampleFile, sha256File };

'use strict';
// What a page may ask of the bridge: each route under /halvo-bridge/ with the
// fields of its JSON body and their types. A body that is not a JSON object,
// or a field of the wrong type, is refused with 400 and a short reason before
// anything reaches the host.

class RequestError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

// Field kinds; a '?' after the kind makes the field optional.
const KINDS = {
  string: (value) => typeof value === 'string',
  id: (value) => Number.isSafeInteger(value) && value >= 0,
  number: (value) => typeof value === 'number' && Number.isFinite(value),
  strings: (value) => Array.isArray(value) && value.every((item) => typeof item === 'string'),
  pairs: (value) => Array.isArray(value) &&
    value.every((pair) => Array.isArray(pair) && pair.length === 2 && pair.every((item) => typeof item === 'string')),
};

const SESSION = { session: 'string' };
const ELEMENT = { ...SESSION, element: 'id' };

const ROUTES = {
  session: { page: 'string' },
  new: { ...ELEMENT, type: 'string', x: 'number?', y: 'number?', width: 'number?', height: 'number?', attributes: 'pairs?' },
  has: { ...ELEMENT, name: 'string' },
  get: { ...ELEMENT, name: 'string' },
  lookup: { ...ELEMENT, name: 'string' },
  call: { ...ELEMENT, name: 'string', args: 'strings?' },
  // A page function's result (value) or its failure (error), for the call that waits for it.
  return: { ...SESSION, call: 'id', value: 'string?', error: 'string?' },
  destroy: ELEMENT,
  close: SESSION,
};

function isRoute(route) {
  return Object.prototype.hasOwnProperty.call(ROUTES, route);
}

// The body of a POST to the route, checked; throws a RequestError(400).
function checkBody(route, body) {
  if (body === null || typeof body !== 'object' || Array.isArray(body)) throw new RequestError(400, 'the body must be a JSON object');
  for (const [field, kind] of Object.entries(ROUTES[route])) {
    const optional = kind.endsWith('?');
    const value = body[field];
    if (value === undefined && optional) continue;
    if (!KINDS[kind.replace('?', '')](value)) throw new RequestError(400, `bad or missing field "${field}"`);
  }
  return body;
}

// A request body read whole, up to limit bytes, as JSON.
function readJson(request, limit = 4 * 1024 * 1024) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    request.on('data', (chunk) => {
      size += chunk.length;
      if (size > limit) {
        reject(new RequestError(413, 'too large'));
        request.destroy();
      } else {
        chunks.push(chunk);
      }
    });
    request.on('end', () => {
      try {
        resolve(JSON.parse(Buffer.concat(chunks).toString('utf8')));
      } catch {
        reject(new RequestError(400, 'the body is not JSON'));
      }
    });
    request.on('error', reject);
  });
}

module.exports = { RequestError, isRoute, checkBody, readJson };

'use strict';
// Pages as the bridge knows them: each page load (each frame) is a session
// with the page's address, its own element ids and page-object ids, mapped to
// the host's, and an event stream that carries what happens outside a call:
// javascript: URLs from the module, later callbacks, released page objects.
// Events wait for a page without a stream in a bounded queue, and a stream
// that does not take its data holds a bounded amount of it; beyond either,
// events are dropped (the oldest waiting ones first) and counted.
const crypto = require('node:crypto');

class Session {
  constructor(id, page, limits) {
    this.id = id;
    this.page = page; // the page's address, from the request the browser made
    this.limits = limits;
    this.elements = new Map(); // page element id -> host element id
    this.scriptables = new Set(); // host np ids of this page's elements
    this.toHostObject = new Map(); // 'fn:3' -> host page-object id
    this.fromHostObject = new Map(); // host page-object id -> { type, id }
    this.stream = null;
    this.streamlessSince = Date.now(); // when the page last had no event stream
    this.pending = [];
    this.dropped = 0;
    this.closed = false;
    this.waiting = new Map(); // call id -> a host call waiting for this page's function
    this.expired = new Map(); // call id -> why its call no longer waits (the latest few)
    this.nextCall = 1;
  }

  // The page answers the call late: it learns why it no longer waits.
  forget(call, why) {
    this.expired.set(call, why);
    if (this.expired.size > 64) this.expired.delete(this.expired.keys().next().value);
  }

  send(event) {
    if (this.closed) return;
    if (this.stream) {
      if (this.stream.writableLength > this.limits.maxBufferedBytes) {
        this.dropped++;
        return;
      }
      this.stream.write(`data: ${JSON.stringify(event)}\n\n`);
      return;
    }
    this.pending.push(event);
    if (this.pending.length > this.limits.maxQueuedEvents) {
      this.pending.shift();
      this.dropped++;
    }
  }

  attach(stream) {
    // One stream a page: a newer one takes the place of the older.
    if (this.stream && this.stream !== stream) this.stream.end();
    this.stream = stream;
    this.streamlessSince = null;
    for (const event of this.pending.splice(0)) this.send(event);
  }
}

// The HTML pages the bridge served, each under a token of its own that the
// page's shim presents when it opens its session: the page's path is the one
// the bridge served, never one the page names. A token is good once, for a
// while; the table keeps at most `max` of them.
class ServedPages {
  constructor({ max = 1000, lifetimeMs = 10 * 60 * 1000 } = {}) {
    this.max = max;
    this.lifetimeMs = lifetimeMs;
    this.byToken = new Map();
  }

  add(origin, pagePath) {
    const token = crypto.randomBytes(16).toString('hex');
    this.byToken.set(token, { origin, path: pagePath, at: Date.now() });
    // Oldest first: Map keeps insertion order.
    for (const [old, page] of this.byToken) {
      if (this.byToken.size <= this.max && Date.now() - page.at <= this.lifetimeMs) break;
      this.byToken.delete(old);
    }
    return token;
  }

  // The page served under the token to that origin, taken off the table; null when none.
  take(token, origin) {
    const page = this.byToken.get(token);
    if (!page) return null;
    this.byToken.delete(token);
    if (page.origin !== origin || Date.now() - page.at > this.lifetimeMs) return null;
    return page.origin + page.path;
  }
}

class Sessions {
  constructor(limits = { maxQueuedEvents: 1000, maxBufferedBytes: 4 * 1024 * 1024 }) {
    this.limits = limits;
    this.byId = new Map();
    this.byElement = new Map(); // host element id -> { session, element }
    this.byObject = new Map(); // host page-object id -> session
    this.nextElement = 1;
    this.nextObject = 1;
  }

  create(page) {
    const id = crypto.randomBytes(12).toString('hex');
    const session = new Session(id, page, this.limits);
    this.byId.set(id, session);
    return session;
  }

  get(id) {
    const session = this.byId.get(id);
    return session && !session.closed ? session : null;
  }

  addElement(session, pageElement) {
    const hostElement = this.nextElement++;
    session.elements.set(pageElement, hostElement);
    this.byElement.set(hostElement, { session, element: pageElement });
    return hostElement;
  }

  removeElement(session, pageElement) {
    const hostElement = session.elements.get(pageElement);
    if (hostElement === undefined) return;
    session.elements.delete(pageElement);
    this.byElement.delete(hostElement);
  }

  // The host's id for a page object of this session ('fn' or 'obj' and the page's id).
  hostObject(session, type, pageId) {
    const key = `${type}:${pageId}`;
    let hostId = session.toHostObject.get(key);
    if (hostId === undefined) {
      hostId = this.nextObject++;
      session.toHostObject.set(key, hostId);
      session.fromHostObject.set(hostId, { type, id: pageId });
      this.byObject.set(hostId, session);
    }
    return hostId;
  }

  // The page's view of a host page object: its session and page id, or null.
  pageObject(hostId) {
    const session = this.byObject.get(hostId);
    if (!session) return null;
    return { session, ...session.fromHostObject.get(hostId) };
  }

  releaseObject(hostId) {
    const session = this.byObject.get(hostId);
    if (!session) return null;
    const page = session.fromHostObject.get(hostId);
    session.fromHostObject.delete(hostId);
    session.toHostObject.delete(`${page.type}:${page.id}`);
    this.byObject.delete(hostId);
    return { session, ...page };
  }

  close(session) {
    session.closed = true;
    if (session.stream) session.stream.end();
    session.stream = null;
    session.pending = [];
    this.byId.delete(session.id);
  }
}

module.exports = { Sessions, ServedPages };

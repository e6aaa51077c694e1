'use strict';
// Pages as the bridge knows them: each page load (each frame) is a session
// with its own element ids and page-object ids, mapped to the host's, and an
// event stream that carries what happens outside a call: javascript: URLs
// from the module, later callbacks, released page objects.
const crypto = require('node:crypto');

class Session {
  constructor(id, origin) {
    this.id = id;
    this.origin = origin;
    this.elements = new Map(); // page element id -> host element id
    this.scriptables = new Set(); // host np ids of this page's elements
    this.toHostObject = new Map(); // 'fn:3' -> host page-object id
    this.fromHostObject = new Map(); // host page-object id -> { type, id }
    this.stream = null;
    this.pending = [];
    this.closed = false;
    this.lastSeen = Date.now();
  }

  send(event) {
    if (this.closed) return;
    if (this.stream) this.stream.write(`data: ${JSON.stringify(event)}\n\n`);
    else this.pending.push(event);
  }

  attach(stream) {
    this.stream = stream;
    for (const event of this.pending.splice(0)) this.send(event);
  }
}

class Sessions {
  constructor() {
    this.byId = new Map();
    this.byElement = new Map(); // host element id -> { session, element }
    this.byObject = new Map(); // host page-object id -> session
    this.nextElement = 1;
    this.nextObject = 1;
  }

  create(origin) {
    const id = crypto.randomBytes(12).toString('hex');
    const session = new Session(id, origin);
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
    this.byId.delete(session.id);
  }
}

module.exports = { Sessions };

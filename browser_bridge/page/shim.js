// The bridge's page-side script: makes every <embed> or <object> element of a
// plug-in type the bridge serves behave as that plug-in's scriptable object,
// as a browser with NPAPI did. Method calls are synchronous requests to the
// bridge and return what the module answered; a page function the module
// calls during a call runs then, and its result goes back to the module
// before the call goes on (calls it makes meanwhile are nested); javascript:
// URLs the module loads into the element's frame run in this window; an
// element taken out of the document loses its instance.
(function () {
  'use strict';
  if (window.__halvoBridge) return;

  var API = '/halvo-bridge/';
  var FAILED_CALL = 'Error calling method on NPObject.';
  // The bridge wrote this serving of the page on the tag that loaded this script.
  var served = document.currentScript ? document.currentScript.getAttribute('data-page') : null;

  function post(route, body) {
    var request = new XMLHttpRequest();
    request.open('POST', API + route, false); // synchronous, as script calls into a plug-in are
    request.setRequestHeader('Content-Type', 'application/json');
    request.send(JSON.stringify(body));
    if (request.status !== 200) {
      var reason = request.responseText;
      try {
        reason = JSON.parse(reason).error;
      } catch (error) {
        // not the bridge's own answer: its text as it is
      }
      throw new Error('halvo bridge: ' + route + ' answered ' + request.status + ': ' + reason);
    }
    return JSON.parse(request.responseText);
  }

  var opened = post('session', { page: served || '' });
  var session = opened.session;
  var types = opened.types.map(function (type) { return type.toLowerCase(); });

  // ---- texts and values -------------------------------------------------------

  function utf8Bytes(text) {
    return new TextEncoder().encode(text); // lone surrogates become U+FFFD, as browsers convert them
  }

  function utf8Text(bytes) {
    return new TextDecoder('utf-8').decode(bytes);
  }

  function hex(byte) {
    return '%' + (byte < 16 ? '0' : '') + byte.toString(16).toUpperCase();
  }

  // The protocol's text field: bytes above a blank and below 0x7F stay, but for "%".
  function textField(text) {
    var bytes = utf8Bytes(text);
    var field = "'";
    for (var i = 0; i < bytes.length; i++) {
      var byte = bytes[i];
      field += byte > 0x20 && byte < 0x7f && byte !== 0x25 ? String.fromCharCode(byte) : hex(byte);
    }
    return field;
  }

  function fieldText(field) {
    var bytes = [];
    for (var i = 1; i < field.length; i++) {
      if (field[i] === '%') {
        bytes.push(parseInt(field.substr(i + 1, 2), 16));
        i += 2;
      } else {
        bytes.push(field.charCodeAt(i));
      }
    }
    return utf8Text(new Uint8Array(bytes));
  }

  // Page objects handed to the module: the same object keeps its id while the host holds it.
  var nextObjectId = 1;
  var objectIds = new Map();
  var objectsById = new Map();

  function objectField(kind, value) {
    var key = kind + ':';
    var id = objectIds.get(value);
    if (id === undefined || !objectsById.has(key + id)) {
      id = nextObjectId++;
      objectIds.set(value, id);
      objectsById.set(key + id, value);
    }
    return key + id;
  }

  function forget(field) {
    var value = objectsById.get(field);
    objectsById.delete(field);
    if (value !== undefined && objectIds.get(value) === Number(field.split(':')[1])) objectIds.delete(value);
  }

  function numberField(number) {
    if (Number.isNaN(number)) return 'd:nan';
    if (number === Infinity) return 'd:inf';
    if (number === -Infinity) return 'd:-inf';
    if (Object.is(number, -0)) return 'd:-0';
    return 'd:' + String(number);
  }

  // As the browser this module was made for converts script values: every number is a double.
  function toField(value) {
    if (value === undefined) return 'void';
    if (value === null) return 'null';
    switch (typeof value) {
      case 'boolean': return value ? 'true' : 'false';
      case 'number': return numberField(value);
      case 'bigint': return numberField(Number(value));
      case 'string': return textField(value);
      case 'symbol': return 'void';
      case 'function': return objectField('fn', value);
    }
    var state = states.get(value);
    if (state && state.alive && state.np !== null) return 'np:' + state.np;
    return objectField('obj', value);
  }

  function fromField(field) {
    if (field === 'void') return undefined;
    if (field === 'null') return null;
    if (field === 'true') return true;
    if (field === 'false') return false;
    if (field[0] === "'") return fieldText(field);
    var colon = field.indexOf(':');
    var kind = field.slice(0, colon);
    var rest = field.slice(colon + 1);
    if (kind === 'i') return Number(rest);
    if (kind === 'd') return rest === 'nan' ? NaN : rest === 'inf' ? Infinity : rest === '-inf' ? -Infinity : Number(rest);
    if (kind === 'fn' || kind === 'obj') return objectsById.has(field) ? objectsById.get(field) : null;
    if (kind === 'np') {
      var element = null;
      byId.forEach(function (candidate) {
        var state = states.get(candidate);
        if (state && state.np === Number(rest)) element = candidate;
      });
      return element;
    }
    return undefined;
  }

  function report(error) {
    if (typeof window.reportError === 'function') window.reportError(error);
    else setTimeout(function () { throw error; });
  }

  // A page function the module called outside any call: nobody waits for its result.
  function runCallback(callback) {
    runFunction(callback);
  }

  // Runs the page function the module called; {value} or {threw, message}.
  function runFunction(callback) {
    var fn = objectsById.get('fn:' + callback.fn);
    if (typeof fn !== 'function') return { threw: true, message: 'not a function' };
    try {
      return { value: fn.apply(window, callback.args) };
    } catch (error) {
      report(error); // as a browser reports an exception thrown by a function the module called
      return { threw: true, message: String(error instanceof Error ? error.message : error) };
    } finally {
      dropRemoved();
    }
  }

  // A request to the bridge that may run page functions: while the module
  // waits for one of this page's functions, the answer names it; it runs now
  // and its result goes back in the next request, until the module's answer.
  function converse(route, body) {
    var answer = post(route, body);
    for (;;) {
      // Values first: an object released with the answer is still the one it names.
      if (!answer.callback) {
        if (answer.ok) answer.result = fromField(answer.value);
        answer.released.forEach(forget);
        return answer;
      }
      var callback = { fn: answer.callback.fn, args: answer.callback.args.map(fromField) };
      answer.released.forEach(forget);
      var outcome = runFunction(callback);
      var reply = { session: session, call: answer.call };
      if (outcome.threw) reply.error = outcome.message;
      else reply.value = toField(outcome.value);
      answer = post('return', reply);
    }
  }

  // ---- elements ---------------------------------------------------------------

  var states = new WeakMap(); // element -> { id, alive, np }
  var byId = new Map(); // page element id -> element
  var nextElementId = 1;

  function isPluginElement(node) {
    if (!(node instanceof HTMLEmbedElement || node instanceof HTMLObjectElement)) return false;
    return types.indexOf((node.getAttribute('type') || '').trim().toLowerCase()) >= 0;
  }

  function instantiate(element) {
    var rect = element.getBoundingClientRect();
    var attributes = Array.prototype.map.call(element.attributes, function (attribute) {
      return [attribute.name, attribute.value];
    });
    var id = nextElementId++;
    var answer = post('new', {
      session: session, element: id, type: element.getAttribute('type'),
      x: Math.round(rect.left), y: Math.round(rect.top), width: Math.round(rect.width), height: Math.round(rect.height),
      attributes: attributes,
    });
    var state = {
      id: id, alive: answer.ok && answer.npError === 0, np: answer.np === undefined ? null : answer.np,
      names: new Map(), // name -> 'method', 'property' or 'none', as the scriptable object answered once
      methods: new Map(), // name -> the page's function for that method
    };
    states.set(element, state);
    if (state.alive) byId.set(id, element);
    return state;
  }

  // The element's instance, made the first time script or the document needs
  // it. An element out of the document has none: one just taken out loses it
  // now, before the document's change is observed.
  function stateOf(element) {
    if (!isPluginElement(element)) return null;
    var state = states.get(element);
    if (!element.isConnected) {
      if (state) destroy(element);
      return null;
    }
    return state || instantiate(element);
  }

  // Elements a page function took out of the document lose their instances
  // now: the host destroys each once the calls into it have returned.
  function dropRemoved() {
    byId.forEach(function (element) {
      if (element.isConnected) return;
      try {
        destroy(element);
      } catch (error) {
        report(error);
      }
    });
  }

  function destroy(element) {
    var state = states.get(element);
    if (!state) return;
    states.delete(element);
    if (!state.alive) return;
    state.alive = false;
    byId.delete(state.id);
    post('destroy', { session: session, element: state.id });
  }

  function callMethod(element, name, args) {
    var state = stateOf(element);
    if (!state || !state.alive || state !== states.get(element)) throw new Error(FAILED_CALL);
    var answer = converse('call', { session: session, element: state.id, name: name, args: args.map(toField) });
    if (!answer.ok) throw new Error(answer.message || FAILED_CALL);
    return answer.result;
  }

  function methodOf(state, element, name) {
    var method = state.methods.get(name);
    if (!method) {
      method = function () { return callMethod(element, name, Array.prototype.slice.call(arguments)); };
      state.methods.set(name, method);
    }
    return method;
  }

  // Names the DOM does not know are looked up in the element's scriptable object.
  function scriptable(prototype) {
    var base = Object.getPrototypeOf(prototype);
    Object.setPrototypeOf(prototype, new Proxy(base, {
      get: function (target, name, receiver) {
        if (typeof name !== 'string' || name in target) return Reflect.get(target, name, receiver);
        var state = stateOf(receiver);
        if (!state || !state.alive || state.np === null) return undefined;
        // What a name is, the object answers once; a method then costs no request until it is called.
        var kind = state.names.get(name);
        if (kind === 'method') return methodOf(state, receiver, name);
        if (kind === 'none') return undefined;
        var request = { session: session, element: state.id, name: name };
        var answer = converse(kind === 'property' ? 'get' : 'lookup', request);
        if (kind === undefined) {
          kind = answer.method ? 'method' : answer.property ? 'property' : 'none';
          state.names.set(name, kind);
          if (kind === 'method') return methodOf(state, receiver, name);
          if (kind === 'none') return undefined;
        }
        if (!answer.ok) throw new Error(answer.message || FAILED_CALL);
        return answer.result;
      },
    }));
  }
  scriptable(HTMLEmbedElement.prototype);
  scriptable(HTMLObjectElement.prototype);

  function pluginElementsIn(node, found) {
    if (node.nodeType !== Node.ELEMENT_NODE) return found;
    if (isPluginElement(node)) found.push(node);
    Array.prototype.forEach.call(node.querySelectorAll('embed,object'), function (inner) {
      if (isPluginElement(inner)) found.push(inner);
    });
    return found;
  }

  // In record order: a removed element loses its instance (a moved one gets a new one, as in browsers).
  new MutationObserver(function (records) {
    records.forEach(function (record) {
      Array.prototype.forEach.call(record.removedNodes, function (node) {
        pluginElementsIn(node, []).forEach(destroy);
      });
      Array.prototype.forEach.call(record.addedNodes, function (node) {
        pluginElementsIn(node, []).forEach(function (element) {
          if (element.isConnected && !states.has(element)) instantiate(element);
        });
      });
    });
  }).observe(document, { childList: true, subtree: true });

  function scan() {
    pluginElementsIn(document.documentElement, []).forEach(function (element) { stateOf(element); });
  }
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', scan);
  else scan();

  // ---- what the module does outside a call --------------------------------------

  // As a browser runs a javascript: URL: controls and blanks around it and tabs
  // and newlines in it do not count, the scheme in any case, the rest
  // percent-decoded and read as UTF-8, then run as script in this window.
  function runJavascriptUrl(url) {
    var cleaned = url.replace(/^[\u0000-\u0020]+|[\u0000-\u0020]+$/g, '').replace(/[\t\n\r]/g, '');
    if (!/^javascript:/i.test(cleaned)) return;
    var bytes = utf8Bytes(cleaned.slice('javascript:'.length));
    var decoded = [];
    for (var i = 0; i < bytes.length; i++) {
      var high = i + 2 < bytes.length ? hexValue(bytes[i + 1]) : -1;
      var low = i + 2 < bytes.length ? hexValue(bytes[i + 2]) : -1;
      if (bytes[i] === 0x25 && high >= 0 && low >= 0) {
        decoded.push(high * 16 + low);
        i += 2;
      } else {
        decoded.push(bytes[i]);
      }
    }
    try {
      (0, eval)(utf8Text(new Uint8Array(decoded)));
    } catch (error) {
      report(error);
    }
  }

  function hexValue(byte) {
    if (byte >= 0x30 && byte <= 0x39) return byte - 0x30;
    if (byte >= 0x41 && byte <= 0x46) return byte - 0x37;
    if (byte >= 0x61 && byte <= 0x66) return byte - 0x57;
    return -1;
  }

  var events = new EventSource(API + 'events?session=' + encodeURIComponent(session));
  events.onmessage = function (message) {
    var event = JSON.parse(message.data);
    if (event.type === 'url') {
      var element = byId.get(event.element);
      var state = element && states.get(element);
      if (state && state.alive) runJavascriptUrl(event.url);
    } else if (event.type === 'callback') {
      runCallback({ fn: event.fn, args: event.args.map(fromField) });
    } else if (event.type === 'released') {
      forget(event.object);
    }
  };

  window.addEventListener('pagehide', function () {
    events.close();
    navigator.sendBeacon(API + 'close', new Blob([JSON.stringify({ session: session })], { type: 'text/plain' }));
  });
  // A page brought back from the back-forward cache has lost its instances: load it anew, as
  // browsers did for pages with plug-ins.
  window.addEventListener('pageshow', function (event) {
    if (event.persisted) location.reload();
  });

  window.__halvoBridge = { session: session, types: types };
})();

// Halvo page library: what a page needs to use the Halvo Transfer Plugin
// element. It reads the texts the plug-in sends (window messages and callback
// texts) and wraps the element's 38 script methods with their status codes;
// on top of them, a client of today (Halvo.connect): one object per download,
// with its own events, a promise that settles when it ends, states and fields
// in words, failures as HalvoError with a code.
// One source shipped three ways: a plain script (window.Halvo), a CommonJS
// module, and through halvo.mjs an ES module.
(function (root, factory) {
  var library = factory();
  if (typeof module === 'object' && module && module.exports) {
    module.exports = library;
  } else if (!(root.Halvo && root.Halvo.VERSION === library.VERSION)) {
    // A page that loads the plain script and the ES module gets one library, not two.
    root.Halvo = library;
  }
})(typeof globalThis !== 'undefined' ? globalThis : typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  var MIME_TYPE = 'application/x-halvoplugin';
  var VERSION = '1.1.0';

  // What every engine method answers.
  var Status = { OK: 0, ENGINE_UNAVAILABLE: 1, BAD_ARGUMENTS: 2, NO_INSTANCE: 3 };
  var STATUS_NAMES = ['ok', 'engine unavailable', 'bad arguments', 'no instance'];

  // Event kinds: a silent record update (never posted to the page), a task
  // change, a task leaving the work list.
  var EventKind = { RECORD: 0, TASK: 3, FINISHED: 5 };

  // The task state byte, as the engine reports it.
  var TaskState = {
    QUEUED: 0, CONNECTING: 1, DOWNLOADING: 2, STOPPED: 3, FAILED: 4, COMPLETING: 5, COMPLETED: 6, CANCELLED: 7,
    REMOVED: 8,
  };

  // CreateDownload's flags.
  var AddFlags = { STOPPED: 1, FIRST: 2 };

  // The 24 fields of an event message, in order, with how each is read.
  var EVENT_FIELDS = [
    ['kind', 'int'], ['folder', 'text'], ['key', 'text'], ['url', 'text'], ['fileName', 'text'],
    ['referrer', 'text'], ['validator', 'text'], ['partialPath', 'text'], ['created', 'text'],
    ['finished', 'text'], ['path', 'text'], ['finalUrl', 'text'], ['contentType', 'text'], ['message', 'text'],
    ['queuePosition', 'int'], ['stateName', 'text'], ['percent', 'number'], ['connections', 'int'],
    ['complete', 'int'], ['state', 'int'], ['errorCode', 'int'], ['speed', 'int'], ['size', 'int64'],
    ['done', 'int64'],
  ];

  // The 10 fields of a working-task record (LoadWorkTask).
  var RECORD_FIELDS = [
    ['key', 'text'], ['url', 'text'], ['folder', 'text'], ['fileName', 'text'], ['state', 'int'],
    ['size', 'int64'], ['done', 'int64'], ['speed', 'int'], ['message', 'text'], ['stateName', 'text'],
  ];

  // The engine's finished-list entries (LoadFinishTask).
  var FINISHED_FIELDS = [
    ['key', 'text'], ['url', 'text'], ['folder', 'text'], ['fileName', 'text'], ['state', 'int'],
    ['size', 'int64'], ['done', 'int64'], ['averageSpeed', 'int'], ['finished', 'text'], ['path', 'text'],
    ['finalUrl', 'text'], ['contentType', 'text'], ['created', 'text'],
  ];

  // 64-bit numbers arrive signed in events and unsigned in records: both read
  // back as the signed value (so an unknown size is -1 either way). Whole
  // numbers beyond 2^53 lose precision as every script number does; read as
  // a double they would first be rounded to 2^64, and -1 would become 0.
  function readInt64(text) {
    if (!/^-?[0-9]+$/.test(text)) return NaN;
    var value = BigInt(text);
    if (value >= BigInt('9223372036854775808')) value -= BigInt('18446744073709551616');
    return Number(value);
  }

  function readField(text, kind) {
    if (kind === 'text') return text;
    if (kind === 'int64') return readInt64(text);
    var value = Number(text);
    return text === '' || Number.isNaN(value) ? NaN : value;
  }

  function splitRecord(text, fields) {
    var parts = String(text).split('|');
    if (parts.length !== fields.length) return null;
    var record = {};
    for (var i = 0; i < fields.length; i++) record[fields[i][0]] = readField(parts[i], fields[i][1]);
    return record;
  }

  // Callback texts come with every UTF-16 unit written as \uXXXX.
  function decodeEscapes(text) {
    return String(text).replace(/\\u([0-9A-Fa-f]{4})/g, function (_, digits) {
      return String.fromCharCode(parseInt(digits, 16));
    });
  }

  // A message event's data has a backslash before every double quote of the
  // original text; taking the character before each quote away gives it back.
  function unquoteMessage(data) {
    return String(data).replace(/\\"/g, '"');
  }

  // A message event's data as its 24 named fields (plus `text`, the original
  // text); null when it is not an event message.
  function parseEventMessage(data) {
    if (typeof data !== 'string') return null;
    var text = unquoteMessage(data);
    var event = splitRecord(text, EVENT_FIELDS);
    if (event === null || Number.isNaN(event.kind)) return null;
    event.text = text;
    return event;
  }

  function parseCallbackText(text, fields) {
    var plain = decodeEscapes(text);
    var record = splitRecord(plain, fields);
    if (record !== null) record.text = plain;
    return record;
  }

  // A LoadWorkTask callback text (escaped or already decoded) as its 10 named fields.
  function parseTaskRecord(text) {
    return parseCallbackText(text, RECORD_FIELDS);
  }

  // A LoadFinishTask callback text as the engine's named fields.
  function parseFinishedText(text) {
    return parseCallbackText(text, FINISHED_FIELDS);
  }

  function statusName(status) {
    return STATUS_NAMES[status] || 'status ' + status;
  }

  // What went wrong, in words a page can test (HalvoError's `code`).
  var ErrorCode = {
    PLUGIN_MISSING: 'plugin-missing', // no plug-in behind the element, or its instance is gone (status 3)
    PAGE_NOT_ALLOWED: 'page-not-allowed', // status 1: the site lock refused the page, or no engine is installed
    ENGINE_UNAVAILABLE: 'engine-unavailable', // the engine is there but does not answer, or only in part
    BAD_ARGUMENTS: 'bad-arguments', // status 2, or arguments the library refused before calling
    CALL_FAILED: 'call-failed', // the engine refused the call (the browser reported it as failed)
    BAD_STATE: 'bad-state', // the action is not valid in the download's state
    HTTP_ERROR: 'http-error', // the server answered with an HTTP status of 400 or more
    SYSTEM_ERROR: 'system-error', // a Windows or network error (disk full, connection reset, ...)
    DOWNLOAD_REFUSED: 'download-refused', // the engine refused the address, folder, name or the server's answer
    DOWNLOAD_FAILED: 'download-failed', // failed before this page followed it: only the message says why
    CANCELLED: 'cancelled', // the download was cancelled
    REMOVED: 'removed', // the download was removed before it finished
  };

  var STATUS_CODES = [null, ErrorCode.PAGE_NOT_ALLOWED, ErrorCode.BAD_ARGUMENTS, ErrorCode.PLUGIN_MISSING];

  // An Error with a `code` (ErrorCode) and, as they apply, `method` and
  // `status` (the plug-in method and the status it answered), `cause` (the
  // browser's error of a failed call), `httpStatus` or `systemError` (why a
  // download failed) and `download`.
  class HalvoError extends Error {
    constructor(code, message, details) {
      super(message);
      this.name = 'HalvoError';
      this.code = code;
      this.method = null;
      this.status = null;
      if (details) {
        for (var name in details) if (details[name] !== undefined) this[name] = details[name];
      }
    }
  }

  function statusError(method, status) {
    var text = method + ' answered ' + status + ' (' + statusName(status) + ')';
    if (status === Status.ENGINE_UNAVAILABLE)
      text += ': the plug-in gives this page no download engine (this site is not among the origins the ' +
        "machine's owner allowed, or no engine is installed)";
    return new HalvoError(STATUS_CODES[status] || ErrorCode.CALL_FAILED, text, { method: method, status: status });
  }

  // The 38 script methods: exact name, the wrapper's name, and how its
  // arguments go to the element ('n' number, 's' text, 'b' truth value sent as
  // 1 or 0, 'f' function).
  var METHODS = [
    ['CreateDownload', 'createDownload', 'ssssnn'], ['StopDownload', 'stopDownload', 's'],
    ['DeleteDownload', 'deleteDownload', 'ssb'], ['CancelDownload', 'cancelDownload', 's'],
    ['GetBlockStatusList', 'getBlockStatusList', 's'], ['GetResourceSize', 'getResourceSize', 's'],
    ['GetResourceInfo', 'getResourceInfo', ''], ['GetTotalDownloadSpeed', 'getTotalDownloadSpeed', ''],
    ['GetDownloadingCount', 'getDownloadingCount', ''], ['ImportTask', 'importTask', 's'],
    ['SetCookie', 'setCookie', 'sb'], ['ClearCookie', 'clearCookie', ''],
    ['LoadFinishTask', 'loadFinishTaskRaw', 'f'], ['LoadWorkTask', 'loadWorkTaskRaw', 'f'],
    ['Move', 'move', 'sn'], ['AddPeer', 'addPeer', ''], ['SetResvrWordUrl', 'setResvrWordUrl', ''],
    ['GetResvrWordUrl', 'getResvrWordUrl', ''], ['SetProxy', 'setProxy', 'snssss'], ['GetProxy', 'getProxy', ''],
    ['SetUPnP', 'setUPnP', 'b'], ['GetUPnP', 'getUPnP', ''], ['SetLimitSpeed', 'setLimitSpeed', 'nn'],
    ['GetLimitSpeed', 'getLimitSpeed', 'n'], ['SetDiskCache', 'setDiskCache', 'n'],
    ['GetDiskCache', 'getDiskCache', ''], ['SetMaxDownloadCount', 'setMaxDownloadCount', 'n'],
    ['GetMaxDownloadCount', 'getMaxDownloadCount', ''], ['SetAutoStart', 'setAutoStart', 'b'],
    ['GetAutoStart', 'getAutoStart', ''], ['SetUDPPort', 'setUDPPort', 'n'], ['GetUDPPort', 'getUDPPort', ''],
    ['SetDownloadSingleThread', 'setDownloadSingleThread', 'b'],
    ['GetDownloadSingleThread', 'getDownloadSingleThread', ''], ['GetPeerID', 'getPeerID', ''],
    ['GetIP', 'getIP', ''], ['SetClientVersion', 'setClientVersion', 's'], ['ExecuteFile', 'executeFile', 'sb'],
  ];

  function convert(value, kind) {
    if (kind === 'n') return Number(value);
    if (kind === 's') return value === undefined || value === null ? '' : String(value);
    // The module reads a truth value from a number's bytes: a script boolean would not do.
    if (kind === 'b') return value ? 1 : 0;
    return value;
  }

  // The element's methods with their statuses. With { throwOnStatus: true } a
  // status other than OK throws a HalvoError carrying it; otherwise methods
  // return the status (GetPeerID and GetIP their text). A call the module
  // reports as failed (an engine error) always throws a HalvoError with
  // status null and code 'call-failed'.
  function Transfer(element, options) {
    if (!element) throw new Error('Halvo.Transfer needs the plug-in element');
    this.element = element;
    this.throwOnStatus = !!(options && options.throwOnStatus);
  }

  Transfer.prototype.call = function (name) {
    var args = Array.prototype.slice.call(arguments, 1);
    var method = this.element[name];
    if (typeof method !== 'function')
      throw new HalvoError(ErrorCode.PLUGIN_MISSING, 'the element has no method ' + name + ' (is the plug-in there?)', { method: name });
    var result;
    try {
      result = method.apply(this.element, args);
    } catch (error) {
      throw new HalvoError(ErrorCode.CALL_FAILED, name + ' failed: ' + (error && error.message), { method: name, cause: error });
    }
    if (this.throwOnStatus && typeof result === 'number' && result !== Status.OK) throw statusError(name, result);
    return result;
  };

  METHODS.forEach(function (entry) {
    var name = entry[0], kinds = entry[2];
    Transfer.prototype[entry[1]] = function () {
      var args = [name];
      for (var i = 0; i < kinds.length; i++) args.push(convert(arguments[i], kinds[i]));
      return this.call.apply(this, args);
    };
  });

  // The working tasks, each as its record: { status, tasks }.
  Transfer.prototype.loadWorkTask = function () {
    var tasks = [];
    var status = this.loadWorkTaskRaw(function (text) { tasks.push(parseTaskRecord(text)); });
    return { status: status, tasks: tasks };
  };

  // The finished tasks, each as the engine's named fields: { status, tasks }.
  Transfer.prototype.loadFinishTask = function () {
    var tasks = [];
    var status = this.loadFinishTaskRaw(function (text) { tasks.push(parseFinishedText(text)); });
    return { status: status, tasks: tasks };
  };

  // Calls handler(event, messageEvent) for every event message the plug-in
  // posts into this window; returns a function that stops it. The plug-in
  // posts from the page's own window with the page's own origin: a message
  // from any other window or origin (a frame, an opener, another site) is
  // not the plug-in's and is ignored, whatever its text.
  function onEvent(handler, target) {
    var win = target || window;
    function listener(message) {
      if (message.source !== win || message.origin !== win.location.origin) return;
      var event = parseEventMessage(message.data);
      if (event !== null) handler(event, message);
    }
    win.addEventListener('message', listener);
    return function () { win.removeEventListener('message', listener); };
  }

  // ---- the client of today ---------------------------------------------------

  // The task states in words, by the engine's state byte.
  var STATE_WORDS = ['queued', 'connecting', 'downloading', 'paused', 'failed', 'completing', 'complete', 'cancelled',
    'removed'];

  // What a page may ask of a download in each state. Anything else would act
  // on nothing, or on another download of the same address.
  var ACTIONS = {
    queued: ['pause', 'cancel', 'remove'],
    connecting: ['pause', 'cancel', 'remove'],
    downloading: ['pause', 'cancel', 'remove'],
    paused: ['resume', 'cancel', 'remove'],
    failed: ['resume', 'remove'],
    completing: [],
    complete: ['show', 'remove'],
    cancelled: ['resume', 'remove'],
    removed: [],
  };
  var WORKING_STATES = ['queued', 'connecting', 'downloading', 'paused', 'failed', 'completing', 'cancelled'];

  var DOWNLOAD_FIELDS = ['key', 'url', 'finalUrl', 'folder', 'fileName', 'path', 'referrer', 'mimeType', 'state',
    'bytesReceived', 'totalBytes', 'speed', 'startTime', 'endTime', 'error', 'message', 'connections',
    'queuePosition'];

  // The engine keys a task by its address with "|" and control characters
  // percent-escaped; events and lists carry that key.
  function taskKey(url) {
    return String(url).replace(/[\u0000-\u001f|\u007f]/g, function (c) {
      var code = c.charCodeAt(0);
      return '%' + (code < 16 ? '0' : '') + code.toString(16).toUpperCase();
    });
  }

  function timeOf(text) {
    if (!text) return null;
    var date = new Date(text);
    return Number.isNaN(date.getTime()) ? null : date;
  }

  function sizeOf(size) {
    return typeof size === 'number' && size >= 0 ? size : null;
  }

  // A download's fields from an event message (24 fields), a working-task
  // record (10) or a finished-list entry (13). Fields a text does not carry
  // stay undefined and keep what the download knew.
  function fieldsOfEvent(event) {
    return {
      url: event.url, finalUrl: event.finalUrl || null, folder: event.folder, fileName: event.fileName,
      path: event.path || null, referrer: event.referrer, mimeType: event.contentType || null,
      state: STATE_WORDS[event.state], bytesReceived: event.done, totalBytes: sizeOf(event.size), speed: event.speed,
      startTime: timeOf(event.created), endTime: timeOf(event.finished), message: event.message,
      connections: event.connections, queuePosition: event.kind === EventKind.TASK ? event.queuePosition : null,
      errorCode: event.errorCode,
    };
  }

  function fieldsOfRecord(record) {
    return {
      url: record.url, folder: record.folder, fileName: record.fileName, state: STATE_WORDS[record.state],
      bytesReceived: record.done, totalBytes: sizeOf(record.size), speed: record.speed, message: record.message,
    };
  }

  function fieldsOfFinished(entry) {
    return {
      url: entry.url, finalUrl: entry.finalUrl || null, folder: entry.folder, fileName: entry.fileName,
      path: entry.path || null, mimeType: entry.contentType || null, state: 'complete', bytesReceived: entry.done,
      totalBytes: sizeOf(entry.size), speed: entry.averageSpeed, startTime: timeOf(entry.created),
      endTime: timeOf(entry.finished), message: '', connections: 0, queuePosition: null,
    };
  }

  // Why a download failed, from the engine's error code: an HTTP status, a
  // Windows or network error, or 0 for a refusal the message explains. Only
  // events carry the code: a task first seen in a list has its message alone.
  function failureOf(download, fields, errorCode) {
    var message = fields.message || 'the download failed';
    var details = { download: download };
    var code = ErrorCode.DOWNLOAD_REFUSED;
    if (typeof errorCode !== 'number') {
      code = ErrorCode.DOWNLOAD_FAILED;
    } else if (errorCode >= 400 && errorCode <= 599) {
      code = ErrorCode.HTTP_ERROR;
      details.httpStatus = errorCode;
    } else if (errorCode) {
      code = ErrorCode.SYSTEM_ERROR;
      details.systemError = errorCode;
    }
    return new HalvoError(code, message, details);
  }

  function endOf(download, state) {
    var name = download.fileName || download.url;
    if (state === 'cancelled') return new HalvoError(ErrorCode.CANCELLED, name + ' was cancelled', { download: download });
    return new HalvoError(ErrorCode.REMOVED, name + ' was removed before it finished', { download: download });
  }

  function sameValue(a, b) {
    if (a instanceof Date && b instanceof Date) return a.getTime() === b.getTime();
    return a === b;
  }

  // What the library keeps of its objects, out of the page's reach.
  var inner = new WeakMap();

  class DownloadEvent extends Event {
    constructor(type, download, extra) {
      super(type);
      this.download = download;
      if (extra) for (var name in extra) this[name] = extra[name];
    }
  }

  // One download: an EventTarget with `progress`, `statechange`, `done` and
  // `error` events, a `finished` promise per attempt and its fields in words.
  // Made by a client only.
  class Download extends EventTarget {
    constructor(client, key, fields) {
      super();
      var data = { key: key, url: key, finalUrl: null, folder: '', fileName: '', path: null, referrer: '',
        mimeType: null, state: 'queued', bytesReceived: 0, totalBytes: null, speed: 0, startTime: null,
        endTime: null, error: null, message: '', connections: 0, queuePosition: null };
      for (var name in fields) if (fields[name] !== undefined && name in data) data[name] = fields[name];
      var own = { client: client, data: data, attempt: null };
      inner.set(this, own);
      newAttempt(own);
      if (data.state === 'failed') data.error = failureOf(this, data, fields.errorCode);
      settle(this, own);
    }

    // Seconds left at the current speed; null when that cannot be told.
    get eta() {
      var data = inner.get(this).data;
      if (data.state !== 'downloading' || data.totalBytes === null || !(data.speed > 0)) return null;
      return Math.max(0, Math.ceil((data.totalBytes - data.bytesReceived) / data.speed));
    }

    // The actions valid in the download's state, by method name.
    get actions() {
      return (ACTIONS[this.state] || []).slice();
    }

    // Settles when this attempt ends: with the file's path when it is
    // complete, else with a HalvoError. Starting a failed or cancelled
    // download again begins a new attempt with a new promise.
    get finished() {
      return inner.get(this).attempt.promise;
    }

    pause() {
      act(this, 'pause', 'stopDownload', [this.key]);
    }

    resume() {
      var restart = this.state === 'failed' || this.state === 'cancelled';
      // Empty texts keep the task's folder, name and referrer.
      act(this, 'resume', 'createDownload', [this.url, '', '', '', 0, 0]);
      if (restart) restarted(this);
    }

    cancel() {
      act(this, 'cancel', 'cancelDownload', [this.key]);
    }

    // Takes the download off its list; with { deleteFile: true } its file
    // too (the partial file of an unfinished one).
    remove(options) {
      var deleteFile = !!(options && options.deleteFile);
      if (this.state !== 'complete') return act(this, 'remove', 'deleteDownload', [this.key, '', deleteFile]);
      // An empty path would name the working task of the key instead.
      if (!this.path) throw new HalvoError(ErrorCode.BAD_STATE, 'the finished download has no path', { download: this });
      // The plug-in removes the finished entry of this path alone: a re-download of the address goes on.
      act(this, 'remove', 'deleteDownload', [this.key, this.path, deleteFile]);
    }

    // Shows the finished file selected in the file manager.
    show() {
      act(this, 'show', 'executeFile', [this.path, true]);
    }

    // Moves an unfinished download to that place of the work list (0 first).
    moveTo(position) {
      if (!Number.isInteger(position) || position < 0 || position > 255)
        throw new HalvoError(ErrorCode.BAD_ARGUMENTS, 'a position is a whole number from 0 to 255');
      if (WORKING_STATES.indexOf(this.state) < 0)
        throw new HalvoError(ErrorCode.BAD_STATE, 'a ' + this.state + ' download has no place in the work list', { download: this });
      call(inner.get(this).client, 'move', [this.key, position]);
    }
  }

  DOWNLOAD_FIELDS.forEach(function (name) {
    Object.defineProperty(Download.prototype, name, {
      get: function () { return inner.get(this).data[name]; },
      enumerable: true,
      configurable: true,
    });
  });

  function newAttempt(own) {
    var attempt = { settled: false };
    attempt.promise = new Promise(function (resolve, reject) {
      attempt.resolve = resolve;
      attempt.reject = reject;
    });
    // A page that never reads `finished` is not told of an unhandled rejection.
    attempt.promise.catch(function () {});
    own.attempt = attempt;
  }

  // Ends the current attempt as the state says, once; true when it did.
  function settle(download, own) {
    var attempt = own.attempt;
    var state = own.data.state;
    if (attempt.settled) return false;
    if (state === 'complete') attempt.resolve(own.data.path);
    else if (state === 'failed') attempt.reject(own.data.error);
    else if (state === 'cancelled' || state === 'removed') attempt.reject(endOf(download, state));
    else return false;
    attempt.settled = true;
    return true;
  }

  function act(download, action, method, args) {
    if (download.actions.indexOf(action) < 0)
      throw new HalvoError(ErrorCode.BAD_STATE, 'cannot ' + action + ' a download that is ' + download.state,
        { download: download });
    call(inner.get(download).client, method, args);
  }

  // A failed or cancelled download asked to start again is queued by the
  // engine: say so now, so that the new attempt sees the engine's next word.
  // A cancel of a running download is told twice: at once, and again when
  // its partial file is gone. That second word may still be on its way when
  // the page resumes: until the engine's word of the new attempt, a
  // 'cancelled' is the old attempt's and ends nothing.
  function restarted(download) {
    var cancelled = download.state === 'cancelled';
    update(download, { state: 'queued', message: '' }, 0);
    inner.get(download).staleCancel = cancelled;
  }

  // Takes in what the engine said of a download and tells its listeners, in
  // this order: progress, statechange, then done or error; then the client's
  // `changed`. Returns whether anything changed.
  function update(download, fields, errorCode) {
    var own = inner.get(download);
    var before = own.data;
    var after = Object.assign({}, before);
    for (var name in fields) if (fields[name] !== undefined && name in after) after[name] = fields[name];
    var stateChanged = after.state !== before.state;
    if (stateChanged && own.attempt.settled && before.state !== 'complete' && before.state !== 'removed' &&
        ['queued', 'connecting', 'downloading', 'paused', 'completing'].indexOf(after.state) >= 0) {
      newAttempt(own);
      after.error = null;
    }
    if (stateChanged && after.state === 'failed') after.error = failureOf(download, after, errorCode);
    var changed = DOWNLOAD_FIELDS.some(function (field) { return !sameValue(after[field], before[field]); });
    if (!changed) return false;
    own.data = after;
    if (after.bytesReceived !== before.bytesReceived || after.totalBytes !== before.totalBytes ||
        after.speed !== before.speed) download.dispatchEvent(new DownloadEvent('progress', download));
    if (stateChanged) {
      download.dispatchEvent(new DownloadEvent('statechange', download,
        { previousState: before.state, state: after.state }));
      if (settle(download, own)) {
        if (after.state === 'complete') download.dispatchEvent(new DownloadEvent('done', download, { path: after.path }));
        if (after.state === 'failed') download.dispatchEvent(new DownloadEvent('error', download, { error: after.error }));
      }
    }
    announce(own.client, 'changed', download);
    return true;
  }

  function announce(client, type, download) {
    client.dispatchEvent(new DownloadEvent(type, download));
  }

  // A plug-in method through the client's wrapper; any status but OK throws.
  // The engine gave this page its identity when it connected, so the site
  // lock let the page in: a status 1 now means that the part of the engine
  // the method needs could not be made, not that the page is refused.
  function call(client, method, args) {
    var transfer = inner.get(client).transfer;
    try {
      return transfer[method].apply(transfer, args);
    } catch (error) {
      if (!(error instanceof HalvoError) || error.status !== Status.ENGINE_UNAVAILABLE) throw error;
      throw new HalvoError(ErrorCode.ENGINE_UNAVAILABLE, error.method + ' answered 1: the download engine is ' +
        'installed only in part (the plug-in could not make the engine object this method needs)',
        { method: error.method, status: error.status });
    }
  }

  function finishedId(key, path) {
    return key + '\n' + (path || '');
  }

  function track(client, map, id, key, fields) {
    var download = new Download(client, key, fields);
    map.set(id, download);
    announce(client, 'created', download);
    return download;
  }

  // An engine event: kind 3 changes a working task; kind 5 moves one to the
  // finished list (state 6) or removes a working task or a finished entry
  // (state 8, with a finish time for an entry). Each event may come once per
  // plug-in element of the page: a second copy changes nothing.
  function take(client, event) {
    var own = inner.get(client);
    var fields = fieldsOfEvent(event);
    if (fields.state === undefined) return; // a state this library does not know
    var key = event.key;
    var download;
    if (event.kind === EventKind.TASK) {
      download = own.working.get(key);
      if (download && inner.get(download).staleCancel) {
        if (fields.state === 'cancelled') fields.state = undefined; // its other fields are news all the same
        else inner.get(download).staleCancel = false;
      }
      if (download) update(download, fields, event.errorCode);
      else track(client, own.working, key, key, fields);
    } else if (event.kind === EventKind.FINISHED && event.state === TaskState.COMPLETED) {
      var id = finishedId(key, event.path);
      download = own.working.get(key);
      if (download) {
        own.working.delete(key);
        own.finished.set(id, download);
        update(download, fields, 0);
      } else if (own.finished.has(id)) {
        update(own.finished.get(id), fields, 0);
      } else {
        track(client, own.finished, id, key, fields);
      }
    } else if (event.kind === EventKind.FINISHED && event.state === TaskState.REMOVED) {
      var map = event.finished ? own.finished : own.working;
      var removedId = event.finished ? finishedId(key, event.path) : key;
      download = map.get(removedId);
      if (!download) return;
      map.delete(removedId);
      update(download, fields, 0);
      announce(client, 'erased', download);
    }
  }

  // Both lists as the engine has them now, as downloads: the working list,
  // then the finished list oldest first. Downloads the client follows keep
  // their objects (and their fields, which events keep current).
  function listAll(client) {
    var own = inner.get(client);
    var work = call(client, 'loadWorkTask', []).tasks;
    var finished = call(client, 'loadFinishTask', []).tasks;
    var found = [];
    work.forEach(function (record) {
      if (!record) return;
      var download = own.working.get(record.key) ||
        track(client, own.working, record.key, record.key, fieldsOfRecord(record));
      found.push(download);
    });
    finished.forEach(function (entry) {
      if (!entry) return;
      var id = finishedId(entry.key, entry.path);
      var download = own.finished.get(id);
      var running = own.working.get(entry.key);
      if (!download && running && running.path === entry.path) {
        // Finished before its event arrived: the same download, complete now.
        own.working.delete(entry.key);
        own.finished.set(id, running);
        update(running, fieldsOfFinished(entry), 0);
        download = running;
      }
      if (!download) download = track(client, own.finished, id, entry.key, fieldsOfFinished(entry));
      found.push(download);
    });
    return found.filter(function (download, index) { return found.indexOf(download) === index; });
  }

  function matches(download, query) {
    if (query.state !== undefined) {
      var states = Array.isArray(query.state) ? query.state : [query.state];
      if (states.indexOf(download.state) < 0) return false;
    }
    if (query.url !== undefined) {
      if (query.url instanceof RegExp) {
        query.url.lastIndex = 0;
        if (!query.url.test(download.url)) return false;
      } else if (download.url !== taskKey(query.url) && download.finalUrl !== query.url) {
        return false;
      }
    }
    return true;
  }

  // The engine's settings a page may set, by name in words: the plug-in
  // method and the kind of value. The plug-in cannot read them back, so the
  // client remembers what this page set.
  var SETTINGS = {
    speedLimit: ['setLimitSpeed', 'count'], // KiB/s, 0 none; goes with uploadLimit in one call
    uploadLimit: ['setLimitSpeed', 'count'], // KiB/s, stored only (nothing is uploaded)
    maxDownloads: ['setMaxDownloadCount', 'count'],
    diskCache: ['setDiskCache', 'count'], // KiB
    autoStart: ['setAutoStart', 'flag'],
    singleConnection: ['setDownloadSingleThread', 'flag'],
    upnp: ['setUPnP', 'flag'], // stored only
    udpPort: ['setUDPPort', 'count'], // stored only
    clientVersion: ['setClientVersion', 'text'],
    proxy: ['setProxy', 'proxy'],
  };

  function checkSetting(name, value) {
    var entry = SETTINGS[name];
    var fine = entry && (entry[1] === 'count' ? Number.isInteger(value) && value >= 0
      : entry[1] === 'flag' ? typeof value === 'boolean'
        : entry[1] === 'text' ? typeof value === 'string'
          : value !== null && typeof value === 'object' && typeof value.host === 'string' &&
            (value.port === undefined || Number.isInteger(value.port)));
    if (!entry) throw new HalvoError(ErrorCode.BAD_ARGUMENTS, 'no setting is called ' + name);
    if (!fine) throw new HalvoError(ErrorCode.BAD_ARGUMENTS, 'not a value for ' + name + ': ' + String(value));
  }

  function applySettings(client, values) {
    var own = inner.get(client);
    var names = Object.keys(values).filter(function (name) { return values[name] !== undefined; });
    names.forEach(function (name) { checkSetting(name, values[name]); });
    var remembered = own.settings;
    var limits = names.indexOf('speedLimit') >= 0 || names.indexOf('uploadLimit') >= 0;
    if (limits) {
      // One call sets both: a download limit the page never set cannot be kept.
      var speed = values.speedLimit !== undefined ? values.speedLimit : remembered.speedLimit;
      if (speed === undefined)
        throw new HalvoError(ErrorCode.BAD_ARGUMENTS, 'set speedLimit together with uploadLimit: the plug-in sets ' +
          'both at once and cannot read the speed limit back');
      var upload = values.uploadLimit !== undefined ? values.uploadLimit : remembered.uploadLimit || 0;
      call(client, 'setLimitSpeed', [speed, upload]);
      remembered.speedLimit = speed;
      remembered.uploadLimit = upload;
    }
    names.forEach(function (name) {
      var value = values[name];
      if (name === 'speedLimit' || name === 'uploadLimit') return;
      if (name === 'proxy') {
        call(client, 'setProxy', [value.host, value.port || 0, value.user || '', value.password || '',
          value.bypass || '', value.kind || '']);
        // The password is not kept in the page.
        remembered.proxy = { host: value.host, port: value.port || 0, user: value.user || '',
          bypass: value.bypass || '', kind: value.kind || '', hasPassword: !!value.password };
        return;
      }
      call(client, SETTINGS[name][0], [value]);
      remembered[name] = value;
    });
    return client.settings;
  }

  var CLIENT_EVENTS = ['created', 'changed', 'erased'];

  // A page's connection to the plug-in element: its downloads, its lists,
  // the settings this page set. An EventTarget of `created`, `changed` and
  // `erased`. Made by Halvo.connect.
  class Client extends EventTarget {
    constructor(element, transfer, peerId, ip) {
      super();
      var own = { element: element, transfer: transfer, working: new Map(), finished: new Map(), settings: {},
        stop: null };
      inner.set(this, own);
      this.element = element;
      this.peerId = peerId;
      this.ip = ip;
      var client = this;
      own.stop = onEvent(function (event) { take(client, event); },
        element.ownerDocument && element.ownerDocument.defaultView);
    }

    // Adds a download (or starts a stopped or failed one of the same address
    // again) and answers its Download.
    add(options) {
      var own = inner.get(this);
      var o = options || {};
      if (typeof o.url !== 'string' || o.url === '' || typeof o.folder !== 'string' || o.folder === '')
        throw new HalvoError(ErrorCode.BAD_ARGUMENTS, 'a download needs a url and a folder, as texts');
      ['fileName', 'referrer'].forEach(function (name) {
        if (o[name] !== undefined && typeof o[name] !== 'string')
          throw new HalvoError(ErrorCode.BAD_ARGUMENTS, name + ' is a text');
      });
      var connections = o.connections === undefined ? 0 : o.connections;
      if (!Number.isInteger(connections) || connections < 0 || connections > 16)
        throw new HalvoError(ErrorCode.BAD_ARGUMENTS, 'connections is a whole number from 1 to 16 (0: the engine decides)');
      var flags = (o.paused ? AddFlags.STOPPED : 0) | (o.first ? AddFlags.FIRST : 0);
      var key = taskKey(o.url);
      var known = own.working.get(key);
      var restart = known && (known.state === 'failed' || known.state === 'cancelled');
      call(this, 'createDownload', [o.url, o.folder, o.fileName || '', o.referrer || '', connections, flags]);
      if (restart) restarted(known);
      if (known) return known;
      return own.working.get(key) || track(this, own.working, key, key, {
        url: key, folder: o.folder, fileName: o.fileName || '', referrer: o.referrer || '',
        state: o.paused ? 'paused' : 'queued',
      });
    }

    // The downloads of the working and finished lists, as the engine has them
    // now; { state } a word or a list of words, { url } an address or a RegExp.
    downloads(query) {
      var q = query || {};
      return listAll(this).filter(function (download) { return matches(download, q); });
    }

    // listener(download, event) for 'created', 'changed' or 'erased'; answers
    // a function that stops it.
    on(type, listener) {
      if (CLIENT_EVENTS.indexOf(type) < 0)
        throw new HalvoError(ErrorCode.BAD_ARGUMENTS, 'a client tells of ' + CLIENT_EVENTS.join(', ') + ', not ' + type);
      var handler = function (event) { listener(event.download, event); };
      var client = this;
      this.addEventListener(type, handler);
      return function () { client.removeEventListener(type, handler); };
    }

    // Sets engine settings by name; answers what this page has set so far.
    set(values) {
      return applySettings(this, values || {});
    }

    // What this page set through this client: the plug-in cannot read the
    // engine's settings back, so these are not read from the engine. A
    // setting the page did not set is absent.
    get settings() {
      var copy = Object.assign({}, inner.get(this).settings);
      if (copy.proxy) copy.proxy = Object.freeze(Object.assign({}, copy.proxy));
      return Object.freeze(copy);
    }

    setCookie(cookie, options) {
      if (typeof cookie !== 'string') throw new HalvoError(ErrorCode.BAD_ARGUMENTS, 'a cookie is a text');
      call(this, 'setCookie', [cookie, !!(options && options.keep)]);
    }

    clearCookies() {
      call(this, 'clearCookie', []);
    }

    importTasks(text) {
      if (typeof text !== 'string') throw new HalvoError(ErrorCode.BAD_ARGUMENTS, 'an import is a text');
      call(this, 'importTask', [text]);
    }

    // Stops following the plug-in's events; the downloads keep their last fields.
    close() {
      var own = inner.get(this);
      if (own.stop) own.stop();
      own.stop = null;
    }
  }

  // The client of a plug-in element, or a HalvoError: 'plugin-missing' (no
  // plug-in behind the element), 'page-not-allowed' (status 1: the site lock
  // refused this page, or no engine is installed), 'engine-unavailable' (the
  // engine does not answer, or its settings answered but its download lists
  // are missing).
  function connect(element) {
    if (!element || typeof element.GetPeerID !== 'function')
      throw new HalvoError(ErrorCode.PLUGIN_MISSING, 'no Halvo plug-in behind this element (is it installed, and is ' +
        'the element of type ' + MIME_TYPE + '?)');
    var transfer = new Transfer(element, { throwOnStatus: true });
    var peerId;
    var ip;
    try {
      peerId = transfer.getPeerID();
      ip = transfer.getIP();
    } catch (error) {
      if (error.code !== ErrorCode.CALL_FAILED) throw error;
      throw new HalvoError(ErrorCode.ENGINE_UNAVAILABLE, 'the download engine does not answer: ' + error.message,
        { method: error.method, cause: error.cause });
    }
    if (typeof peerId !== 'string' || typeof ip !== 'string')
      throw new HalvoError(ErrorCode.ENGINE_UNAVAILABLE, 'the download engine gave no identity');
    var client = new Client(element, transfer, peerId, ip);
    listAll(client);
    return client;
  }

  var Halvo = {
    MIME_TYPE: MIME_TYPE,
    VERSION: VERSION,
    Status: Status,
    EventKind: EventKind,
    TaskState: TaskState,
    AddFlags: AddFlags,
    ErrorCode: ErrorCode,
    STATES: STATE_WORDS.slice(),
    EVENT_FIELDS: EVENT_FIELDS.map(function (field) { return field[0]; }),
    RECORD_FIELDS: RECORD_FIELDS.map(function (field) { return field[0]; }),
    FINISHED_FIELDS: FINISHED_FIELDS.map(function (field) { return field[0]; }),
    METHOD_NAMES: METHODS.map(function (entry) { return entry[0]; }),
    statusName: statusName,
    decodeEscapes: decodeEscapes,
    unquoteMessage: unquoteMessage,
    parseEventMessage: parseEventMessage,
    parseTaskRecord: parseTaskRecord,
    parseFinishedText: parseFinishedText,
    taskKey: taskKey,
    onEvent: onEvent,
    Transfer: Transfer,
    HalvoError: HalvoError,
    connect: connect,
  };
  // `import Halvo from` and `require(...).default` name the same object.
  Object.defineProperty(Halvo, 'default', { value: Halvo });
  return Halvo;
});

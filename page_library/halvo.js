// Halvo page library: what a page needs to use the Halvo Transfer Plugin
// element. It reads the texts the plug-in sends (window messages and callback
// texts), and wraps the element's 38 script methods with their status codes.
// Plain script for pages (window.Halvo); also a CommonJS module.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory();
  else root.Halvo = factory();
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  var MIME_TYPE = 'application/x-halvoplugin';

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

  function HalvoError(message, method, status) {
    var error = new Error(message);
    error.name = 'HalvoError';
    error.method = method;
    error.status = status;
    return error;
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
  // reports as failed (an engine error) always throws a HalvoError with status null.
  function Transfer(element, options) {
    if (!element) throw new Error('Halvo.Transfer needs the plug-in element');
    this.element = element;
    this.throwOnStatus = !!(options && options.throwOnStatus);
  }

  Transfer.prototype.call = function (name) {
    var args = Array.prototype.slice.call(arguments, 1);
    var method = this.element[name];
    if (typeof method !== 'function') throw HalvoError('the element has no method ' + name + ' (is the plug-in there?)', name, null);
    var result;
    try {
      result = method.apply(this.element, args);
    } catch (error) {
      var failure = HalvoError(name + ' failed: ' + (error && error.message), name, null);
      failure.cause = error;
      throw failure;
    }
    if (this.throwOnStatus && typeof result === 'number' && result !== Status.OK)
      throw HalvoError(name + ' answered ' + result + ' (' + statusName(result) + ')', name, result);
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

  return {
    MIME_TYPE: MIME_TYPE,
    Status: Status,
    EventKind: EventKind,
    TaskState: TaskState,
    AddFlags: AddFlags,
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
    onEvent: onEvent,
    Transfer: Transfer,
  };
});

// Types of the Halvo page library (halvo.js, halvo.mjs). As a module:
// `import { connect } from 'halvo-page-library'`; as a plain script the same
// names are on the global `Halvo`.
export as namespace Halvo;

export declare const MIME_TYPE: 'application/x-halvoplugin';
export declare const VERSION: string;

// ---- the client ----------------------------------------------------------------

/** A download's state in words. */
export type DownloadState =
  | 'queued'
  | 'connecting'
  | 'downloading'
  | 'paused'
  | 'failed'
  | 'completing'
  | 'complete'
  | 'cancelled'
  | 'removed';

/** The states, in the order of the engine's state byte. */
export declare const STATES: readonly DownloadState[];

/** What an action of a Download is called in `actions`. */
export type DownloadAction = 'pause' | 'resume' | 'cancel' | 'remove' | 'show';

export type ErrorCodeName =
  | 'plugin-missing'
  | 'page-not-allowed'
  | 'engine-unavailable'
  | 'bad-arguments'
  | 'call-failed'
  | 'bad-state'
  | 'http-error'
  | 'system-error'
  | 'download-refused'
  | 'download-failed'
  | 'cancelled'
  | 'removed';

export declare const ErrorCode: {
  /** No plug-in behind the element, or its instance is gone (status 3). */
  readonly PLUGIN_MISSING: 'plugin-missing';
  /** Status 1: the site lock refused this page (its origin is not allowed), or no engine is installed. */
  readonly PAGE_NOT_ALLOWED: 'page-not-allowed';
  /** The engine is there but does not answer, or a part of it is missing (status 1 after connect succeeded). */
  readonly ENGINE_UNAVAILABLE: 'engine-unavailable';
  /** Status 2, or arguments the library refused before calling. */
  readonly BAD_ARGUMENTS: 'bad-arguments';
  /** The engine refused the call; `cause` is the browser's error. */
  readonly CALL_FAILED: 'call-failed';
  /** The action is not valid in the download's state. */
  readonly BAD_STATE: 'bad-state';
  /** The server answered with an HTTP status of 400 or more (`httpStatus`). */
  readonly HTTP_ERROR: 'http-error';
  /** A Windows or network error (`systemError`): disk full, connection reset, ... */
  readonly SYSTEM_ERROR: 'system-error';
  /** The engine refused the address, folder, file name or the server's answer; the message says why. */
  readonly DOWNLOAD_REFUSED: 'download-refused';
  /** The download failed before this page followed it; only the message says why. */
  readonly DOWNLOAD_FAILED: 'download-failed';
  readonly CANCELLED: 'cancelled';
  readonly REMOVED: 'removed';
};

export declare class HalvoError extends Error {
  readonly name: 'HalvoError';
  readonly code: ErrorCodeName;
  /** The plug-in method that answered or failed, when one did. */
  readonly method: string | null;
  /** The status that method answered, when it answered one. */
  readonly status: number | null;
  /** The browser's error of a failed call. */
  readonly cause?: unknown;
  /** For 'http-error': the server's HTTP status. */
  readonly httpStatus?: number;
  /** For 'system-error': the Windows or WinHTTP error number. */
  readonly systemError?: number;
  /** The download the error is about. */
  readonly download?: Download;
  private constructor();
}

export interface AddOptions {
  /** An absolute http or https address. */
  url: string;
  /** An absolute folder that exists, such as `C:\\Downloads`. */
  folder: string;
  /** The file's name in the folder; empty or absent: the server's name. */
  fileName?: string;
  /** Sent as the Referer: an http or https address. */
  referrer?: string;
  /** Connections the download may use, 1 to 16; 0 or absent: 1 for a new download, else as before. */
  connections?: number;
  /** Add it paused: it waits for `resume()`. */
  paused?: boolean;
  /** Put it first in the queue. */
  first?: boolean;
}

export interface DownloadEvent extends Event {
  readonly download: Download;
}

export interface StateChangeEvent extends DownloadEvent {
  readonly previousState: DownloadState;
  readonly state: DownloadState;
}

export interface DoneEvent extends DownloadEvent {
  /** The file's full path. */
  readonly path: string;
}

export interface DownloadErrorEvent extends DownloadEvent {
  readonly error: HalvoError;
}

export interface DownloadEventMap {
  /** Bytes received, the size or the speed changed. */
  progress: DownloadEvent;
  statechange: StateChangeEvent;
  /** The file is complete. */
  done: DoneEvent;
  /** The download failed. */
  error: DownloadErrorEvent;
}

/** One download, made by a client. Its fields change as the engine reports. */
export interface Download extends EventTarget {
  /** The engine's key: the address with `|` and control characters percent-escaped. */
  readonly key: string;
  /** The address, as the engine keeps it (the key). */
  readonly url: string;
  /** The address after redirects, once known. */
  readonly finalUrl: string | null;
  readonly folder: string;
  /** The file's name once chosen (the page's name until then). */
  readonly fileName: string;
  /** The file's full path once the name is chosen. */
  readonly path: string | null;
  readonly referrer: string;
  /** The server's content type. */
  readonly mimeType: string | null;
  readonly state: DownloadState;
  readonly bytesReceived: number;
  /** The file's size; null while unknown. */
  readonly totalBytes: number | null;
  /** Bytes per second now (the average once complete). */
  readonly speed: number;
  /** Seconds left at the current speed; null when that cannot be told. */
  readonly eta: number | null;
  /** When the download was added. */
  readonly startTime: Date | null;
  /** When it finished. */
  readonly endTime: Date | null;
  /** Why it failed, while it is failed. */
  readonly error: HalvoError | null;
  /** The engine's word on it: why it failed, or why it tries again. */
  readonly message: string;
  /** Connections open now. */
  readonly connections: number;
  /** Its place in the work list (0 first), while it has one. */
  readonly queuePosition: number | null;
  /** The actions valid in its state. */
  readonly actions: DownloadAction[];
  /**
   * Settles when this attempt ends: with the file's path when it is complete, else rejects with a HalvoError
   * ('http-error', 'system-error', 'download-refused', 'cancelled', 'removed', ...). Starting a failed or cancelled
   * download again begins a new attempt with a new promise.
   */
  readonly finished: Promise<string>;

  /** Stops it; the bytes received stay for `resume()`. */
  pause(): void;
  /** Starts a paused, failed or cancelled download again. */
  resume(): void;
  /** Stops it and deletes its partial file; it stays listed and starts over when resumed. */
  cancel(): void;
  /**
   * Takes it off its list; with `deleteFile` its file too (the partial file of an unfinished download; a finished
   * file only while it is the file the engine wrote). A re-download of the same address goes on.
   */
  remove(options?: { deleteFile?: boolean }): void;
  /** Shows the finished file selected in the file manager. */
  show(): void;
  /** Moves an unfinished download to that place of the work list (0 first). */
  moveTo(position: number): void;

  addEventListener<K extends keyof DownloadEventMap>(
    type: K,
    listener: (this: Download, event: DownloadEventMap[K]) => void,
    options?: boolean | AddEventListenerOptions,
  ): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof DownloadEventMap>(
    type: K,
    listener: (this: Download, event: DownloadEventMap[K]) => void,
    options?: boolean | EventListenerOptions,
  ): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | EventListenerOptions): void;
}

export interface DownloadQuery {
  /** A state or any of several. */
  state?: DownloadState | DownloadState[];
  /** The address (as given, or after redirects), or a pattern the address matches. */
  url?: string | RegExp;
}

export interface ProxySettings {
  /** Empty: no proxy. */
  host: string;
  port?: number;
  user?: string;
  password?: string;
  /** Hosts that skip the proxy, separated by ";" (`<local>` for plain host names). */
  bypass?: string;
  /** "" or "http": an HTTP proxy; "none" or "direct": none. */
  kind?: string;
}

/** What a page may set. */
export interface Settings {
  /** Download speed limit in KiB/s for all downloads together; 0: none. */
  speedLimit?: number;
  /** Upload limit in KiB/s. Stored only: this engine uploads nothing. Needs `speedLimit` known (set together). */
  uploadLimit?: number;
  /** Downloads running at once, 1 to 100. */
  maxDownloads?: number;
  /** Write buffer per download in KiB, 0 to 262144. */
  diskCache?: number;
  /** Whether downloads interrupted by a shutdown start again by themselves, and imported ones are queued. */
  autoStart?: boolean;
  /** One connection per download, whatever it asked for. */
  singleConnection?: boolean;
  /** Stored only: this engine has no port mapping. */
  upnp?: boolean;
  /** 1 to 65535. Stored only: this engine has no peer-to-peer transport. */
  udpPort?: number;
  /** The User-Agent of every request; empty: the engine's own. */
  clientVersion?: string;
  proxy?: ProxySettings;
}

/**
 * What this page set through its client. The plug-in cannot read the engine's settings back (its Get* methods
 * answer only a status), so these are not read from the engine; a setting the page did not set is absent. The
 * proxy's password is not kept.
 */
export interface RememberedSettings extends Readonly<Omit<Settings, 'proxy'>> {
  readonly proxy?: Readonly<Omit<ProxySettings, 'password'> & { hasPassword: boolean }>;
}

export type ClientEventType = 'created' | 'changed' | 'erased';

/** A page's connection to the plug-in element. */
export interface HalvoClient extends EventTarget {
  readonly element: Element;
  /** The engine's identity: 40 hexadecimal digits. */
  readonly peerId: string;
  /** The machine's address as the engine reports it. */
  readonly ip: string;
  /** What this page set; not read from the engine. */
  readonly settings: RememberedSettings;

  /** Adds a download, or starts a paused or failed one of the same address again, and answers it. */
  add(options: AddOptions): Download;
  /** The downloads of the working and finished lists, as the engine has them now. */
  downloads(query?: DownloadQuery): Download[];
  /** Calls the listener when a download becomes known, changes or is erased; answers a function that stops it. */
  on(type: ClientEventType, listener: (download: Download, event: DownloadEvent) => void): () => void;
  /** Sets engine settings; answers what this page has set so far. */
  set(settings: Settings): RememberedSettings;
  /** A cookie for matching requests: `name=value; Domain=example.com; Path=/; Secure`. `keep`: across restarts. */
  setCookie(cookie: string, options?: { keep?: boolean }): void;
  clearCookies(): void;
  /** Adds downloads from lines `url|folder|file name|referrer|connections` (the last three optional). */
  importTasks(text: string): void;
  /** Stops following the plug-in's events. */
  close(): void;
}

/**
 * The client of a plug-in element. Throws a HalvoError: 'plugin-missing', 'page-not-allowed' (status 1: the site
 * lock refused this page, or no engine is installed) or 'engine-unavailable'.
 */
export declare function connect(element: Element): HalvoClient;

/** The engine's key of an address: `|` and control characters percent-escaped. */
export declare function taskKey(url: string): string;

// ---- the plug-in's texts ----------------------------------------------------------

export declare const Status: { readonly OK: 0; readonly ENGINE_UNAVAILABLE: 1; readonly BAD_ARGUMENTS: 2; readonly NO_INSTANCE: 3 };
/** A status the plug-in answers: 0 OK, 1 no engine for this page, 2 bad arguments, 3 no instance. */
export type StatusCode = 0 | 1 | 2 | 3;
export declare const EventKind: { readonly RECORD: 0; readonly TASK: 3; readonly FINISHED: 5 };
export declare const TaskState: {
  readonly QUEUED: 0; readonly CONNECTING: 1; readonly DOWNLOADING: 2; readonly STOPPED: 3; readonly FAILED: 4;
  readonly COMPLETING: 5; readonly COMPLETED: 6; readonly CANCELLED: 7; readonly REMOVED: 8;
};
export declare const AddFlags: { readonly STOPPED: 1; readonly FIRST: 2 };
export declare const EVENT_FIELDS: readonly string[];
export declare const RECORD_FIELDS: readonly string[];
export declare const FINISHED_FIELDS: readonly string[];
/** The plug-in's 38 method names. */
export declare const METHOD_NAMES: readonly string[];

/** An event message's 24 fields. */
export interface EventMessage {
  kind: number; folder: string; key: string; url: string; fileName: string; referrer: string; validator: string;
  partialPath: string; created: string; finished: string; path: string; finalUrl: string; contentType: string;
  message: string; queuePosition: number; stateName: string; percent: number; connections: number;
  complete: number; state: number; errorCode: number;
  /** Bytes per second. */
  speed: number;
  /** -1 while unknown. */
  size: number;
  done: number;
  /** The original text. */
  text: string;
}

/** A working-task record (LoadWorkTask). */
export interface TaskRecord {
  key: string; url: string; folder: string; fileName: string; state: number; size: number; done: number;
  speed: number; message: string; stateName: string; text: string;
}

/** A finished-list entry (LoadFinishTask). */
export interface FinishedEntry {
  key: string; url: string; folder: string; fileName: string; state: number; size: number; done: number;
  /** Bytes per second. */
  averageSpeed: number;
  finished: string; path: string; finalUrl: string; contentType: string; created: string; text: string;
}

export declare function statusName(status: number): string;
export declare function decodeEscapes(text: string): string;
export declare function unquoteMessage(data: string): string;
export declare function parseEventMessage(data: unknown): EventMessage | null;
export declare function parseTaskRecord(text: string): TaskRecord | null;
export declare function parseFinishedText(text: string): FinishedEntry | null;
/** Calls the handler for every event message the plug-in posts into the window; answers a function that stops it. */
export declare function onEvent(handler: (event: EventMessage, message: MessageEvent) => void, target?: Window): () => void;

// ---- the plug-in's 38 methods ----------------------------------------------------------

/** A status, or (with `throwOnStatus`) nothing but OK: any other status throws. */
type Answer = StatusCode;

/** The element's 38 methods. Speed limits are in KiB/s; speeds in events are bytes per second. */
export declare class Transfer {
  constructor(element: Element, options?: { throwOnStatus?: boolean });
  readonly element: Element;
  readonly throwOnStatus: boolean;
  /** Any method by its exact name. */
  call(name: string, ...args: unknown[]): unknown;

  createDownload(url: string, folder: string, fileName: string, referrer: string, connections: number, flags: number): Answer;
  stopDownload(key: string): Answer;
  deleteDownload(key: string, path: string, deleteFile: boolean): Answer;
  cancelDownload(key: string): Answer;
  getBlockStatusList(key: string): Answer;
  getResourceSize(key: string): Answer;
  /** Does nothing; answers undefined. */
  getResourceInfo(): undefined;
  getTotalDownloadSpeed(): Answer;
  getDownloadingCount(): Answer;
  importTask(text: string): Answer;
  setCookie(cookie: string, keep: boolean): Answer;
  clearCookie(): Answer;
  loadFinishTaskRaw(callback: (text: string) => void): Answer;
  loadWorkTaskRaw(callback: (text: string) => void): Answer;
  loadFinishTask(): { status: Answer; tasks: (FinishedEntry | null)[] };
  loadWorkTask(): { status: Answer; tasks: (TaskRecord | null)[] };
  move(key: string, position: number): Answer;
  /** Does nothing; answers undefined. */
  addPeer(): undefined;
  /** Does nothing; answers undefined. */
  setResvrWordUrl(): undefined;
  /** Does nothing; answers undefined. */
  getResvrWordUrl(): undefined;
  setProxy(host: string, port: number, user: string, password: string, bypass: string, kind: string): Answer;
  /** Answers a status only: the plug-in does not hand the proxy to the page. */
  getProxy(): Answer;
  setUPnP(on: boolean): Answer;
  /** Answers a status only. */
  getUPnP(): Answer;
  /** KiB/s, 0 none. */
  setLimitSpeed(download: number, upload: number): Answer;
  /** Answers a status only. */
  getLimitSpeed(which: 0 | 1): Answer;
  /** KiB. */
  setDiskCache(kib: number): Answer;
  /** Answers a status only. */
  getDiskCache(): Answer;
  setMaxDownloadCount(count: number): Answer;
  /** Answers a status only. */
  getMaxDownloadCount(): Answer;
  setAutoStart(on: boolean): Answer;
  /** Answers a status only. */
  getAutoStart(): Answer;
  setUDPPort(port: number): Answer;
  /** Answers a status only. */
  getUDPPort(): Answer;
  setDownloadSingleThread(on: boolean): Answer;
  /** Answers a status only. */
  getDownloadSingleThread(): Answer;
  /** The engine's identity, or the status when there is no engine. */
  getPeerID(): string | Answer;
  /** The machine's address, or the status when there is no engine. */
  getIP(): string | Answer;
  setClientVersion(text: string): Answer;
  executeFile(path: string, select: boolean): Answer;
}

declare const Halvo: {
  MIME_TYPE: typeof MIME_TYPE;
  VERSION: typeof VERSION;
  Status: typeof Status;
  EventKind: typeof EventKind;
  TaskState: typeof TaskState;
  AddFlags: typeof AddFlags;
  ErrorCode: typeof ErrorCode;
  STATES: typeof STATES;
  EVENT_FIELDS: typeof EVENT_FIELDS;
  RECORD_FIELDS: typeof RECORD_FIELDS;
  FINISHED_FIELDS: typeof FINISHED_FIELDS;
  METHOD_NAMES: typeof METHOD_NAMES;
  statusName: typeof statusName;
  decodeEscapes: typeof decodeEscapes;
  unquoteMessage: typeof unquoteMessage;
  parseEventMessage: typeof parseEventMessage;
  parseTaskRecord: typeof parseTaskRecord;
  parseFinishedText: typeof parseFinishedText;
  taskKey: typeof taskKey;
  onEvent: typeof onEvent;
  Transfer: typeof Transfer;
  HalvoError: typeof HalvoError;
  connect: typeof connect;
};
export default Halvo;

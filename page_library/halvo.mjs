// The page library as an ES module. halvo.js is the library: in a browser it
// runs here as a module and defines Halvo on the global object (as the plain
// script does); under Node and bundlers it is CommonJS and is this module's
// default. Either way these are its exports, by name and as the default.
import * as loaded from './halvo.js';

const Halvo = loaded.default || globalThis.Halvo;

export default Halvo;
export const {
  MIME_TYPE, VERSION, Status, EventKind, TaskState, AddFlags, ErrorCode, STATES, EVENT_FIELDS, RECORD_FIELDS,
  FINISHED_FIELDS, METHOD_NAMES, statusName, decodeEscapes, unquoteMessage, parseEventMessage, parseTaskRecord,
  parseFinishedText, taskKey, onEvent, Transfer, HalvoError, connect,
} = Halvo;

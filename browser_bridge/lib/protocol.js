'use strict';
// The headless host's line protocol (headless_host/PROTOCOL.md): fields, texts
// and script values, on the Node side.

function isPlain(byte) {
  return byte > 0x20 && byte < 0x7f && byte !== 0x25;
}

// A text field from bytes (a Buffer) or a JavaScript string (as UTF-8).
function text(value) {
  const bytes = Buffer.isBuffer(value) ? value : Buffer.from(String(value), 'utf8');
  let field = "'";
  for (const byte of bytes) {
    field += isPlain(byte) ? String.fromCharCode(byte) : '%' + byte.toString(16).toUpperCase().padStart(2, '0');
  }
  return field;
}

// The bytes of a text field, or null when the field is not a well-formed text.
function parseText(field) {
  if (typeof field !== 'string' || field[0] !== "'") return null;
  const bytes = [];
  for (let i = 1; i < field.length; i++) {
    const c = field.charCodeAt(i);
    if (c <= 0x20 || c >= 0x7f) return null; // such bytes travel escaped
    if (c !== 0x25) {
      bytes.push(c);
      continue;
    }
    const hex = field.slice(i + 1, i + 3);
    if (!/^[0-9A-Fa-f]{2}$/.test(hex)) return null;
    bytes.push(parseInt(hex, 16));
    i += 2;
  }
  return Buffer.from(bytes);
}

function splitFields(line) {
  return line.split(' ').filter((field) => field.length > 0);
}

const ID = /^(fn|obj|np):([0-9]{1,15})$/;

// A value field as an object: {type, value} with type one of void, null,
// boolean, int32, double, string (value: Buffer), fn, obj, np (value: id).
function parseValue(field) {
  if (field === 'void') return { type: 'void' };
  if (field === 'null') return { type: 'null' };
  if (field === 'true' || field === 'false') return { type: 'boolean', value: field === 'true' };
  if (typeof field !== 'string') return null;
  if (field[0] === "'") {
    const bytes = parseText(field);
    return bytes === null ? null : { type: 'string', value: bytes };
  }
  let match = /^i:(-?[0-9]{1,10})$/.exec(field);
  if (match) {
    const value = Number(match[1]);
    return value >= -2147483648 && value <= 2147483647 ? { type: 'int32', value } : null;
  }
  match = /^d:(.+)$/.exec(field);
  if (match) {
    const value = parseDouble(match[1]);
    return value === null ? null : { type: 'double', value };
  }
  match = ID.exec(field);
  if (match) return { type: match[1], value: Number(match[2]) };
  return null;
}

function parseDouble(textValue) {
  if (textValue === 'nan') return NaN;
  if (textValue === 'inf') return Infinity;
  if (textValue === '-inf') return -Infinity;
  if (!/^-?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][-+]?[0-9]+)?$/.test(textValue)) return null;
  return Number(textValue);
}

function formatDouble(number) {
  if (Number.isNaN(number)) return 'nan';
  if (number === Infinity) return 'inf';
  if (number === -Infinity) return '-inf';
  if (Object.is(number, -0)) return '-0';
  return String(number);
}

function formatValue(value) {
  switch (value.type) {
    case 'void':
    case 'null':
      return value.type;
    case 'boolean':
      return value.value ? 'true' : 'false';
    case 'int32':
      return 'i:' + (value.value | 0);
    case 'double':
      return 'd:' + formatDouble(value.value);
    case 'string':
      return text(value.value);
    case 'fn':
    case 'obj':
    case 'np':
      return value.type + ':' + value.value;
    default:
      throw new Error('no such value type: ' + value.type);
  }
}

module.exports = { text, parseText, splitFields, parseValue, formatValue, formatDouble };

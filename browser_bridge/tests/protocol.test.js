'use strict';
// The Node side of the host's line protocol: texts and values as the host
// writes and reads them (headless_host/PROTOCOL.md).
const assert = require('node:assert/strict');
const { describe, test } = require('node:test');

const protocol = require('../lib/protocol');

describe('text fields', () => {
  test('every byte survives, and a field never holds a blank, a line end or a bare percent sign', () => {
    const all = Buffer.from(Array.from({ length: 256 }, (_, i) => i));
    const field = protocol.text(all);
    assert.equal(field[0], "'");
    assert.doesNotMatch(field, /[\s]/);
    assert.deepEqual(protocol.parseText(field), all);
    assert.equal(protocol.text('a%b'), "'a%25b");
    assert.deepEqual(protocol.parseText("'"), Buffer.alloc(0));
  });

  test('malformed texts are refused', () => {
    for (const field of ['abc', "'%", "'%4", "'%G1", "'é"]) assert.equal(protocol.parseText(field), null, field);
  });
});

describe('values', () => {
  test('each kind reads back as it was written', () => {
    const values = [
      { type: 'void' }, { type: 'null' }, { type: 'boolean', value: true }, { type: 'int32', value: -2147483648 },
      { type: 'double', value: -0 }, { type: 'double', value: NaN }, { type: 'double', value: -Infinity },
      { type: 'double', value: 5e-324 }, { type: 'string', value: Buffer.from('a b\n') }, { type: 'fn', value: 7 },
      { type: 'obj', value: 8 }, { type: 'np', value: 9 },
    ];
    for (const value of values) assert.deepEqual(protocol.parseValue(protocol.formatValue(value)), value);
  });

  test('values out of range or of no known form are refused', () => {
    for (const field of ['i:2147483648', 'i:1.5', 'd:', 'd:1e', 'd:0x10', 'fn:', 'fn:-1', 'np:a', 'undefined', '']) {
      assert.equal(protocol.parseValue(field), null, field);
    }
  });
});

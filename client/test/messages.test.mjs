import { test } from 'node:test';
import assert from 'node:assert/strict';
import { emitMessage, fieldMessage, patchMessage, readNotice, resyncMessage, splitDecoded } from '../messages.js';

test('client messages, one JSON text each', () => {
  const cases = [
    [emitMessage('busy', undefined), '{"v":1,"type":"emit","event":"busy","detail":null}'],
    [emitMessage('save', { id: 3 }), '{"v":1,"type":"emit","event":"save","detail":{"id":3}}'],
    [patchMessage('todo', 'items.milk.done', true), '{"v":1,"type":"patch","model":"todo","field":"items.milk.done","value":true}'],
    [fieldMessage('draft', 'Wat'), '{"v":1,"type":"field","field":"draft","value":"Wat"}'],
    [resyncMessage(null), '{"v":1,"type":"resync","rev":null}'],
    [resyncMessage(18446744073709551615n), '{"v":1,"type":"resync","rev":18446744073709551615}'],
  ];
  for (const [got, want] of cases) assert.equal(got, want);
});

test('a decoded frame splits into its members, the payload text untouched', () => {
  const cases = [
    ['{"kind":"patch","model_type":"counter","payload":{"ops":[]},"rev":3}',
      { kind: 'patch', modelType: 'counter', rev: 3n, payload: '{"ops":[]}' }],
    ['{"kind":"snapshot","model_type":"a\\",\\"payload\\":1","payload":{"tag":"p","props":{"x":{"Float":1.0},"n":{"Int":9007199254740993}}},"rev":18446744073709551615}',
      { kind: 'snapshot', modelType: 'a","payload":1', rev: 18446744073709551615n,
        payload: '{"tag":"p","props":{"x":{"Float":1.0},"n":{"Int":9007199254740993}}}' }],
    ['{"kind":"patch","model_type":"","payload":"x,\\"rev\\":1","rev":0}',
      { kind: 'patch', modelType: '', rev: 0n, payload: '"x,\\"rev\\":1"' }],
  ];
  for (const [text, want] of cases) assert.deepEqual(splitDecoded(text), want);
});

test('a decoded text of another shape is refused', () => {
  for (const text of ['{}', '{"kind":"delta","model_type":"m","payload":1,"rev":0}',
    '{"kind":"patch","model_type":"m","body":1,"rev":0}', '{"kind":"patch","model_type":"m","payload":1,"rev":-1}',
    '{"kind":"patch","model_type":"m","payload":1}']) {
    assert.throws(() => splitDecoded(text), { message: 'decoded frame of unknown shape' }, text);
  }
});

test('server notices', () => {
  assert.deepEqual(readNotice('{"v":1,"type":"error","message":"message is not JSON"}'), { type: 'error', message: 'message is not JSON' });
  assert.throws(() => readNotice('oops'), { message: 'server notice is not JSON: oops' });
  assert.throws(() => readNotice('{"v":2,"type":"error"}'), { message: 'server notice of unknown shape: {"v":2,"type":"error"}' });
});

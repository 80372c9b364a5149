import { test } from 'node:test';
import assert from 'node:assert/strict';
import { evaluate, toText, truthy } from '../expr.js';

const lit = (value) => ({ expr: 'lit', value });
const ctx = {
  event: () => 'typed',
  field: (name) => ({ busy: true, 'user.name': 'Ada', zero: 0 })[name],
  prop: (ref, name) => `${ref.ref === 'id' ? ref.id : 'this'}.${name}`,
};

test('each expression kind evaluates', () => {
  const cases = [
    [lit({ a: [1, 2.5, null] }), { a: [1, 2.5, null] }],
    [{ expr: 'event' }, 'typed'],
    [{ expr: 'not', of: { expr: 'field', name: 'busy' } }, false],
    [{ expr: 'not', of: { expr: 'field', name: 'absent' } }, true],
    [{ expr: 'field', name: 'user.name' }, 'Ada'],
    [{ expr: 'field', name: 'absent' }, null],
    [{ expr: 'prop', target: { ref: 'this' }, name: 'value' }, 'this.value'],
    [{ expr: 'prop', target: { ref: 'id', id: 'title' }, name: 'text' }, 'title.text'],
    [{ expr: 'obj', fields: { text: { expr: 'event' }, n: lit(2) } }, { text: 'typed', n: 2 }],
    [{ expr: 'concat', parts: [lit('/items/'), lit(7), lit(null), lit(true), lit([1]), { expr: 'event' }] }, '/items/7true[1]typed'],
  ];
  for (const [expr, want] of cases) assert.deepEqual(evaluate(expr, ctx), want, JSON.stringify(expr));
});

test('an obj expression with a member named __proto__ keeps it as data', () => {
  const out = evaluate({ expr: 'obj', fields: JSON.parse('{"__proto__":{"expr":"lit","value":{"polluted":1}}}') }, ctx);
  assert.deepEqual(Object.keys(out), ['__proto__']);
  assert.equal({}.polluted, undefined);
  assert.equal(Object.getPrototypeOf(out), Object.prototype);
});

test('an unknown expression fails with its name', () => {
  assert.throws(() => evaluate({ expr: 'eval', code: '1' }, ctx), { message: 'unknown expression "eval"' });
});

test('truthiness', () => {
  for (const v of [false, null, undefined, 0, -0, NaN, '']) assert.equal(truthy(v), false, String(v));
  for (const v of [true, 1, -1, 'false', '0', [], {}]) assert.equal(truthy(v), true, JSON.stringify(v));
});

test('concat parts as text', () => {
  const cases = [['a', 'a'], [null, ''], [undefined, ''], [1.5, '1.5'], [false, 'false'], [{ b: 1 }, '{"b":1}']];
  for (const [v, want] of cases) assert.equal(toText(v), want);
});

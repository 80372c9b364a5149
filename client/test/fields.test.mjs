import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createFields, related } from '../fields.js';

test('dotted names read and write nested values', () => {
  const f = createFields({ draft: 'x' });
  f.set('items.milk.done', true);
  f.set('items.milk.text', 'Buy milk');
  assert.deepEqual(f.get('items'), { milk: { done: true, text: 'Buy milk' } });
  assert.equal(f.get('items.milk.done'), true);
  assert.equal(f.get('draft'), 'x');
  assert.equal(f.get('items.tyres.done'), undefined);
  assert.equal(f.get('draft.length'), undefined, 'a text is not walked into');
  f.set('draft.sub', 1); // a path through a text replaces the text by an object
  assert.deepEqual(f.get('draft'), { sub: 1 });
});

test('no name reaches a prototype', () => {
  const f = createFields();
  f.set('__proto__.polluted', 1);
  f.set('constructor.prototype.polluted', 1);
  assert.equal({}.polluted, undefined);
  assert.equal(f.get('__proto__.polluted'), 1);
  assert.equal(f.get('toString'), undefined, 'inherited members are not fields');
  assert.equal(f.get('items.hasOwnProperty'), undefined);
});

test('listeners hear changes to their field, inside it and around it', () => {
  const f = createFields();
  const heard = [];
  f.subscribe('items.milk', (name, source) => heard.push([name, source]));
  const all = [];
  f.subscribe(null, (name) => all.push(name));
  f.set('items.milk.done', true, 'me');
  f.set('items', []);
  f.set('items.milkshake', 1);
  f.set('draft', '');
  assert.deepEqual(heard, [['items.milk.done', 'me'], ['items', undefined]]);
  assert.deepEqual(all, ['items.milk.done', 'items', 'items.milkshake', 'draft']);
});

test('unsubscribing stops a listener, also from inside a notification', () => {
  const f = createFields();
  let calls = 0;
  const off = f.subscribe('a', () => { calls++; off(); });
  f.set('a', 1);
  f.set('a', 2);
  assert.equal(calls, 1);
});

test('related names', () => {
  const cases = [['a', 'a', true], ['a.b', 'a', true], ['a', 'a.b', true], ['ab', 'a', false], ['a.b', 'a.c', false]];
  for (const [x, y, want] of cases) assert.equal(related(x, y), want, `${x} ${y}`);
});

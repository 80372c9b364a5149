import { test } from 'node:test';
import assert from 'node:assert/strict';
import { attributeText, isScriptUrl, propRefusal, propValue, tagRefusal } from '../props.js';
import { compareNames } from '../mount.js';

test('prop values as JavaScript values', () => {
  const cases = [
    ['Null', null], [{ Bool: false }, false], [{ Int: -5 }, -5], [{ Float: 1.5 }, 1.5], [{ Str: 'a' }, 'a'],
    [{ Submodel: 7 }, 7], [{ List: [{ Str: 'x' }, 'Null'] }, ['x', null]],
    [{ Map: { b: { Int: 1 }, a: { List: [] } } }, { b: 1, a: [] }],
  ];
  for (const [pv, want] of cases) assert.deepEqual(propValue(pv), want, JSON.stringify(pv));
  assert.throws(() => propValue({ Html: '<b>' }), { message: 'unknown prop value {"Html":"<b>"}' });
});

test('attribute texts', () => {
  const cases = [[true, ''], [false, null], [null, null], ['x', 'x'], [0.25, '0.25'], [3, '3'], [['a', 1], '["a",1]'], [{ k: null }, '{"k":null}']];
  for (const [v, want] of cases) assert.equal(attributeText(v), want, JSON.stringify(v));
});

test('props that would run code are refused', () => {
  const cases = [
    ['onclick', 'alert(1)', 'prop "onclick" refused: handlers come only from events'],
    ['ONERROR', 'x', 'prop "ONERROR" refused: handlers come only from events'],
    ['innerHTML', '<img src=x onerror=alert(1)>', 'prop "innerHTML" refused'],
    ['outerHTML', '<b>', 'prop "outerHTML" refused'],
    ['srcdoc', '<script>1</script>', 'prop "srcdoc" refused'],
    ['slot', 'header', 'prop "slot" refused'],
    ['__proto__', { polluted: 1 }, 'prop "__proto__" refused'],
    ['href', 'javascript:alert(1)', 'prop "href" refused: a script URL'],
    ['href', ' \u0001JaVa\tScRiPt:alert(1)', 'prop "href" refused: a script URL'],
    ['src', 'java\nscript:1', 'prop "src" refused: a script URL'],
    ['formAction', 'vbscript:x', 'prop "formAction" refused: a script URL'],
    ['xlink:href', 'javascript:1', 'prop "xlink:href" refused: a script URL'],
    ['online', true, 'prop "online" refused: handlers come only from events'],
  ];
  for (const [name, value, want] of cases) assert.equal(propRefusal(name, value), want, name);
  // a name starting with "on" passes only as a data property of the element itself
  const el = { onclick: null, ontoggle: () => {}, onward: 'x' };
  for (const [name, want] of [['onward', null], ['onclick', 'prop "onclick" refused: handlers come only from events'],
    ['ontoggle', 'prop "ontoggle" refused: handlers come only from events'], ['onx', 'prop "onx" refused: handlers come only from events']]) {
    assert.equal(propRefusal(name, true, el), want, name);
  }
  for (const [name, value] of [['href', '/items/javascript:1'], ['href', 'https://x/?javascript:'], ['title', 'javascript:1'], ['text', '<img src=x onerror=1>'], ['open', true]]) {
    assert.equal(propRefusal(name, value), null, `${name}=${value}`);
  }
  assert.equal(isScriptUrl('data:text/html,x'), false);
  assert.equal(tagRefusal('SCRIPT'), 'tag "SCRIPT" refused: its content would run');
  assert.equal(tagRefusal('todo-row'), null);
});

test('slot names sort in byte order of their UTF-8 forms', () => {
  const names = ['items', 'footer', '\u{1F600}', '\uFFFD', 'Z', 'default', 'header', 'é'];
  assert.deepEqual([...names].sort(compareNames),
    [...names].sort((a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b))));
});

// tools/strip_comments.cjs, which writes the client's code into client/dist: comments and
// indentation go, the program stays token for token, and what it cannot strip safely (spaces that
// are a template literal's value) stops the build instead of changing the program.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

const TOOL = new URL('../../tools/strip_comments.cjs', import.meta.url).pathname;

function strip(source) {
  const dir = mkdtempSync(join(tmpdir(), 'strip-'));
  try {
    const file = join(dir, 'in.js');
    writeFileSync(file, source);
    const env = { ...process.env, NODE_PATH: process.env.NODE_PATH ?? '/usr/share/nodejs' };
    return spawnSync(process.execPath, [TOOL, file], { encoding: 'utf8', env });
  } finally {
    rmSync(dir, { recursive: true });
  }
}

test('comments and indentation go, tokens and line breaks stay', () => {
  const cases = [
    // [input, output]
    ['// head\nexport const a = 1;  // tail\n', 'export const a = 1;\n'],
    ['const b = 1/*k*/+2;\n', 'const b = 1 +2;\n'],
    ['/** doc\n * more\n */\nfunction f() {\n    return 2;\n}\n', 'function f() {\nreturn 2;\n}\n'],
    // A line break ends a statement without a semicolon: it must stay.
    ['let x = y\n  /re/g.test(x)\n', 'let x = y\n/re/g.test(x)\n'],
    ['const s = "// not a comment";\nconst t = `/* nor this */`;\n', 'const s = "// not a comment";\nconst t = `/* nor this */`;\n'],
  ];
  for (const [input, output] of cases) {
    const run = strip(input);
    assert.equal(run.status, 0, run.stderr);
    assert.equal(run.stdout, output, input);
  }
});

test('a template literal spanning indented lines stops the strip', () => {
  const run = strip('const t = `a\n    b`;\n');
  assert.notEqual(run.status, 0);
  assert.equal(run.stdout, '');
  assert.match(run.stderr, /would change in more than comments and spacing/);
});

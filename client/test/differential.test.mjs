// Same input, same bytes: a seeded corpus of calls (tools/differential_corpus.py, from the
// project's generators, valid and damaged inputs of all five operations) is run through the
// Python module, which writes its outputs, and then through the WebAssembly module here. Every
// output and every error text must be identical.
//
// Needs a Python with the velmor module of the same sources: VELMOR_PYTHON (default python3).
// VELMOR_SEED picks another corpus (default 12).
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { load, VelmorError } from '../dist/velmor.js';

const ROOT = fileURLToPath(new URL('../..', import.meta.url));
const PYTHON = process.env.VELMOR_PYTHON ?? 'python3';
const SEED = process.env.VELMOR_SEED ?? '12';

const probe = spawnSync(PYTHON, ['-c', 'import velmor'], { encoding: 'utf8' });
const skip = probe.status === 0 ? false : `no Python with the velmor module (${PYTHON}): ${probe.stderr || probe.error}`;

const NAMES = { diff: 'diff', apply: 'apply', encode_frame: 'encodeFrame', decode_frame: 'decodeFrame', parse_cem: 'parseCem' };
// What a Python exception is in JavaScript: a core failure is a VelmorError with the same text;
// the text of the others is each language's own.
const ERRORS = { ValueError: VelmorError, UnicodeEncodeError: TypeError, MemoryError: RangeError };

const hex = (bytes) => Buffer.from(bytes).toString('hex');
const short = (v) => (typeof v === 'string' && v.length > 200 ? `${v.slice(0, 200)}… (${v.length} chars)` : v);

function args(record) {
  const a = [...record.args];
  if (record.fn === 'decode_frame') a[0] = new Uint8Array(Buffer.from(a[0], 'hex'));
  if (record.fn === 'encode_frame') a[3] = BigInt(a[3]);
  return a;
}

test('the wasm module gives the Python module\'s outputs and error texts on the whole corpus', { skip }, async () => {
  const dir = mkdtempSync(join(tmpdir(), 'velmor-differential-'));
  try {
    const file = join(dir, 'corpus.jsonl');
    const made = spawnSync(PYTHON, [join(ROOT, 'tools', 'differential_corpus.py'), file, SEED], { encoding: 'utf8' });
    assert.equal(made.status, 0, made.stderr);
    const v = await load();
    const mismatches = [];
    const seen = new Set();
    for (const line of readFileSync(file, 'utf8').split('\n')) {
      if (line === '') continue;
      const record = JSON.parse(line);
      const fn = NAMES[record.fn];
      let got;
      try {
        const out = v[fn](...args(record));
        got = { ok: out instanceof Uint8Array ? hex(out) : out };
      } catch (e) {
        got = { error: e };
      }
      let same;
      if ('ok' in record) {
        same = got.ok === record.ok;
        seen.add(`${fn} ok`);
      } else {
        const type = ERRORS[record.error];
        same = type !== undefined && got.error instanceof type &&
          (record.error !== 'ValueError' || got.error.message === record.message);
        seen.add(`${fn} ${record.error}`);
      }
      if (!same && mismatches.length < 10) {
        mismatches.push({ fn, args: record.args.map(short), expected: short(record.ok ?? `${record.error}: ${record.message}`),
          got: short(got.ok ?? `${got.error?.name}: ${got.error?.message}`) });
      }
    }
    assert.deepEqual(mismatches, []);
    // Whatever the input, a call leaves nothing allocated behind it.
    assert.equal(v.memoryStats().used, 0);
    // The corpus reaches every function both ways.
    for (const fn of Object.values(NAMES)) {
      assert.ok(seen.has(`${fn} ok`) && seen.has(`${fn} ValueError`), `${fn}: ${[...seen]}`);
    }
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
});

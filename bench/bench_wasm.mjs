// Times the WebAssembly binding on the inputs that bench/bench_wasm.py writes; runs under Node
// (node bench/bench_wasm.mjs DIR) and in a browser page (bench/bench_wasm.py loads it there).
// Prints, or returns, {wall: {name: best seconds per call}, cpu: the same in CPU time, or null}.

/**
 * @param {object} velmor the loaded binding
 * @param {{tree: string, edited: string, patch: string, patchFrame: Uint8Array, treeFrame: Uint8Array}} inputs
 * @param {number} budget seconds of runs per case
 */
export function measure(velmor, inputs, budget = 4) {
  const cases = {
    'decodeFrame 10 KB patch': [() => velmor.decodeFrame(inputs.patchFrame), 50],
    'decodeFrame 1 MB tree': [() => velmor.decodeFrame(inputs.treeFrame), 1],
    'apply 1 MB tree + 10 KB patch': [() => velmor.apply(inputs.tree, inputs.patch), 1],
    'diff 1 MB trees': [() => velmor.diff(inputs.tree, inputs.edited), 1],
    'encodeFrame 10 KB patch': [() => velmor.encodeFrame(inputs.patch, 'dashboard', 'patch', 7, 'application/msgpack'), 50],
    'encodeFrame 1 MB tree': [() => velmor.encodeFrame(inputs.tree, 'dashboard', 'snapshot', 7, 'application/msgpack'), 1],
  };
  // Under Node also the process's CPU time (all its threads), which a busy machine's scheduler
  // does not inflate the way it does wall time.
  const cpu = typeof process !== 'undefined' && process.cpuUsage ? () => {
    const u = process.cpuUsage();
    return (u.user + u.system) / 1e6;
  } : null;
  const out = { wall: {}, cpu: cpu ? {} : null };
  for (const [name, [fn, inner]] of Object.entries(cases)) {
    let wall = Infinity, used = Infinity;
    const start = performance.now();
    for (let runs = 0; runs < 5 || performance.now() - start < budget * 1000; runs++) {
      const t = performance.now(), c = cpu?.();
      for (let i = 0; i < inner; i++) fn();
      wall = Math.min(wall, (performance.now() - t) / 1000 / inner);
      if (cpu) used = Math.min(used, (cpu() - c) / inner);
    }
    out.wall[name] = wall;
    if (cpu) out.cpu[name] = used;
  }
  return out;
}

async function main(dir) {
  const { readFile } = await import('node:fs/promises');
  const { join } = await import('node:path');
  const { load } = await import('../client/dist/velmor.js');
  const text = (name) => readFile(join(dir, name), 'utf8');
  const bytes = async (name) => new Uint8Array(await readFile(join(dir, name)));
  const inputs = {
    tree: await text('tree.json'), edited: await text('edited.json'), patch: await text('patch.json'),
    patchFrame: await bytes('patch.frame'), treeFrame: await bytes('tree.frame'),
  };
  console.log(JSON.stringify(measure(await load(), inputs)));
}

if (typeof process !== 'undefined' && import.meta.url === `file://${process.argv[1]}`) await main(process.argv[2]);

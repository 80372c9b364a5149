// Built by tools/build_wasm.sh from wasm/ and client/src/velmor.js; do not edit.

var createCore = (() => {
  var _scriptDir = typeof document !== 'undefined' && document.currentScript ? document.currentScript.src : undefined;
  
  return (
function(createCore) {
  createCore = createCore || {};

var Module=typeof createCore!="undefined"?createCore:{};var readyPromiseResolve,readyPromiseReject;Module["ready"]=new Promise(function(resolve,reject){readyPromiseResolve=resolve;readyPromiseReject=reject});var moduleOverrides=Object.assign({},Module);var arguments_=[];var ENVIRONMENT_IS_WEB=true;var ENVIRONMENT_IS_WORKER=false;var scriptDirectory="";function locateFile(path){return scriptDirectory+path}var read_,readAsync,readBinary,setWindowTitle;if(ENVIRONMENT_IS_WEB||ENVIRONMENT_IS_WORKER){if(ENVIRONMENT_IS_WORKER){scriptDirectory=self.location.href}else if(typeof document!="undefined"&&document.currentScript){scriptDirectory=document.currentScript.src}if(_scriptDir){scriptDirectory=_scriptDir}if(scriptDirectory.indexOf("blob:")!==0){scriptDirectory=scriptDirectory.substr(0,scriptDirectory.replace(/[?#].*/,"").lastIndexOf("/")+1)}else{scriptDirectory=""}{read_=(url=>{var xhr=new XMLHttpRequest;xhr.open("GET",url,false);xhr.send(null);return xhr.responseText});if(ENVIRONMENT_IS_WORKER){readBinary=(url=>{var xhr=new XMLHttpRequest;xhr.open("GET",url,false);xhr.responseType="arraybuffer";xhr.send(null);return new Uint8Array(xhr.response)})}readAsync=((url,onload,onerror)=>{var xhr=new XMLHttpRequest;xhr.open("GET",url,true);xhr.responseType="arraybuffer";xhr.onload=(()=>{if(xhr.status==200||xhr.status==0&&xhr.response){onload(xhr.response);return}onerror()});xhr.onerror=onerror;xhr.send(null)})}setWindowTitle=(title=>document.title=title)}else{}var out=console.log.bind(console);var err=console.warn.bind(console);Object.assign(Module,moduleOverrides);moduleOverrides=null;var wasmBinary;if(typeof WebAssembly!="object"){abort("no native wasm support detected")}var wasmMemory;var ABORT=false;var EXITSTATUS;var buffer,HEAP8,HEAPU8,HEAP16,HEAPU16,HEAP32,HEAPU32,HEAPF32,HEAPF64;function updateGlobalBufferAndViews(buf){buffer=buf;Module["HEAP8"]=HEAP8=new Int8Array(buf);Module["HEAP16"]=HEAP16=new Int16Array(buf);Module["HEAP32"]=HEAP32=new Int32Array(buf);Module["HEAPU8"]=HEAPU8=new Uint8Array(buf);Module["HEAPU16"]=HEAPU16=new Uint16Array(buf);Module["HEAPU32"]=HEAPU32=new Uint32Array(buf);Module["HEAPF32"]=HEAPF32=new Float32Array(buf);Module["HEAPF64"]=HEAPF64=new Float64Array(buf)}var wasmTable;var __ATPRERUN__=[];var __ATINIT__=[];var __ATPOSTRUN__=[];var runtimeInitialized=false;function preRun(){callRuntimeCallbacks(__ATPRERUN__)}function initRuntime(){runtimeInitialized=true;callRuntimeCallbacks(__ATINIT__)}function postRun(){callRuntimeCallbacks(__ATPOSTRUN__)}function addOnInit(cb){__ATINIT__.unshift(cb)}var runDependencies=0;var runDependencyWatcher=null;var dependenciesFulfilled=null;function addRunDependency(id){runDependencies++}function removeRunDependency(id){runDependencies--;if(runDependencies==0){if(runDependencyWatcher!==null){clearInterval(runDependencyWatcher);runDependencyWatcher=null}if(dependenciesFulfilled){var callback=dependenciesFulfilled;dependenciesFulfilled=null;callback()}}}Module["preloadedImages"]={};Module["preloadedAudios"]={};function abort(what){{if(Module["onAbort"]){Module["onAbort"](what)}}what="Aborted("+what+")";err(what);ABORT=true;EXITSTATUS=1;what+=". Build with -s ASSERTIONS=1 for more info.";var e=new WebAssembly.RuntimeError(what);readyPromiseReject(e);throw e}var dataURIPrefix="data:application/octet-stream;base64,";function isDataURI(filename){return filename.startsWith(dataURIPrefix)}var wasmBinaryFile;wasmBinaryFile="velmor_glue.wasm";if(!isDataURI(wasmBinaryFile)){wasmBinaryFile=locateFile(wasmBinaryFile)}function getBinary(file){try{if(file==wasmBinaryFile&&wasmBinary){return new Uint8Array(wasmBinary)}if(readBinary){return readBinary(file)}else{throw"both async and sync fetching of the wasm failed"}}catch(err){abort(err)}}function getBinaryPromise(){if(!wasmBinary&&(ENVIRONMENT_IS_WEB||ENVIRONMENT_IS_WORKER)){if(typeof fetch=="function"){return fetch(wasmBinaryFile,{credentials:"same-origin"}).then(function(response){if(!response["ok"]){throw"failed to load wasm binary file at '"+wasmBinaryFile+"'"}return response["arrayBuffer"]()}).catch(function(){return getBinary(wasmBinaryFile)})}}return Promise.resolve().then(function(){return getBinary(wasmBinaryFile)})}function createWasm(){var info={"a":asmLibraryArg};function receiveInstance(instance,module){var exports=instance.exports;Module["asm"]=exports;wasmMemory=Module["asm"]["d"];updateGlobalBufferAndViews(wasmMemory.buffer);wasmTable=Module["asm"]["t"];addOnInit(Module["asm"]["e"]);removeRunDependency("wasm-instantiate")}addRunDependency("wasm-instantiate");function receiveInstantiationResult(result){receiveInstance(result["instance"])}function instantiateArrayBuffer(receiver){return getBinaryPromise().then(function(binary){return WebAssembly.instantiate(binary,info)}).then(function(instance){return instance}).then(receiver,function(reason){err("failed to asynchronously prepare wasm: "+reason);abort(reason)})}function instantiateAsync(){if(!wasmBinary&&typeof WebAssembly.instantiateStreaming=="function"&&!isDataURI(wasmBinaryFile)&&typeof fetch=="function"){return fetch(wasmBinaryFile,{credentials:"same-origin"}).then(function(response){var result=WebAssembly.instantiateStreaming(response,info);return result.then(receiveInstantiationResult,function(reason){err("wasm streaming compile failed: "+reason);err("falling back to ArrayBuffer instantiation");return instantiateArrayBuffer(receiveInstantiationResult)})})}else{return instantiateArrayBuffer(receiveInstantiationResult)}}if(Module["instantiateWasm"]){try{var exports=Module["instantiateWasm"](info,receiveInstance);return exports}catch(e){err("Module.instantiateWasm callback failed with error: "+e);return false}}instantiateAsync().catch(readyPromiseReject);return{}}function callRuntimeCallbacks(callbacks){while(callbacks.length>0){var callback=callbacks.shift();if(typeof callback=="function"){callback(Module);continue}var func=callback.func;if(typeof func=="number"){if(callback.arg===undefined){getWasmTableEntry(func)()}else{getWasmTableEntry(func)(callback.arg)}}else{func(callback.arg===undefined?null:callback.arg)}}}var wasmTableMirror=[];function getWasmTableEntry(funcPtr){var func=wasmTableMirror[funcPtr];if(!func){if(funcPtr>=wasmTableMirror.length)wasmTableMirror.length=funcPtr+1;wasmTableMirror[funcPtr]=func=wasmTable.get(funcPtr)}return func}function _abort(){abort("")}function _emscripten_memcpy_big(dest,src,num){HEAPU8.copyWithin(dest,src,src+num)}function _emscripten_get_heap_max(){return 2147483648}function emscripten_realloc_buffer(size){try{wasmMemory.grow(size-buffer.byteLength+65535>>>16);updateGlobalBufferAndViews(wasmMemory.buffer);return 1}catch(e){}}function _emscripten_resize_heap(requestedSize){var oldSize=HEAPU8.length;requestedSize=requestedSize>>>0;var maxHeapSize=_emscripten_get_heap_max();if(requestedSize>maxHeapSize){return false}let alignUp=(x,multiple)=>x+(multiple-x%multiple)%multiple;for(var cutDown=1;cutDown<=4;cutDown*=2){var overGrownHeapSize=oldSize*(1+.2/cutDown);overGrownHeapSize=Math.min(overGrownHeapSize,requestedSize+100663296);var newSize=Math.min(maxHeapSize,alignUp(Math.max(requestedSize,overGrownHeapSize),65536));var replacement=emscripten_realloc_buffer(newSize);if(replacement){return true}}return false}var asmLibraryArg={"b":_abort,"c":_emscripten_memcpy_big,"a":_emscripten_resize_heap};var asm=createWasm();var ___wasm_call_ctors=Module["___wasm_call_ctors"]=function(){return(___wasm_call_ctors=Module["___wasm_call_ctors"]=Module["asm"]["e"]).apply(null,arguments)};var _velmor_alloc=Module["_velmor_alloc"]=function(){return(_velmor_alloc=Module["_velmor_alloc"]=Module["asm"]["f"]).apply(null,arguments)};var _velmor_free=Module["_velmor_free"]=function(){return(_velmor_free=Module["_velmor_free"]=Module["asm"]["g"]).apply(null,arguments)};var _velmor_heap_used=Module["_velmor_heap_used"]=function(){return(_velmor_heap_used=Module["_velmor_heap_used"]=Module["asm"]["h"]).apply(null,arguments)};var _velmor_has_replacement=Module["_velmor_has_replacement"]=function(){return(_velmor_has_replacement=Module["_velmor_has_replacement"]=Module["asm"]["i"]).apply(null,arguments)};var _velmor_utf16_to_utf8=Module["_velmor_utf16_to_utf8"]=function(){return(_velmor_utf16_to_utf8=Module["_velmor_utf16_to_utf8"]=Module["asm"]["j"]).apply(null,arguments)};var _velmor_utf8_to_utf16=Module["_velmor_utf8_to_utf16"]=function(){return(_velmor_utf8_to_utf16=Module["_velmor_utf8_to_utf16"]=Module["asm"]["k"]).apply(null,arguments)};var _velmor_out_data=Module["_velmor_out_data"]=function(){return(_velmor_out_data=Module["_velmor_out_data"]=Module["asm"]["l"]).apply(null,arguments)};var _velmor_out_size=Module["_velmor_out_size"]=function(){return(_velmor_out_size=Module["_velmor_out_size"]=Module["asm"]["m"]).apply(null,arguments)};var _velmor_out_release=Module["_velmor_out_release"]=function(){return(_velmor_out_release=Module["_velmor_out_release"]=Module["asm"]["n"]).apply(null,arguments)};var _velmor_diff=Module["_velmor_diff"]=function(){return(_velmor_diff=Module["_velmor_diff"]=Module["asm"]["o"]).apply(null,arguments)};var _velmor_apply=Module["_velmor_apply"]=function(){return(_velmor_apply=Module["_velmor_apply"]=Module["asm"]["p"]).apply(null,arguments)};var _velmor_encode_frame=Module["_velmor_encode_frame"]=function(){return(_velmor_encode_frame=Module["_velmor_encode_frame"]=Module["asm"]["q"]).apply(null,arguments)};var _velmor_decode_frame=Module["_velmor_decode_frame"]=function(){return(_velmor_decode_frame=Module["_velmor_decode_frame"]=Module["asm"]["r"]).apply(null,arguments)};var _velmor_parse_cem=Module["_velmor_parse_cem"]=function(){return(_velmor_parse_cem=Module["_velmor_parse_cem"]=Module["asm"]["s"]).apply(null,arguments)};var calledRun;dependenciesFulfilled=function runCaller(){if(!calledRun)run();if(!calledRun)dependenciesFulfilled=runCaller};function run(args){args=args||arguments_;if(runDependencies>0){return}preRun();if(runDependencies>0){return}function doRun(){if(calledRun)return;calledRun=true;Module["calledRun"]=true;if(ABORT)return;initRuntime();readyPromiseResolve(Module);postRun()}{doRun()}}Module["run"]=run;run();


  return createCore.ready
}
);
})();
if (typeof exports === 'object' && typeof module === 'object')
  module.exports = createCore;
else if (typeof define === 'function' && define['amd'])
  define([], function() { return createCore; });
else if (typeof exports === 'object')
  exports["createCore"] = createCore;

export class VelmorError extends Error {
constructor(message) {
super(message);
this.name = 'VelmorError';
}
}
const encoder = new TextEncoder();
const decoder = new TextDecoder('utf-8', { fatal: true });
const U64_MAX = (1n << 64n) - 1n;
const SURROGATE = /\p{Surrogate}/u;
const NODE_BUFFER = typeof process !== 'undefined' && process.versions?.node && typeof Buffer === 'function'
? Buffer : null;
const PIECE = 16384;
const NODE_LONG = 1031913;
const LONGEST_ARRAY = 2 ** 24;
async function wasmBytes(source) {
if (source instanceof Uint8Array || source instanceof ArrayBuffer) return source;
if (typeof Response !== 'undefined' && source instanceof Response) {
if (!source.ok) throw new Error(`cannot load velmor.wasm: HTTP ${source.status} for ${source.url}`);
return source.arrayBuffer();
}
if (typeof source === 'string' || source instanceof URL) {
const url = new URL(source, typeof location !== 'undefined' ? location.href : import.meta.url);
if (url.protocol === 'file:') {
const fs = await import('node:fs/promises');
return fs.readFile(url);
}
return wasmBytes(await fetch(url));
}
throw new TypeError('load(): the source must be a URL, a Response, an ArrayBuffer or a Uint8Array');
}
export async function load(source = new URL('velmor.wasm', import.meta.url)) {
const bytes = await wasmBytes(source);
let memory = null;
const core = await new Promise((resolve, reject) => {
createCore({
instantiateWasm(imports, done) {
WebAssembly.instantiate(bytes, imports).then((r) => {
memory = Object.values(r.instance.exports).find((e) => e instanceof WebAssembly.Memory) ?? null;
done(r.instance, r.module);
}, reject);
return {};
},
onAbort: (what) => reject(new Error(`velmor.wasm aborted: ${what}`)),
}).then(resolve, reject);
});
return bind(core, NODE_BUFFER === null && memory !== null ? stringBuiltins(memory) : null);
}
function stringBuiltins(memory) {
const leb = (n) => (n < 0x80 ? [n] : [(n & 0x7f) | 0x80, ...leb(n >>> 7)]);
const name = (s) => [s.length, ...Array.from(s, (c) => c.charCodeAt(0))];
const section = (id, ...items) => {
const body = [...leb(items.length), ...items.flat()];
return [id, ...leb(body.length), ...body];
};
const KEPT = 2 ** 21;
const array = [
0x01, 0x01, 0x63, 0x00,
0x23, 0, 0x21, 1,
0x20, 1, 0xd1, 0x04, 0x7f, 0x41, 1, 0x05, 0x20, 1, 0xfb, 0x0f, 0x20, 0, 0x49, 0x0b,
0x04, 0x40,
0x20, 0, 0xfb, 0x07, 0x00, 0x21, 1,
0x20, 0, 0x41, ...leb(KEPT), 0x4d, 0x04, 0x40, 0x20, 1, 0x24, 0, 0x0b,
0x0b,
0x20, 1, 0x0b,
];
const steps = (at, arr, index, n, eight, one) => [
0x02, 0x40, 0x03, 0x40,
0x20, index, 0x41, 8, 0x6a, 0x20, n, 0x4b, 0x0d, 1,
...eight,
0x20, index, 0x41, 8, 0x6a, 0x21, index,
0x0c, 0, 0x0b, 0x0b,
0x02, 0x40, 0x03, 0x40,
0x20, index, 0x20, n, 0x4f, 0x0d, 1,
...one,
0x20, index, 0x41, 1, 0x6a, 0x21, index,
0x0c, 0, 0x0b, 0x0b,
];
const address = (at, index) => [0x20, at, 0x20, index, 0x41, 1, 0x74, 0x6a];
const get = (k) => [0x20, 3, 0x20, 4, 0x41, k, 0x6a, 0xfb, 0x0d, 0x00, 0xad, 0x42, 16 * (k % 4), 0x86];
const four = (k) => [...get(k), ...get(k + 1), 0x84, ...get(k + 2), 0x84, ...get(k + 3), 0x84];
const units = [
0x02, 0x01, 0x63, 0x00, 0x01, 0x7f,
0x20, 1, 0x10, 2, 0x21, 3,
0x20, 0, 0x20, 3, 0x41, 0, 0x10, 0, 0x1a,
...steps(2, 3, 4, 1,
[...address(2, 4), ...four(0), 0x37, 3, 0, ...address(2, 4), ...four(4), 0x37, 3, 8],
[...address(2, 4), 0x20, 3, 0x20, 4, 0xfb, 0x0d, 0x00, 0x3b, 1, 0]),
0x0b,
];
const set = (k) => [0x20, 2, 0x20, 3, 0x41, k, 0x6a, 0x20, 4, 0x42, 16 * (k % 4), 0x88, 0xa7, 0xfb, 0x0e, 0x00];
const text = [
0x03, 0x01, 0x63, 0x00, 0x01, 0x7f, 0x01, 0x7e,
0x20, 1, 0x10, 2, 0x21, 2,
...steps(0, 2, 3, 1,
[...address(0, 3), 0x29, 3, 0, 0x21, 4, ...set(0), ...set(1), ...set(2), ...set(3),
...address(0, 3), 0x29, 3, 8, 0x21, 4, ...set(4), ...set(5), ...set(6), ...set(7)],
[0x20, 2, 0x20, 3, ...address(0, 3), 0x2f, 1, 0, 0xfb, 0x0e, 0x00]),
0x20, 2, 0x41, 0, 0x20, 1, 0x10, 1,
0x0b,
];
const bytes = new Uint8Array([
0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00,
...section(1, [0x5e, 0x77, 0x01], [0x60, 3, 0x6f, 0x63, 0x00, 0x7f, 1, 0x7f],
[0x60, 3, 0x63, 0x00, 0x7f, 0x7f, 1, 0x64, 0x6f], [0x60, 3, 0x6f, 0x7f, 0x7f, 0],
[0x60, 2, 0x7f, 0x7f, 1, 0x64, 0x6f], [0x60, 1, 0x7f, 1, 0x63, 0x00]),
...section(2, [...name('wasm:js-string'), ...name('intoCharCodeArray'), 0x00, 1],
[...name('wasm:js-string'), ...name('fromCharCodeArray'), 0x00, 2],
[...name('m'), ...name('memory'), 0x02, 0x00, 1]),
...section(3, [5], [3], [4]),
...section(6, [0x63, 0x00, 0x01, 0xd0, 0x00, 0x0b]),
...section(7, [...name('units'), 0x00, 3], [...name('text'), 0x00, 4]),
...section(10, [...leb(array.length), ...array], [...leb(units.length), ...units], [...leb(text.length), ...text]),
]);
try {
const module = new WebAssembly.Module(bytes, { builtins: ['js-string'] });
return new WebAssembly.Instance(module, { m: { memory } }).exports;
} catch {
return null;
}
}
function bind(core, strings) {
let heapBuffer = null;
function heap() {
const memory = core.HEAPU8.buffer;
if (heapBuffer === null || heapBuffer.buffer !== memory) heapBuffer = NODE_BUFFER.from(memory);
return heapBuffer;
}
function text(fn, name, value, held) {
if (typeof value !== 'string') throw new TypeError(`${fn}: '${name}' must be a string, not ${kind(value)}`);
const room = value.length * 3;
const ptr = alloc(room, held);
if (NODE_BUFFER !== null || (strings !== null && value.length < LONGEST_ARRAY)) {
const units = core._velmor_alloc(value.length * 2);
if (units === 0) throw new RangeError('out of memory');
let written;
try {
if (NODE_BUFFER !== null) heap().write(value, units, value.length * 2, 'utf16le');
else strings.units(value, value.length, units);
written = core._velmor_utf16_to_utf8(units, value.length, ptr);
} finally {
core._velmor_free(units);
}
if (written < 0) throw new TypeError(`${fn}: '${name}' holds a lone surrogate, which has no UTF-8 form`);
return [ptr, written];
}
const { written } = encoder.encodeInto(value, core.HEAPU8.subarray(ptr, ptr + room));
if (written !== value.length && core._velmor_has_replacement(ptr, written)
&& !(value.isWellFormed ? value.isWellFormed() : !SURROGATE.test(value))) {
throw new TypeError(`${fn}: '${name}' holds a lone surrogate, which has no UTF-8 form`);
}
return [ptr, written];
}
function decode(ptr, size) {
if (NODE_BUFFER !== null || (strings !== null && size < LONGEST_ARRAY)) {
const room = NODE_BUFFER !== null && size >= NODE_LONG / 4 ? Math.max(size, NODE_LONG) : size;
const units = core._velmor_alloc(room * 2);
if (units !== 0) {
try {
const n = core._velmor_utf8_to_utf16(ptr, size, units);
if (NODE_BUFFER === null) {
if (n >= 0) return strings.text(units, n);
} else {
const long = n >= NODE_LONG / 4 && n < NODE_LONG ? NODE_LONG : n;
if (n === size) {
if (long === n) return heap().toString('latin1', ptr, ptr + size);
heap().copy(heap(), units, ptr, ptr + size);
return heap().toString('latin1', units, units + long).slice(0, n);
}
if (n >= 0) return heap().toString('utf16le', units, units + 2 * long).slice(0, n);
}
} finally {
core._velmor_free(units);
}
}
return decoder.decode(core.HEAPU8.subarray(ptr, ptr + size));
}
const bytes = core.HEAPU8.subarray(ptr, ptr + size);
if (size <= PIECE) return decoder.decode(bytes);
let out = '';
for (let at = 0; at < size;) {
let end = Math.min(at + PIECE, size);
while (end < size && (bytes[end] & 0xc0) === 0x80) end++;
out += decoder.decode(bytes.subarray(at, end));
at = end;
}
out.charCodeAt(0);
return out;
}
function bytes(fn, name, value, held) {
if (!(value instanceof Uint8Array)) throw new TypeError(`${fn}: '${name}' must be a Uint8Array, not ${kind(value)}`);
const ptr = alloc(value.length, held);
core.HEAPU8.set(value, ptr);
return [ptr, value.length];
}
function alloc(n, held) {
const ptr = core._velmor_alloc(n);
if (ptr === 0) throw new RangeError('out of memory');
held.push(ptr);
return ptr;
}
function run(held, call, asBytes) {
let status;
try {
status = call();
} finally {
for (const ptr of held) core._velmor_free(ptr);
}
try {
const ptr = core._velmor_out_data();
const out = core.HEAPU8.subarray(ptr, ptr + core._velmor_out_size());
if (status === 0) return asBytes ? out.slice() : decode(ptr, out.length);
if (status === 1) throw new VelmorError(decoder.decode(out));
throw new RangeError('out of memory');
} finally {
core._velmor_out_release();
}
}
function marshal(fn, args) {
const held = [];
try {
return [held, args.map(([name, value, convert]) => convert(fn, name, value, held))];
} catch (e) {
for (const ptr of held) core._velmor_free(ptr);
throw e;
}
}
return Object.freeze({
diff(oldTree, newTree) {
const [held, [a, b]] = marshal('diff()', [['old', oldTree, text], ['new', newTree, text]]);
return run(held, () => core._velmor_diff(a[0], a[1], b[0], b[1]), false);
},
apply(root, patch) {
const [held, [a, b]] = marshal('apply()', [['root', root, text], ['patch', patch, text]]);
return run(held, () => core._velmor_apply(a[0], a[1], b[0], b[1]), false);
},
encodeFrame(payload, modelType, kind, rev, codec) {
const [held, [p, m, k, r, c]] = marshal('encodeFrame()', [
['payload', payload, text], ['modelType', modelType, text], ['kind', kind, text],
['rev', rev, revision], ['codec', codec, text],
]);
return run(held, () => core._velmor_encode_frame(p[0], p[1], m[0], m[1], k[0], k[1], r[0], r[1], c[0], c[1]), true);
},
decodeFrame(frame) {
const [held, [f]] = marshal('decodeFrame()', [['frame', frame, bytes]]);
return run(held, () => core._velmor_decode_frame(f[0], f[1]), false);
},
parseCem(manifest) {
const [held, [m]] = marshal('parseCem()', [['manifest', manifest, text]]);
return run(held, () => core._velmor_parse_cem(m[0], m[1]), false);
},
memoryStats() {
return { reserved: core.HEAPU8.buffer.byteLength, used: core._velmor_heap_used() };
},
});
}
function revision(fn, name, value) {
if (typeof value === 'bigint') {
if (value < 0n || value > U64_MAX) throw new RangeError(`${fn}: '${name}' must be from 0 to 2**64 - 1, not ${value}`);
return [Number(value & 0xffffffffn), Number(value >> 32n)];
}
if (typeof value === 'number') {
if (!Number.isInteger(value)) throw new TypeError(`${fn}: '${name}' must be an integer, not ${value}`);
if (value < 0 || value > Number.MAX_SAFE_INTEGER) {
throw new RangeError(`${fn}: '${name}' must be from 0 to Number.MAX_SAFE_INTEGER (or a BigInt), not ${value}`);
}
return [value % 2 ** 32, Math.floor(value / 2 ** 32)];
}
throw new TypeError(`${fn}: '${name}' must be a BigInt or a number, not ${kind(value)}`);
}
function kind(value) {
if (value === null) return 'null';
if (typeof value === 'object') return value.constructor?.name ?? 'object';
return typeof value;
}

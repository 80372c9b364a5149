// Writes a JavaScript module to stdout without its comments, indentation and blank lines:
//   node tools/strip_comments.cjs file.js
// client/src keeps the readable text; the built client/dist is what a page downloads. Line
// breaks stay where they were, so automatic semicolons fall as before, and the result must give
// the same tokens as the input (a line inside a template literal, whose spaces are its value,
// would not): otherwise this fails rather than write a changed program.
'use strict';
const acorn = require('acorn');
const fs = require('fs');

const options = { ecmaVersion: 'latest', sourceType: 'module' };
const source = fs.readFileSync(process.argv[2], 'utf8');
const comments = [];
acorn.parse(source, { ...options, onComment: (block, text, start, end) => comments.push([start, end]) });

let out = '';
let at = 0;
for (const [start, end] of comments) {
  out += source.slice(at, start);
  // A comment between two tokens on a line keeps them apart.
  if (!/\s$/.test(out) && !/^\s/.test(source.slice(end))) out += ' ';
  at = end;
}
out += source.slice(at);
out = out.split('\n').map((line) => line.trim()).filter((line) => line).join('\n') + '\n';

const tokens = (text) => Array.from(acorn.tokenizer(text, options),
  (t) => `${t.type.label}\u0000${t.value}`);
const before = tokens(source);
const after = tokens(out);
if (before.length !== after.length || before.some((t, i) => t !== after[i])) {
  process.stderr.write(`strip_comments: ${process.argv[2]} would change in more than comments and spacing\n`);
  process.exit(1);
}
process.stdout.write(out);

// The layouts the module hands JavaScript, as the module itself reports them (web_layouts) against
// their one description in web/shared/layouts.js: the same facts, every one, with the same values, so
// that a field moved, added or resized in C++ fails here before it is read wrongly in the page.
//
//   node --test web/test/layouts_test.mjs    (SMFDUMP_MODULE names the module, build-web/smfdump_web.js if not)
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import path from 'node:path';
import { test } from 'node:test';
import { layoutFacts } from '../shared/layouts.js';

const modulePath = path.resolve(process.env.SMFDUMP_MODULE ?? 'build-web/smfdump_web.js');

// The module's report (the text of web_layouts) as the same kind of Map.
function parseLayoutReport(text) {
  const facts = new Map();
  for (const line of text.split('\n')) {
    if (line === '') continue;
    const at = line.indexOf('=');
    facts.set(line.slice(0, at), Number(line.slice(at + 1)));
  }
  return facts;
}

test('every layout the module reports is described alike in the page\'s JavaScript', async () => {
  const M = await createRequire(import.meta.url)(modulePath)();
  const reported = parseLayoutReport(M.UTF8ToString(M._web_layouts() >>> 0));
  const described = layoutFacts();
  assert.ok(reported.size > 50, `the module reports only ${reported.size} facts`);
  const missing = [...reported.keys()].filter((k) => !described.has(k));
  const extra = [...described.keys()].filter((k) => !reported.has(k));
  assert.deepEqual({ missing, extra }, { missing: [], extra: [] }, 'facts the module reports that JavaScript lacks, and the other way round');
  for (const [key, value] of reported) assert.equal(described.get(key), value, key);
});

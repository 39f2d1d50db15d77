// The lint of the page's JavaScript (web/) and of its tests and benchmarks (run by .ci/lint): eslint's
// recommended rules with every name checked against the globals of the realm that runs the file, and
// no way to turn a rule off from inside a file. The audio side and the shared modules use no DOM and
// import no page code: the audio side runs in the audio thread and a worker, the shared modules in
// every realm.
import { createRequire } from 'node:module';

// eslint and what it reads its rules and globals from are the page's test tools, pinned in
// web/test/package-lock.json
const require = createRequire(new URL('./web/test/package.json', import.meta.url));
const js = require('@eslint/js');
const globals = require('globals');

const emscripten = { createSmfdump: 'readonly' };  // the module's factory, first in each worker's text
// the global scope of an audio worklet (AudioWorkletGlobalScope), which the globals package lacks
const audioWorklet = {
  AudioWorkletProcessor: 'readonly', registerProcessor: 'readonly', currentFrame: 'readonly', currentTime: 'readonly', sampleRate: 'readonly',
};
const pageCode = ['**/page/**', '**/listing_worker/**', '**/soundfont_worker/**', '**/wav_worker/**'];

export default [
  { ignores: ['**/node_modules/**', 'build*/**'] },
  js.configs.recommended,
  {
    linterOptions: { noInlineConfig: true, reportUnusedDisableDirectives: 'error' },
    languageOptions: { ecmaVersion: 2022, sourceType: 'module', globals: {} },
    rules: {
      'no-unused-vars': ['error', { args: 'none', caughtErrors: 'none' }],
    },
  },
  { files: ['web/page/**/*.js'], languageOptions: { globals: globals.browser } },
  { files: ['web/listing_worker/**/*.js', 'web/soundfont_worker/**/*.js'], languageOptions: { globals: { ...globals.worker, ...emscripten } } },
  {
    files: ['web/wav_worker/**/*.js'],
    languageOptions: { globals: globals.worker },
    rules: { 'no-restricted-imports': ['error', { patterns: [{ group: pageCode, message: 'the WAV worker uses no page code' }] }] },
  },
  {
    files: ['web/audio/**/*.js'],
    languageOptions: { globals: { ...audioWorklet, ...globals.worker } },
    rules: { 'no-restricted-imports': ['error', { patterns: [{ group: pageCode, message: 'the audio side uses no page code' }] }] },
  },
  {
    files: ['web/shared/**/*.js'],
    languageOptions: { globals: { performance: 'readonly' } },
    rules: { 'no-restricted-imports': ['error', { patterns: [{ group: [...pageCode, '**/audio/**'], message: 'shared modules use nothing of a realm' }] }] },
  },
  // tests and benchmarks run under Node, and hand functions to the browser (page.evaluate)
  { files: ['**/*.mjs'], languageOptions: { globals: { ...globals.node, ...globals.browser } } },
];

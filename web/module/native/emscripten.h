// A stand-in for Emscripten's <emscripten.h>, for compiling the page's C++ natively: the static
// analysis and the fuzz target build it with this folder on the include path. A function that
// EM_JS writes in JavaScript becomes a declaration of a C function of the same name, which the
// native program that links the page's C++ defines; the JavaScript body is dropped.
#pragma once

#define EM_JS(ret, name, params, ...) extern "C" ret name params
#define EMSCRIPTEN_KEEPALIVE __attribute__((used))

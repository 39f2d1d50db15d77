// The text a file holds, made into characters for the page to show. For now as UTF-8 (bytes that are
// not valid UTF-8 show as U+FFFD); choosing the file's own encoding comes later in this module.

// The characters of a text's bytes as the file holds them.
export function decodeFileText(bytes) {
  return new TextDecoder().decode(bytes);
}

// Calls listener() whenever the encoding in use may have changed; with UTF-8 always, it never does.
export function whenTextEncodingChanges(listener) {}

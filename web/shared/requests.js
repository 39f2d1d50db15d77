// Requests answered by id, between two realms joined by messages: each request gets the next id and a
// promise that the answer carrying that id settles.

// A table of requests awaiting their answers: next() gives a new id, wait(id) the promise of its
// answer, settle(id, value) and fail(id, error) end it (false when no request has that id), and
// failAll(error) ends every one still waiting.
export function makeRequests() {
  const waiting = new Map();
  let last = 0;
  return {
    next: () => {
      last += 1;
      return last;
    },
    last: () => last,
    wait: (id) => new Promise((resolve, reject) => waiting.set(id, { resolve, reject })),
    settle: (id, value) => {
      const entry = waiting.get(id);
      if (!entry) return false;
      waiting.delete(id);
      entry.resolve(value);
      return true;
    },
    fail: (id, error) => {
      const entry = waiting.get(id);
      if (!entry) return false;
      waiting.delete(id);
      entry.reject(error);
      return true;
    },
    failAll: (error) => {
      for (const [, entry] of waiting) entry.reject(error);
      waiting.clear();
    },
  };
}

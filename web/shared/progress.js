// How a worker tells the page how far a long task has come, a few times a second at most.

// A function taking the share done (0 to 1) that posts { type: 'progress', id, task, share } through
// post, at most every 50 ms.
export function progressReporter(post, id, task) {
  let last = 0;
  return (share) => {
    const now = performance.now();
    if (now - last < 50) return;
    last = now;
    post({ type: 'progress', id, task, share });
  };
}

// Wraps task (async, handling its own errors) so that a burst of calls runs it at most twice: the
// run under way, and one more for every call that came meanwhile.
export function coalesced(task) {
  let running = false;
  let again = false;
  const run = async () => {
    if (running) {
      again = true;
      return;
    }
    running = true;
    try {
      await task();
    } finally {
      running = false;
      if (again) {
        again = false;
        run();
      }
    }
  };
  return run;
}

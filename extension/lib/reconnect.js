// How long to wait before trying again: 1, 2, 4 ... and never more than a minute after failed
// tries in a row, each spread by up to a fifth more at random, so that two Firefox profiles that
// lost their host or their companion in the same moment do not try again in the same instant.
export const kFirstDelaySeconds = 1;
export const kLongestDelaySeconds = 60;
export const kSpread = 0.2;

export function reconnectDelaySeconds(failedTries) {
  const doublings = Math.min(Math.max(failedTries, 0), 6);
  return Math.min(kFirstDelaySeconds * 2 ** doublings, kLongestDelaySeconds);
}

// The delays of one thing that is tried again and again: growing with each failure, and back to
// the first once what was tried held for the longest delay.
export class Backoff {
  constructor({ now = Date.now, random = Math.random } = {}) {
    this.now = now;
    this.random = random;
    this.failedTries = 0;
  }

  nextDelayMs() {
    const seconds = reconnectDelaySeconds(this.failedTries++);
    return Math.round(seconds * 1000 * (1 + kSpread * this.random()));
  }

  // What was tried has held since then (null: it never held).
  heldSince(time) {
    if (time !== null && this.now() - time >= kLongestDelaySeconds * 1000) {
      this.failedTries = 0;
    }
  }
}

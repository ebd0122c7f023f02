// The trigger "Recover when memory in use reaches N %". It asks for a recovery when the machine's
// memory load is at or above the threshold, waits between such recoveries, and waits longer each
// time one did not help, so that a load that trimming cannot lower does not become a loop.

// Memory in use counts as relieved only this many points below the threshold: a load that hovers
// around the threshold is not relieved at each dip, and unloading goes on until it is below both.
export const kMarginPoints = 5;

const kFirstWaitMs = 5 * 60 * 1000;
const kLongestWaitMs = 60 * 60 * 1000;
// A recovery helped when it moved at least this much out of the browser's working set and no
// more than half of it came back within a minute.
const kHelpfulKiB = 16 * 1024;

export class PressureTrigger {
  // percent: the threshold of memory in use; now: the clock, in ms since the epoch.
  constructor(percent, now = Date.now) {
    this.percent = percent;
    this.now = now;
    this.waitMs = kFirstWaitMs;
    this.lastAskedAt = null;
    // Since when the load has stayed below the threshold by the margin; null while it has not.
    this.calmSince = null;
  }

  // Takes the memory load (percent) of a status; true when a recovery is to be asked for now,
  // which from then on counts as asked. A load that stays below the threshold by the margin for a
  // whole wait ends any back-off: one that hovers around the threshold does not.
  observeLoad(memoryLoad) {
    if (!Number.isFinite(memoryLoad)) {
      return false;
    }
    this.observeCalm(memoryLoad);
    if (memoryLoad < this.percent) {
      return false;
    }
    const nextAt = this.nextAllowedAt();
    const now = this.now();
    if (nextAt !== null && now < nextAt) {
      return false;
    }
    this.lastAskedAt = now;
    return true;
  }

  observeCalm(memoryLoad) {
    if (memoryLoad >= this.percent - kMarginPoints) {
      this.calmSince = null;
      return;
    }
    this.calmSince ??= this.now();
    if (this.now() - this.calmSince >= this.waitMs) {
      this.waitMs = kFirstWaitMs;
    }
  }

  // Takes what a recovery this trigger asked for did: the KiB it moved out of the browser's
  // working set and the KiB of those that came back within a minute. One whose figures cannot
  // tell (a gap in them, or an unload at the same moment) did not show that it helped.
  observeOutcome({ movedKiB, cameBackKiB }) {
    const helped = Number.isFinite(cameBackKiB) && movedKiB >= kHelpfulKiB &&
      cameBackKiB <= movedKiB / 2;
    this.waitMs = helped ? kFirstWaitMs : Math.min(this.waitMs * 2, kLongestWaitMs);
  }

  // The earliest time (ms since the epoch) the next recovery may come; null before the first,
  // which comes as soon as the load reaches the threshold.
  nextAllowedAt() {
    return this.lastAskedAt === null ? null : this.lastAskedAt + this.waitMs;
  }
}

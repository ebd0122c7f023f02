// What each recovery the extension knows of did to the browser's working set and to the memory
// committed on the machine, from the figures that came every 5 s: just before, just after, and a
// minute later. Trimming and unloading tabs are kept apart, for trimming frees nothing while
// unloading does.

// After its moment a recovery's effect shows in the figures of the next few seconds; what came
// back shows a minute later.
const kSettleMs = 15000;
export const kComebackMs = 60000;
const kCapacity = 50;

export class RecoveryLog {
  constructor(capacity = kCapacity) {
    this.capacity = capacity;
    this.entries = [];
    this.nextId = 1;
  }

  // A recovery at the time: kind is "tab", "periodic", "start", "now", "pressure" (a trim), or
  // "unload" with the number of tabs.
  add(entry) {
    this.entries.push({ ...entry, id: this.nextId++ });
    if (this.entries.length > this.capacity) {
      this.entries.shift();
    }
  }

  // A tab report asks for a trim after the tab delay; one is coming already while a report of the
  // delay before has not yet led to it, as the companion does not arm its timer twice.
  expectTrim(kind, now, delayMs) {
    const pending = this.entries.findLast((entry) => entry.kind !== "unload" && entry.expected);
    if (pending && pending.time > now) {
      return;
    }
    this.add({ kind, time: now + delayMs, expected: true });
  }

  // The companion's own comment tells a trim's true moment: it takes the place of one expected
  // near it.
  confirmTrim(kind, now) {
    const expected = this.entries.find((entry) =>
      entry.expected && Math.abs(entry.time - now) <= kSettleMs);
    if (expected) {
      Object.assign(expected, { time: now, expected: false, kind: expected.kind === "tab" ? kind
                                                                  : expected.kind });
    } else {
      this.add({ kind, time: now });
    }
  }

  // The recoveries of the last hour with what they did, as far as the samples (oldest first:
  // time, browserKiB, commitMiB) tell by the time now.
  outcomes(samples, now, spanMs) {
    return this.entries.filter((entry) => entry.time > now - spanMs && entry.time <= now)
      .map((entry) => ({ ...entry, ...effectOf(entry.time, samples, now) }));
  }
}

// before: the last figure at or before the moment; after: the lowest in the seconds after it;
// a minute later: the figure nearest that time, once it has come.
function effectOf(time, samples, now) {
  const before = samples.findLast((sample) => sample.time <= time);
  const after = samples.filter((sample) => sample.time > time && sample.time <= time + kSettleMs)
    .reduce((lowest, sample) => (!lowest || sample.browserKiB < lowest.browserKiB ? sample
                                                                                  : lowest), null);
  if (!before || !after || before.browserKiB === null || after.browserKiB === null) {
    return { known: false };
  }
  const movedKiB = Math.max(before.browserKiB - after.browserKiB, 0);
  const effect = { known: true, beforeKiB: before.browserKiB, afterKiB: after.browserKiB, movedKiB,
                   commitDeltaMiB: after.commitMiB - before.commitMiB };
  if (now < time + kComebackMs) {
    return effect;
  }
  const later = samples.filter((sample) => sample.time >= time + kComebackMs - 5000)[0];
  if (later && later.browserKiB !== null) {
    effect.laterKiB = later.browserKiB;
    effect.cameBackKiB = Math.min(Math.max(later.browserKiB - after.browserKiB, 0), movedKiB);
  }
  return effect;
}

// The last hour in one line's worth of numbers: trims and what they moved and what came back;
// unloads, the tabs and what the working set fell by.
export function hourSummary(outcomes) {
  const summary = { trims: 0, movedKiB: 0, cameBackKiB: 0, unloads: 0, tabs: 0, unloadedKiB: 0 };
  for (const outcome of outcomes) {
    if (outcome.kind === "unload") {
      summary.unloads++;
      summary.tabs += outcome.tabs;
      summary.unloadedKiB += outcome.known ? outcome.movedKiB : 0;
    } else if (!outcome.expected || outcome.known) {
      summary.trims++;
      summary.movedKiB += outcome.known ? outcome.movedKiB : 0;
      summary.cameBackKiB += outcome.cameBackKiB ?? 0;
    }
  }
  return summary;
}

// What each recovery the extension knows of did to the browser's memory, from the figures that
// came every 5 s: just before, just after, and a minute later. A trim moves pages out of the
// working set to Windows' standby or modified list, where they stay the browser's and come back
// on touch: it frees nothing. Only a drop in what the browser holds (its private bytes) or in the
// memory committed on the machine is memory freed, and only unloading tabs frees any.
import { parseMetrics } from "./metrics.js";

// After its moment a recovery's effect shows in the figures of the next few seconds; what came
// back shows a minute later, in a figure at most a sample period off that minute.
const kSettleMs = 15000;
export const kComebackMs = 60000;
const kComebackSlackMs = 5000;
const kCapacity = 50;
// The kinds whose outcome a trigger learns from; the others need no judging.
const kJudgedKinds = new Set(["pressure", "unload"]);

// Why the companion, though it runs, trims the browser for no tab report, Recover now or memory
// pressure: "off" while "Recover the browser's memory" is off, "waiting" until its recovery starts
// (during the start-up delay it writes no figures); null when it does trim, or does not run.
export function trimsHeld(status) {
  if (!status?.running) {
    return null;
  }
  if ((status.settings?.app_1 ?? 1) === 0) {
    return "off";
  }
  return parseMetrics(status.metrics) === null ? "waiting" : null;
}

// Whether the companion trims the browser for a recovery of this kind now. Its start trims the
// browser whatever the settings, and a periodic recovery of global mode trims every process,
// the browser's too, even while "Recover the browser's memory" is off.
export function companionTrims(status, kind) {
  const held = trimsHeld(status);
  return Boolean(status?.running) && (held === null || kind === "start" ||
    (held === "off" && kind === "periodic" && Boolean(status.settings.global)));
}

export class RecoveryLog {
  constructor(capacity = kCapacity) {
    this.capacity = capacity;
    this.entries = [];
    this.nextId = 1;
    // The recoveries of the judged kinds that have not yet been judged, oldest first.
    this.unjudged = [];
  }

  // A recovery at the time: kind is "tab", "periodic", "start", "now", "pressure" (a trim), or
  // "unload" with the number of tabs.
  add(entry) {
    const added = { ...entry, id: this.nextId++ };
    this.entries.push(added);
    if (this.entries.length > this.capacity) {
      this.entries.shift();
    }
    if (kJudgedKinds.has(added.kind)) {
      this.unjudged.push(added);
      if (this.unjudged.length > this.capacity) {
        this.unjudged.shift();
      }
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
  // time, browserKiB, privateKiB, commitMiB, afterGap) tell by the time now.
  outcomes(samples, now, spanMs) {
    return this.entries.filter((entry) => entry.time > now - spanMs && entry.time <= now)
      .map((entry) => this.outcomeOf(entry, samples, now));
  }

  // Gives judge, once each, the recoveries of the judged kinds whose minute after has passed,
  // with what they did; samplesSince(time) gives the samples after that time.
  judgeSettled(now, samplesSince, judge) {
    const settled = (entry) => now > entry.time + kComebackMs + kComebackSlackMs;
    const due = this.unjudged.filter(settled);
    if (due.length === 0) {
      return;
    }
    this.unjudged = this.unjudged.filter((entry) => !settled(entry));
    for (const entry of due) {
      judge(this.outcomeOf(entry, samplesSince(entry.time - kComebackMs), now));
    }
  }

  outcomeOf(entry, samples, now) {
    // A trim next to an unload: the figures show the unload's effect, not the trim's.
    const withUnload = entry.kind !== "unload" && this.entries.some((other) =>
      other.kind === "unload" && Math.abs(other.time - entry.time) <= kSettleMs);
    return withUnload ? { ...entry, known: false, withUnload }
      : { ...entry, ...effectOf(entry, this.settledBy(entry), samples, now) };
  }

  // A recovery's seconds after end where the next one's begin: turns of a pressure run come a
  // status apart, and each is to count only its own drop, not the ones after it too.
  settledBy(entry) {
    const later = this.entries.filter((other) => other.time > entry.time);
    return Math.min(entry.time + kSettleMs, ...later.map((other) => other.time));
  }
}

const lowestBy = (samples, figure) => samples.reduce((lowest, sample) =>
  (!lowest || sample[figure] < lowest[figure] ? sample : lowest), null);

// The drop in what the browser holds across an unload, by its private bytes; null where the host
// cannot read them (the memory committed on the machine then tells, all programs counted).
function freedKiB(before, settling) {
  if (before.privateKiB === null || settling.some((sample) => sample.privateKiB === null)) {
    return null;
  }
  return Math.max(before.privateKiB - lowestBy(settling, "privateKiB").privateKiB, 0);
}

// before: the last figure at or before the moment; after: the lowest in the seconds after it
// until settledBy, with no gap in the figures between; a minute later: the first figure near that minute, with no
// gap since, once it has come (cameBackKiB null when none will).
function effectOf({ time, kind }, settledBy, samples, now) {
  const before = samples.findLast((sample) => sample.time <= time);
  const settling = samples.filter((sample) => sample.time > time && sample.time <= settledBy);
  const after = lowestBy(settling, "browserKiB");
  if (!before || !after || settling.some((sample) => sample.afterGap) ||
      before.browserKiB === null || after.browserKiB === null) {
    return { known: false };
  }
  const movedKiB = Math.max(before.browserKiB - after.browserKiB, 0);
  const effect = { known: true, beforeKiB: before.browserKiB, afterKiB: after.browserKiB, movedKiB,
                   commitDeltaMiB: after.commitMiB - before.commitMiB };
  if (kind === "unload") {
    effect.freedKiB = freedKiB(before, settling);
  }
  if (now < time + kComebackMs) {
    return effect;
  }
  const later = samples.find((sample) => sample.time >= time + kComebackMs - kComebackSlackMs);
  const unbroken = later && later.time <= time + kComebackMs + kComebackSlackMs &&
    !samples.some((sample) => sample.time > after.time && sample.time <= later.time &&
                  sample.afterGap);
  if (unbroken && later.browserKiB !== null) {
    effect.laterKiB = later.browserKiB;
    effect.cameBackKiB = Math.min(Math.max(later.browserKiB - after.browserKiB, 0), movedKiB);
  } else if (now > time + kComebackMs + kComebackSlackMs) {
    effect.cameBackKiB = null;
  }
  return effect;
}

// The last hour in one line's worth of numbers: the trims whose minute after is known, what they
// moved and what of it came back (a trim not yet judged, or whose figures do not tell, would
// count as nothing coming back; unmeasured counts those); unloads, the tabs and what they freed.
export function hourSummary(outcomes) {
  const summary = { trims: 0, movedKiB: 0, cameBackKiB: 0, unmeasured: 0, unloads: 0, tabs: 0,
                    freedKiB: 0 };
  for (const outcome of outcomes) {
    if (outcome.kind === "unload") {
      summary.unloads++;
      summary.tabs += outcome.tabs;
      summary.freedKiB += outcome.freedKiB ?? 0;
    } else if (typeof outcome.cameBackKiB === "number") {
      summary.trims++;
      summary.movedKiB += outcome.movedKiB;
      summary.cameBackKiB += outcome.cameBackKiB;
    } else if (!outcome.expected || outcome.known) {
      summary.unmeasured++;
    }
  }
  return summary;
}

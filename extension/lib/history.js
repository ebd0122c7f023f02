// The companion's memory figures of the last hour, for the popup's chart: one sample for each new
// metrics text (the companion writes one every 5 s while it runs), a break wherever it did not
// run, and the moments of recovery the extension knows of. Memory stays bounded: both are rings.
import { parseMetrics } from "./metrics.js";

export const kSamplePeriodMs = 5000;
export const kHourMs = 60 * 60 * 1000;
export const kCapacity = kHourMs / kSamplePeriodMs;
// Samples further apart than this many periods were not written one after the other: the machine
// slept, or the figures did not reach the extension. The line is not drawn across such a span.
const kLongestStepMs = 6 * kSamplePeriodMs;

// The head of each comment the companion writes, and the moment it stands for.
const kCommentKinds = [
  ["Starting Lumbrel's Memory Recovery", "start"],
  ["Memory Recovery For Periodic Wait Has Been Checked", "periodic"],
  ["Memory Recovery Between A Tab Selection", "tab"],
  ["Stopped Lumbrel's Memory Recovery", "stop"],
];

// The moment a comment of the companion stands for: "start", "periodic", "tab" or "stop"; none
// for another text.
export const commentKind = (comment) =>
  kCommentKinds.find(([head]) => comment.startsWith(head))?.[1];

// The latest items up to a fixed number, oldest first.
class Ring {
  constructor(capacity) {
    this.slots = new Array(capacity);
    this.first = 0;
    this.length = 0;
  }

  push(item) {
    const capacity = this.slots.length;
    this.slots[(this.first + this.length) % capacity] = item;
    if (this.length < capacity) {
      this.length++;
    } else {
      this.first = (this.first + 1) % capacity;
    }
  }

  last() {
    return this.length === 0 ? null : this.at(this.length - 1);
  }

  at(index) {
    return this.slots[(this.first + index) % this.slots.length];
  }

  toArray() {
    return Array.from({ length: this.length }, (_, i) => this.at(i));
  }
}

// What the browser's processes hold (their private bytes) and what of it is in RAM (their working
// sets), and the plug-in hosts' working set, as the host sums them; null where a figure cannot be
// read. The companion's figures name one process of each, and stand in for the working sets only
// where the host gave no totals; they tell nothing of private bytes.
export function browserFigures(status, figures) {
  const totals = status?.totals;
  if (!totals) {
    return { browserKiB: figures.browserKiB, privateKiB: null, pluginHostKiB: figures.pluginHostKiB };
  }
  return { browserKiB: totals.browser?.workingSetKiB ?? null,
           privateKiB: totals.browser?.privateKiB ?? null,
           pluginHostKiB: totals.pluginHost?.workingSetKiB ?? null };
}

export class MemoryHistory {
  // capacity: samples kept, an hour's worth by default; as many marks, which is more than an hour
  // of anything but a user flicking through tabs holds.
  constructor(capacity = kCapacity) {
    this.samples = new Ring(capacity);
    this.marks = new Ring(capacity);
    this.lastText = null;
    // Set while the companion is not running: the next sample begins a new line.
    this.broken = true;
  }

  // Each status the host gives, taken at the time now. The host tells a state only when something
  // in it changed, so a metrics text equal to the last one is the same sample seen again.
  observe(status, now) {
    const text = status?.running ? status.metrics : null;
    const figures = parseMetrics(text);
    if (!figures) {
      this.broken = true;
      return;
    }
    if (text === this.lastText) {
      return;
    }
    this.lastText = text;
    const previous = this.samples.last();
    const joined = !this.broken && now - previous.time <= kLongestStepMs;
    this.broken = false;
    this.samples.push({
      time: now,
      ...browserFigures(status, figures),
      memoryLoad: figures.memoryLoad,
      commitMiB: figures.pagingFile - figures.freePagingFile,
      afterGap: !joined,
    });
  }

  // A tab selection reported to the companion.
  markSelection(now) {
    this.marks.push({ time: now, kind: "selection" });
  }

  // Idle tabs unloaded: kept apart from the trims, for it frees memory.
  markUnload(now) {
    this.marks.push({ time: now, kind: "unload" });
  }

  // A new comment of the companion: the moment its head names.
  markComment(comment, now) {
    const kind = commentKind(comment);
    if (kind) {
      this.marks.push({ time: now, kind });
    }
  }

  // The samples taken after the time, oldest first; read from the newest back, so that a look at
  // the last minute costs a minute's worth.
  since(time) {
    const found = [];
    for (let index = this.samples.length - 1; index >= 0 && this.samples.at(index).time > time;
      index--) {
      found.push(this.samples.at(index));
    }
    return found.reverse();
  }

  // What the last hour holds, oldest first.
  recent(now) {
    const inHour = (item) => item.time > now - kHourMs;
    return { samples: this.samples.toArray().filter(inHour),
             marks: this.marks.toArray().filter(inHour) };
  }
}

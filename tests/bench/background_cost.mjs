// What the background page does for each status and each tab switch, with an hour of figures
// kept: with no page of the extension open (only the toolbar button is looked at) and with the
// popup open (the whole state built and sent); and the judging of the recoveries for the memory
// triggers, as it was (every recovery of the hour judged again at each status) and as it is (only
// the recoveries whose minute has just passed, and only while a trigger is on). "Before" rows are
// the earlier code's work, done with the same modules. Prints microseconds per call as markdown.
//   node tests/bench/background_cost.mjs [runs]
import "../extension/browser_i18n.js";
import { performance } from "node:perf_hooks";
import { kCapacity, kHourMs, MemoryHistory } from "../../extension/lib/history.js";
import { kComebackMs, hourSummary, RecoveryLog } from "../../extension/lib/recoveries.js";
import { describe } from "../../extension/lib/view.js";

const runs = Number(process.argv[2] ?? 2000);
const metrics = (kib) => `Browser WorkingSetSize = ${kib}K\n\nMemory in usage:      61%\n` +
  "Physical memory:   16384M\nFree physical memory:    6144M\nPaging file:   24576M\n" +
  "Free paging file:   12288M\nVirtual memory: 134217727M\nFree virtual memory: 134217000M";
const totals = { browser: { name: "firefox.exe", processes: 9, privateKiB: 0, workingSetKiB: 0,
                            privateWorkingSet: true }, pluginHost: null };

// An hour of figures and tab selections, a trim every minute and, every other minute, one asked
// for by memory pressure.
const history = new MemoryHistory();
const recoveries = new RecoveryLog();
const start = Date.now() - kCapacity * 5000;
let status;
for (let i = 0; i < kCapacity; i++) {
  const kib = 900000 + (i % 97) * 1000;
  status = { running: true, pid: 1, settings: {}, comment: null, metrics: metrics(kib),
             totals: { ...totals, browser: { ...totals.browser, privateKiB: 2 * kib,
                                             workingSetKiB: kib } } };
  history.observe(status, start + i * 5000);
  history.markSelection(start + i * 5000);
  if (i % 12 === 0) {
    recoveries.add({ kind: i % 24 === 0 ? "pressure" : "tab", time: start + i * 5000 });
  }
}
const host = { state: "connected", status };

function wholeState() {
  const now = Date.now();
  const recent = history.recent(now);
  const outcomes = recoveries.outcomes(recent.samples, now, kHourMs);
  return JSON.stringify({ host, history: recent,
                          memory: { recoveries: outcomes.slice(-5), summary: hourSummary(outcomes) } });
}

function buttonOnly() {
  const shown = describe(host);
  return JSON.stringify([shown.badge, shown.color, shown.title]);
}

// As before: every recovery of the hour judged from a copy of the hour's figures, at each status.
const judgedBefore = new Set();
function judgeAsBefore() {
  const now = Date.now();
  for (const outcome of recoveries.outcomes(history.recent(now).samples, now, kHourMs)) {
    if (outcome.kind === "pressure" && outcome.cameBackKiB !== undefined &&
        !judgedBefore.has(outcome.id)) {
      judgedBefore.add(outcome.id);
    }
  }
}

const judgeNow = () => recoveries.judgeSettled(Date.now(), (time) => history.since(time), () => {});
// The status at which a recovery's minute has passed: that one is judged from its own figures.
function judgeOneDue() {
  recoveries.add({ kind: "pressure", time: Date.now() - kComebackMs - 10000 });
  judgeNow();
}

function microseconds(work) {
  for (let i = 0; i < Math.min(runs, 200); i++) work();
  const begun = performance.now();
  for (let i = 0; i < runs; i++) work();
  return ((performance.now() - begun) * 1000 / runs).toFixed(1);
}

const kib = (wholeState().length / 1024).toFixed(0);
console.log("| Each status and tab switch | With no page open | With a page open |");
console.log("|---|---|---|");
console.log(`| before | ${microseconds(() => buttonOnly() + wholeState())} µs, ${kib} KiB of ` +
            "JSON | the same |");
console.log(`| now | ${microseconds(buttonOnly)} µs, no JSON | ` +
            `${microseconds(() => buttonOnly() + wholeState())} µs, ${kib} KiB of JSON |`);
console.log();
judgeNow();
console.log("| Judging the recoveries, each status | No memory trigger on | A trigger on |");
console.log("|---|---|---|");
const before = microseconds(judgeAsBefore);
console.log(`| before | ${before} µs | ${before} µs |`);
console.log(`| now | not run | ${microseconds(judgeNow)} µs; ${microseconds(judgeOneDue)} µs at ` +
            "the status that judges a recovery |");

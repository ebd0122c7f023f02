// What the background page does for each status and each tab switch, with an hour of figures
// kept: with no page of the extension open (only the toolbar button is looked at) and with the
// popup open (the whole state built and sent). Before, the whole state was built and stringified
// in both cases. Prints microseconds per call as markdown rows.
import { performance } from "node:perf_hooks";
import { kCapacity, MemoryHistory } from "../../extension/lib/history.js";
import { hourSummary, RecoveryLog } from "../../extension/lib/recoveries.js";
import { describe } from "../../extension/lib/view.js";

const metrics = (kib) => `Browser WorkingSetSize = ${kib}K\n\nMemory in usage:      61%\n` +
  "Physical memory:   16384M\nFree physical memory:    6144M\nPaging file:   24576M\n" +
  "Free paging file:   12288M\nVirtual memory: 134217727M\nFree virtual memory: 134217000M";
const totals = { browser: { name: "firefox.exe", processes: 9, workingSetKiB: 0 }, pluginHost: null };

const history = new MemoryHistory();
const recoveries = new RecoveryLog();
const start = Date.now() - kCapacity * 5000;
let status;
for (let i = 0; i < kCapacity; i++) {
  const kib = 900000 + (i % 97) * 1000;
  status = { running: true, pid: 1, settings: {}, comment: null, metrics: metrics(kib),
             totals: { ...totals, browser: { ...totals.browser, workingSetKiB: kib } } };
  history.observe(status, start + i * 5000);
  history.markSelection(start + i * 5000);
  if (i % 12 === 0) {
    recoveries.add({ kind: "tab", time: start + i * 5000 });
  }
}
const host = { state: "connected", status };

function wholeState() {
  const now = Date.now();
  const recent = history.recent(now);
  const outcomes = recoveries.outcomes(recent.samples, now, 3600000);
  return JSON.stringify({ host, history: recent,
                          memory: { recoveries: outcomes.slice(-5), summary: hourSummary(outcomes) } });
}

function buttonOnly() {
  const shown = describe(host);
  return JSON.stringify([shown.badge, shown.color, shown.title]);
}

function microseconds(work, runs = 2000) {
  for (let i = 0; i < 200; i++) work();
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

// The extension's own logic where it branches: the figures, the options' checks, the reconnect
// delays, the port to the host against a stand-in, the hour of memory figures and the chart.
import "./browser_i18n.js";
import assert from "node:assert/strict";
import { test } from "node:test";
import { metricsRows, parseMetrics } from "../../extension/lib/metrics.js";
import { Backoff, reconnectDelaySeconds } from "../../extension/lib/reconnect.js";
import {
  blacklistNames, blacklistText, changedValues, defaultValues, programNameError, validate,
} from "../../extension/lib/settings.js";
import { coalesced } from "../../extension/lib/coalesce.js";
import { HostConnection, kAnswerTimeoutMs } from "../../extension/lib/host.js";
import { CompanionLife, kExitMetrics } from "../../extension/lib/companion.js";
import {
  chartModel, chartSummary, nearestPoint, pointByKey, sampleLine, summaryLine, timeAxis,
  workingSetAxis,
} from "../../extension/lib/chart.js";
import { kHourMs, MemoryHistory } from "../../extension/lib/history.js";
import { companionTrims, hourSummary, RecoveryLog, trimsHeld } from
  "../../extension/lib/recoveries.js";
import { commentToNotify, describe } from "../../extension/lib/view.js";

const kMemory = "\nMemory in usage:      45%\nPhysical memory:    8192M\nFree physical memory:    1024M" +
  "\nPaging file:   12288M\nFree paging file:    4096M\nVirtual memory: 134217727M" +
  "\nFree virtual memory: 134217000M";

test("the figures are read out of the metrics text of each layout", () => {
  const firefox = parseMetrics(
    `Browser WorkingSetSize = 123456K \nPlugin-Container WorkingSetSize = 2048K\n${kMemory}`);
  assert.deepEqual(firefox, {
    browserKiB: 123456, pluginHostKiB: 2048, memoryLoad: 45, physical: 8192, freePhysical: 1024,
    pagingFile: 12288, freePagingFile: 4096, virtual: 134217727, freeVirtual: 134217000,
  });
  assert.equal(parseMetrics(`WorkingSetSize = 77K\n${kMemory}`).browserKiB, 77);
  const none = parseMetrics(`\n${kMemory}`);
  assert.equal(none.browserKiB, null);
  assert.deepEqual(metricsRows(none), [
    ["Browser working set", "not running"], ["Plug-in host working set", "not running"],
    ["Memory in use (whole machine)", "45 %"], ["Physical memory", "1.0 GiB free of 8.0 GiB"],
    ["Committed memory", "8.0 GiB of 12.0 GiB limit"],
  ]);
  const totals = { browser: { name: "firefox.exe", processes: 7, workingSetKiB: 1536 * 1024 },
                   pluginHost: null };
  assert.deepEqual(metricsRows(none, totals).slice(0, 2), [
    ["Firefox's working set (7 processes)", "1.5 GiB"], ["Plug-in host working set", "not running"],
  ]);
  assert.equal(parseMetrics("Activate Lumbrel To See Current WorkingSetSize"), null);
  assert.equal(parseMetrics(null), null);
});

test("the options are checked before anything is sent", () => {
  const form = { ...defaultValues(), app_1: true, global: false, blacklist: [] };
  assert.deepEqual(validate({ ...form, startupDelay: " 15 " }).values, {
    ...defaultValues(), startupDelay: 15,
  });
  for (const [name, given] of [["primaryTimeout", "0"], ["tabDelay", "1441"],
                               ["startupDelay", "-1"], ["startupDelay", "1.5"],
                               ["primaryTimeout", ""], ["tabDelay", "ten"]]) {
    const checked = validate({ ...form, [name]: given });
    assert.deepEqual(Object.keys(checked.errors), [name], `${name} = ${given}`);
    assert.equal(checked.values, undefined);
  }
  assert.deepEqual(blacklistNames("none"), []);
  assert.deepEqual(blacklistNames("a.exe; B.EXE;;"), ["a.exe", "B.EXE"]);
  assert.equal(blacklistText([]), "none");
  assert.equal(validate({ ...form, blacklist: ["a.exe", "b.exe"] }).values.blacklist,
               "a.exe;b.exe");
  for (const bad of ["", "c:\\a.exe", "a;b.exe", "NONE", "A.EXE", "notepad", "x.".repeat(130)]) {
    assert.notEqual(programNameError(bad, ["a.exe"]), null, bad);
  }
  assert.equal(programNameError("notepad.exe", ["a.exe"]), null);
  assert.deepEqual(Object.keys(validate({ ...form, blacklist: ["a.exe", "notepad"] }).errors),
                   ["blacklist"], "names read from the key are checked before they go back");
  assert.deepEqual(changedValues({ app_1: 1, global: 1, blacklist: "none" },
                                 { app_1: 1, global: 0 }), { global: 1, blacklist: "none" });
});

test("a burst of calls runs the task once more after the run under way, not once per call",
     async () => {
  let runs = 0;
  let finish;
  const run = coalesced(() => {
    runs += 1;
    return new Promise((resolve) => { finish = resolve; });
  });
  run();
  run();
  run();
  run();
  assert.equal(runs, 1);
  finish();
  await settle();
  assert.equal(runs, 2);
  finish();
  await settle();
  assert.equal(runs, 2);
});

test("a notification comes for each new comment while comments are on, never for the old one",
     () => {
  const on = { activateKVDisplayEvents: 1 };
  const status = (comment, settings = on) => ({ running: true, comment, settings });
  assert.equal(commentToNotify(status("b"), status("a")), "b");
  assert.equal(commentToNotify(status("b", { activateVisualAcc: 1 }), status("a")), "b");
  assert.equal(commentToNotify(status("a"), status("a")), null);
  assert.equal(commentToNotify(status("b"), null), null);
  assert.equal(commentToNotify(status(null), status("a")), null);
  assert.equal(commentToNotify(status("b", { activateKVDisplayEvents: 0 }), status("a")), null);
});

test("reconnecting waits longer after each failure, at most a minute", () => {
  assert.deepEqual([0, 1, 2, 3, 4, 5, 6, 7, 50].map(reconnectDelaySeconds),
                   [1, 2, 4, 8, 16, 32, 60, 60, 60]);
  const spread = new Backoff({ random: () => 0.999 });
  assert.deepEqual([spread.nextDelayMs(), spread.nextDelayMs()], [1200, 2400]);
});

// A stand-in for runtime.connectNative's port.
function standInPort() {
  const listeners = { message: [], disconnect: [] };
  return {
    sent: [],
    error: null,
    onMessage: { addListener: (listener) => listeners.message.push(listener) },
    onDisconnect: { addListener: (listener) => listeners.disconnect.push(listener) },
    postMessage(message) { this.sent.push(message); },
    disconnect() { this.disconnected = true; },
    reply(fields) {
      const request = this.sent.find((message) => message.id !== undefined && !message.answered);
      request.answered = true;
      for (const listener of listeners.message) listener({ id: request.id, ok: true, ...fields });
      return request;
    },
    push(message) { for (const listener of listeners.message) listener(message); },
    close(error) {
      this.error = error ? { message: error } : null;
      for (const listener of listeners.disconnect) listener(this);
    },
  };
}

function connection({ onClosing, onHello } = {}) {
  const ports = [];
  const timers = [];
  const statuses = [];
  const clock = { ms: 1000 };
  const host = new HostConnection({
    connect: () => { ports.push(standInPort()); return ports.at(-1); },
    setTimer: (run, ms) => timers.push({ run, ms }) - 1,
    clearTimer: (index) => { timers[index].cleared = true; },
    onChange: () => {},
    onStatus: (status, previous) => statuses.push({ status, previous }),
    onClosing,
    onHello,
    now: () => clock.ms,
    random: () => 0,
  });
  host.open();
  const reconnects = () => timers.filter((timer) => timer.ms !== kAnswerTimeoutMs);
  return { host, ports, timers, reconnects, statuses, clock };
}

const settle = () => new Promise((resolve) => setImmediate(resolve));

// Answers hello and status as a host beside a running companion would.
async function greet(port, status = {}) {
  port.reply({ version: "1.0.0.1", running: true });
  await settle();
  port.reply({ running: true, pid: 9, settings: {}, comment: null, ...status });
  await settle();
}

test("a connection greets the host, then takes its status, and never starts the companion",
     async () => {
  const { host, ports, statuses } = connection();
  const port = ports[0];
  assert.equal(port.reply({ version: "1.0.0.1", running: false }).cmd, "hello");
  await settle();
  assert.equal(host.state, "connecting", "connected only once the status is known");
  assert.equal(port.reply({ running: true, pid: 9, settings: {}, comment: null }).cmd, "status");
  await settle();
  assert.equal(host.state, "connected");
  assert.equal(statuses.at(-1).status.pid, 9);
  port.push({ event: "status", running: true, pid: 9, settings: {}, comment: "c", metrics: null });
  assert.equal(host.status.comment, "c");
  assert.equal(statuses.at(-1).previous.comment, null);
});

test("the host's refusals reach the caller", async () => {
  const { host, ports } = connection();
  const port = ports[0];
  port.reply({ version: "1.0.0.1", running: false });
  await settle();
  port.reply({ running: false, settings: {} });
  await settle();
  assert.equal(host.state, "connected");
  const asked = host.request("tab");
  const tab = port.sent.at(-1);
  port.push({ id: tab.id, ok: false, error: "QELM is not running" });
  await assert.rejects(asked, /QELM is not running/);
});

test("a new connection leaves the companion's start to whoever decides it", async () => {
  const { ports } = connection();
  ports[0].reply({ version: "1.0.0.1", running: false });
  await settle();
  assert.equal(ports[0].reply({ running: false, settings: {} }).cmd, "status");
});

test("a request the host never answers fails once its time is up", async () => {
  const { host, ports, timers } = connection();
  await greet(ports[0]);
  const waiting = host.request("tab");
  timers.filter((each) => each.ms === kAnswerTimeoutMs).at(-1).run();
  await assert.rejects(waiting, /did not answer "tab" within 20 s/);
  assert.ok(timers[0].cleared, "an answered request leaves no timer behind");
});

test("a host that does not finish its greeting is given up and tried again", async () => {
  const { host, ports, reconnects } = connection();
  ports[0].reply({ version: "1.0.0.1", running: false });
  await settle();
  const status = ports[0].sent.at(-1);
  ports[0].push({ id: status.id, ok: false, error: "the key cannot be read" });
  await settle();
  assert.ok(ports[0].disconnected);
  assert.equal(host.state, "lost");
  assert.equal(host.error, "the key cannot be read");
  assert.equal(reconnects().length, 1);
});

test("a closed port fails what waits, says why, and connects again later and later", async () => {
  const { host, ports, reconnects, clock } = connection();
  const waiting = host.request("status");
  ports[0].close("No such native application qelm");
  await assert.rejects(waiting, /not installed/);
  assert.equal(host.state, "missing");
  assert.equal(host.retryAt, 2000);
  await assert.rejects(host.request("tab"), /not connected/);
  reconnects()[0].run();
  ports[1].close("An unexpected error occurred");
  assert.equal(host.state, "lost");
  assert.equal(host.error, "An unexpected error occurred");
  assert.deepEqual(reconnects().map((timer) => timer.ms), [1000, 2000]);
  assert.equal(describe(host).badge, "!");
  reconnects()[1].run();
  await greet(ports[2]);
  ports[2].close(null);
  assert.equal(reconnects().at(-1).ms, 4000, "a host that dies after its greeting is no better");
  reconnects().at(-1).run();
  await greet(ports[3]);
  clock.ms += 60000;
  ports[3].close(null);
  assert.equal(reconnects().at(-1).ms, 1000, "a connection that held a minute starts over");
});

// A companion whose starts succeed or fail as the test says, on a clock the test moves.
function life() {
  const timers = [];
  const clock = { ms: 0 };
  const starts = { count: 0, fail: false };
  const kept = new CompanionLife({
    start: async () => {
      starts.count++;
      if (starts.fail) throw new Error("QELM ended at once");
      return {};
    },
    stop: async () => ({}),
    setTimer: (run, ms) => timers.push({ run, ms }) - 1,
    clearTimer: (index) => { timers[index].cleared = true; },
    onChange: () => {},
    now: () => clock.ms,
    random: () => 0,
  });
  // Runs the pending start and answers its delay in seconds.
  const fire = async () => {
    const timer = timers.findLast((t) => !t.cleared && !t.fired);
    timer.fired = true;
    clock.ms += timer.ms;
    await timer.run();
    return timer.ms / 1000;
  };
  const pending = () => timers.filter((t) => !t.cleared && !t.fired).length;
  return { kept, timers, clock, starts, fire, pending };
}

const killed = { running: false, metrics: null };
const exited = { running: false, metrics: kExitMetrics };

test("a companion that ends unasked is started again, later after each failed try, and never " +
     "after the user's Stop or once the connection is lost", async () => {
  const { kept, clock, starts, fire, pending } = life();
  kept.status({ running: true });
  clock.ms = 5000;
  kept.status(killed);
  assert.equal(kept.endedAt, 5000);
  starts.fail = true;
  const delays = [];
  for (let i = 0; i < 8; i++) delays.push(await fire());
  assert.deepEqual(delays, [1, 2, 4, 8, 16, 32, 60, 60]);
  assert.equal(starts.count, 8);
  // Statuses that say the same while a try is pending add no second one.
  kept.status(killed);
  assert.equal(pending(), 1);

  starts.fail = false;
  await fire();
  kept.status({ running: true });
  assert.equal(kept.shown.state === "running" && kept.endedAt, 5000);
  assert.equal(pending(), 0);
  // Killed again soon after: the delay keeps growing; after a minute of running it starts over.
  clock.ms += 10000;
  kept.status(killed);
  assert.equal(await fire(), 60);
  kept.status({ running: true });
  clock.ms += 60000;
  kept.status(killed);
  assert.equal(await fire(), 1);

  kept.status({ running: true });
  await kept.userStop();
  kept.status(killed);
  assert.equal(pending(), 0);
  assert.equal(kept.endedAt, null);
  const startsBefore = starts.count;
  starts.fail = true;
  await kept.userStart().catch(() => {});
  await settle();
  assert.equal(pending(), 1);
  kept.portClosed();
  assert.equal(pending(), 0);
  assert.equal(starts.count, startsBefore + 1);
});

test("a companion that ended as asked elsewhere stays stopped, across new connections, until " +
     "someone starts it", () => {
  const { kept, clock, pending, starts } = life();
  kept.status({ running: true });
  clock.ms = 7000;
  kept.status(exited);
  assert.deepEqual(kept.shown, { state: "stoppedElsewhere", at: 7000, endedAt: null,
                                 restartAt: null });
  kept.portClosed();
  kept.status(exited);
  assert.equal(pending(), 0);
  assert.equal(starts.count, 0);
  kept.status({ running: true });
  assert.equal(kept.state, "running", "started by another profile, it is kept running again");
  // Ended as asked while the port was away: still a deliberate end.
  kept.portClosed();
  kept.status(exited);
  assert.equal(kept.state, "stoppedElsewhere");
  // A browser that starts anew knows no run: the key's exit status is of one before it.
  const fresh = life();
  fresh.kept.status(exited);
  assert.equal(fresh.starts.count, 1);
});

test("a start under way is not doubled by a status that comes before it is done, and what is " +
     "armed goes once the companion runs", async () => {
  const { kept, timers, starts, pending } = life();
  let finishStart;
  kept.sendStart = () => {
    starts.count++;
    return new Promise((resolve) => { finishStart = resolve; });
  };
  kept.status({ running: true });
  kept.status(killed);
  timers[0].fired = true;
  timers[0].run();
  kept.status(killed);
  assert.equal(pending(), 0);
  finishStart({ running: true });
  await settle();
  kept.status({ running: true, pid: 2 });
  assert.equal(starts.count, 1);
  kept.status(killed);
  assert.equal(pending(), 1);
  kept.status({ running: true, pid: 3 });
  assert.equal(pending(), 0, "no start is left armed once it runs again");
  assert.equal(starts.count, 1);
});

test("the installer's closing: no new start from files being removed, the new install found " +
     "within seconds, and then told", async () => {
  let closings = 0;
  const hellos = [];
  const { host, ports, reconnects, clock } = connection({
    onClosing: () => closings++, onHello: (installed) => hellos.push(installed),
  });
  ports[0].reply({ version: "1.0.0.1", running: false, installed: "1.0.1" });
  await settle();
  ports[0].push({ event: "closing", reason: "installer" });
  ports[0].close(null);
  assert.equal(closings, 1);
  assert.equal(host.state, "replacing");
  assert.equal(host.error, null);
  assert.equal(reconnects().at(-1).ms, 5000);
  // The old install still answers: let go at once, and look again a little later.
  clock.ms += 5000;
  reconnects().at(-1).run();
  ports[1].reply({ version: "1.0.0.1", running: false, installed: "1.0.1" });
  await settle();
  assert.ok(ports[1].disconnected);
  assert.equal(ports[1].sent.length, 1, "only hello went to it");
  assert.equal(reconnects().at(-1).ms, 2000);
  reconnects().at(-1).run();
  ports[2].close("No such native application qelm");
  assert.equal(host.state, "missing");
  reconnects().at(-1).run();
  ports[3].reply({ version: "1.0.0.1", running: false, installed: "1.0.2" });
  await settle();
  assert.deepEqual(hellos, ["1.0.1", "1.0.2"]);
  assert.equal(ports[3].sent.at(-1).cmd, "status");
});

// A status of a running companion whose metrics text carries these working sets (KiB).
const running = (browserKiB, pluginHostKiB = null, load = 45) => ({
  running: true,
  metrics: `Browser WorkingSetSize = ${browserKiB}K` +
    (pluginHostKiB === null ? "" : ` \nPlugin-Container WorkingSetSize = ${pluginHostKiB}K`) +
    `\n${kMemory.replace("45%", `${load}%`)}`,
});

test("the history keeps the latest samples in a ring, breaks where the companion did not run, " +
     "and marks the recoveries", () => {
  const history = new MemoryHistory(4);
  history.observe(running(1000), 0);
  history.observe(running(1000), 3000);
  history.observe(running(2000), 5000);
  history.observe({ running: false, metrics: running(2000).metrics }, 8000);
  history.observe(running(3000), 15000);
  history.observe(running(4000), 20000);
  // Asleep: no figure for a minute, though the companion never said it had stopped.
  history.observe(running(5000), 80000);
  history.observe(running(6000, 512, 60), 85000);
  assert.deepEqual(history.recent(85000).samples.map((s) => [s.time, s.browserKiB, s.afterGap]),
                   [[15000, 3000, true], [20000, 4000, false], [80000, 5000, true],
                    [85000, 6000, false]]);
  assert.deepEqual(history.recent(85000).samples.at(-1),
                   { time: 85000, browserKiB: 6000, privateKiB: null, pluginHostKiB: 512,
                     memoryLoad: 60, commitMiB: 8192, afterGap: false });
  // The host's totals of all the browser's processes go before the companion's one process.
  history.observe({ ...running(7000, 512), totals: { browser: { workingSetKiB: 9000,
    privateKiB: 12000 }, pluginHost: null } }, 90000);
  assert.deepEqual([history.recent(90000).samples.at(-1)].map((s) => [s.browserKiB, s.privateKiB,
                                                                       s.pluginHostKiB]),
                   [[9000, 12000, null]]);
  assert.deepEqual(history.since(80000).map((s) => s.time), [85000, 90000]);
  assert.equal(history.recent(15000 + kHourMs).samples.length, 4, "an hour later");

  history.markSelection(1000);
  history.markComment("Memory Recovery Between A Tab Selection\nBrowser WorkingSetSize = 1K\n",
                      7000);
  history.markComment("Memory Recovery For Periodic Wait Has Been CheckedBrowser " +
                      "WorkingSetSize = 1K", 9000);
  history.markComment("Starting Lumbrel's Memory Recovery", 10000);
  history.markComment("something else", 11000);
  history.markComment("Stopped Lumbrel's Memory Recovery", 12000);
  assert.deepEqual(history.recent(12000).marks.map((m) => [m.time, m.kind]),
                   [[7000, "tab"], [9000, "periodic"], [10000, "start"], [12000, "stop"]],
                   "the latest four, as many as the ring holds");
});

test("the working-set scale has a few round steps in one unit, from a few MiB to tens of GiB",
     () => {
  const labels = (kib) => workingSetAxis(kib).ticks.map((tick) => tick.label);
  assert.deepEqual(labels(0), ["0", "1 MiB"]);
  assert.deepEqual(labels(3.5 * 1024), ["0", "1 MiB", "2 MiB", "3 MiB", "4 MiB"]);
  assert.deepEqual(labels(700 * 1024), ["0", "200 MiB", "400 MiB", "600 MiB", "800 MiB"]);
  assert.deepEqual(labels(1000 * 1024), ["0", "250 MiB", "500 MiB", "750 MiB", "1,000 MiB"]);
  assert.deepEqual(labels(1.4 * 1024 * 1024), ["0", "0.5 GiB", "1 GiB", "1.5 GiB"]);
  assert.deepEqual(labels(37 * 1024 * 1024), ["0", "10 GiB", "20 GiB", "30 GiB", "40 GiB"]);
  for (let kib = 1; kib < 2 ** 32; kib = Math.ceil(kib * 1.37)) {
    const { topKiB, ticks } = workingSetAxis(kib);
    assert.ok(topKiB >= kib && ticks.length <= 5, `${kib} KiB`);
    assert.ok(topKiB < 2.5 * Math.max(kib, 1024), `${kib} KiB: top ${topKiB}`);
  }
  assert.deepEqual(timeAxis(0).ticks.map((tick) => tick.label), ["2 min ago", "1 min", "now"]);
  assert.deepEqual(timeAxis(7 * 60000).ticks.map((tick) => tick.label),
                   ["9 min ago", "6 min", "3 min", "now"]);
  assert.equal(timeAxis(kHourMs).spanMs, kHourMs);
});

test("the chart draws a vertex for each sample, breaks the line at a gap, and sums up the " +
     "browser's figures and its marks; the keys walk its points", () => {
  const history = new MemoryHistory();
  const now = 2 * kHourMs;
  const minutesAgo = (minutes) => now - minutes * 60000;
  history.observe(running(100 * 1024), minutesAgo(70));
  for (const [seconds, mib] of [[0, 900], [5, 2048], [10, 1024]]) {
    history.observe(running(mib * 1024), minutesAgo(20) + seconds * 1000);
  }
  history.observe({ running: false, metrics: "Activate Lumbrel To See Current WorkingSetSize" },
                  minutesAgo(19));
  history.observe(running(4096 * 1024), minutesAgo(5));
  history.observe(running(3072 * 1024), minutesAgo(5) + 5000);
  history.markSelection(minutesAgo(10));
  history.markComment("Memory Recovery Between A Tab Selection", minutesAgo(9));
  history.markComment("Stopped Lumbrel's Memory Recovery", minutesAgo(8));
  const model = chartModel(history.recent(now), now);
  const vertex = "[\\d.]+ [\\d.]+";
  assert.match(model.browser, new RegExp(`^M${vertex}L${vertex}L${vertex}M${vertex}L${vertex}$`));
  assert.equal(model.pluginHost, "");
  assert.deepEqual(model.workingSetTicks.map((tick) => tick.label),
                   ["0", "1 GiB", "2 GiB", "3 GiB", "4 GiB"]);
  assert.deepEqual(model.timeTicks.map((tick) => tick.label),
                   ["30 min ago", "20 min", "10 min", "now"]);
  const { left, width } = model.plot;
  assert.equal(model.marks[0].x, left + width * 2 / 3);
  assert.equal(nearestPoint(model.points, model.marks[0].x).sample.browserKiB, 4096 * 1024);
  assert.equal(summaryLine(history.recent(now).samples),
               "Browser: lowest 900 MiB, highest 4.0 GiB, latest 3.0 GiB");
  assert.equal(sampleLine(model.points[1].sample, "12:00:00"),
               "12:00:00: browser 2.0 GiB, plug-in host not running, memory in use 45 %");
  assert.equal(chartSummary(model, (time) => `${(now - time) / 60000} min ago`),
               "The last 30 minutes. Browser: lowest 900 MiB, highest 4.0 GiB, latest 3.0 GiB. " +
               "1 tab selection reported; 1 recovery known from QELM's comments, the latest at " +
               "9 min ago.");
  const walk = (...keys) => keys.reduce((time, key) =>
    pointByKey(model.points, time, key)?.sample.time ?? time, null);
  assert.equal(walk("ArrowLeft", "ArrowLeft"), minutesAgo(5));
  assert.equal(walk("Home", "ArrowLeft", "ArrowRight"), minutesAgo(20) + 5000);
  assert.equal(walk("End", "ArrowRight", "Tab"), minutesAgo(5) + 5000);
});

test("a recovery moves, an unload frees what the browser holds, and what came back is read only " +
     "from a figure near the minute after, with no gap since", () => {
  const kib = (t) => (t <= 10 ? 1000 : t <= 130 ? 900 : t <= 180 ? 700 : t <= 200 ? 750 : 500);
  // Figures every 5 s, none from 30 s to 120 s.
  const samples = [...Array(61).keys()].map((i) => i * 5).filter((t) => t < 30 || t > 120)
    .map((t) => ({ time: t * 1000, browserKiB: kib(t), privateKiB: t <= 200 ? 5000 : 4200,
                   commitMiB: 8000, afterGap: t === 125 }));
  const log = new RecoveryLog();
  for (const [kind, seconds] of [["pressure", 10], ["tab", 130], ["unload", 200],
                                 ["periodic", 210]]) {
    log.add({ kind, time: seconds * 1000, ...(kind === "unload" && { tabs: 2 }) });
  }
  const told = (outcome) => [outcome.kind, outcome.known, outcome.movedKiB, outcome.cameBackKiB,
                             outcome.freedKiB, outcome.withUnload];
  assert.deepEqual(log.outcomes(samples, 300000, kHourMs).map(told), [
    ["pressure", true, 100, null, undefined, undefined],
    ["tab", true, 200, 50, undefined, undefined],
    ["unload", true, 250, 0, 800, undefined],
    ["periodic", false, undefined, undefined, undefined, true],
  ]);
  assert.equal(log.outcomes(samples, 50000, kHourMs)[0].cameBackKiB, undefined, "not yet");
  const judged = [];
  for (const now of [260000, 300000, 400000]) {
    log.judgeSettled(now, (time) => samples.filter((sample) => sample.time > time),
                     (outcome) => judged.push([now, ...told(outcome).slice(0, 4)]));
  }
  assert.deepEqual(judged, [[260000, "pressure", true, 100, null],
                            [300000, "unload", true, 250, 0]], "each once, when its minute is over");
  // Turns of a pressure run a status apart, 200 MiB each: each counts only its own drop.
  const turns = new RecoveryLog();
  [0, 5, 10].forEach((t) => turns.add({ kind: "unload", time: t * 1000, tabs: 1 }));
  const falling = [0, 5, 10, 15, 20].map((t) => ({ time: t * 1000, browserKiB: 0, commitMiB: 0,
    privateKiB: 800 * 1024 - Math.min(t, 15) * 40 * 1024 }));
  assert.deepEqual(turns.outcomes(falling, 30000, kHourMs).map((o) => o.freedKiB / 1024),
                   [200, 200, 200]);
  const summary = hourSummary([...log.outcomes(samples, 300000, kHourMs),
                               { kind: "tab", known: true, movedKiB: 70 }]);
  assert.deepEqual([summary.trims, summary.movedKiB, summary.cameBackKiB, summary.unmeasured],
                   [1, 200, 50, 3], "only trims whose minute after is known");
});

test("no trim is expected while the browser is not to be trimmed or recovery has not started",
     () => {
  const status = (settings, metrics = running(1).metrics) => ({ running: true, settings, metrics });
  assert.deepEqual([trimsHeld(status({ app_1: 0 })), trimsHeld(status({}, kExitMetrics)),
                    trimsHeld(status({ app_1: 1 })), trimsHeld({ running: false })],
                   ["off", "waiting", null, null]);
  assert.deepEqual([companionTrims(status({ app_1: 0 }), "tab"),
                    companionTrims(status({ app_1: 0, global: 1 }), "periodic"),
                    companionTrims(status({ app_1: 1 }, ""), "now"),
                    companionTrims(status({ app_1: 1 }), "pressure")], [false, true, false, true]);
});

// The companion's life driven by thousands of random sequences of the host's events, the user's
// commands, replies and the passing time, checking its rules after every step.
import assert from "node:assert/strict";
import { test } from "node:test";
import fc from "fast-check";
import "./browser_i18n.js";
import { CompanionLife, kExitMetrics, kReplaceWaitMs } from "../../extension/lib/companion.js";
import { companionNotice } from "../../extension/lib/view.js";

const settle = () => new Promise((resolve) => setImmediate(resolve));
const kDeliberate = ["stoppedHere", "stoppedElsewhere"];
// What the notice says in each state: its cause.
const kCause = {
  stoppedHere: /^QELM was stopped in this browser at .+ or Firefox starts again\.$/,
  stoppedElsewhere: /^QELM was stopped by another program or Firefox profile at /,
  installer: /^QELM was closed by its installer at .+ once the installer is done/,
  ended: /^(QELM ended unexpectedly at [^.]+\.)? ?(Starting it again in \d+\s+s\.)?$/,
  get starting() { return this.ended; },
  running: /^(|QELM ended unexpectedly at .+ and was started again\.)$/,
};

const weighted = (weight, arbitrary) => ({ weight, arbitrary });
const event = fc.oneof(
  weighted(4, fc.record({ type: fc.constant("status"), running: fc.boolean(),
                          pid: fc.integer({ min: 1, max: 2 }), exit: fc.boolean() })),
  weighted(2, fc.record({ type: fc.constant("reconnect"),
                          installed: fc.constantFrom("1.0", "1.1") })),
  ...["portClosed", "closing", "userStart", "userStop"].map((type) =>
    weighted(1, fc.record({ type: fc.constant(type) }))),
  weighted(2, fc.record({ type: fc.constantFrom("startReply", "stopReply"), ok: fc.boolean(),
                          gone: fc.boolean() })),
  weighted(1, fc.record({ type: fc.constant("tick"),
                          ms: fc.oneof(fc.nat(5000), fc.constant(kReplaceWaitMs)) })));

// A host behind a port that is open or closed; its requests wait for the sequence's replies.
function world() {
  const w = { clock: 0, timers: [], starts: [], stops: [], connected: false };
  const request = (list) => () => {
    const reply = {};
    reply.promise = new Promise((resolve, reject) => Object.assign(reply, { resolve, reject }));
    reply.promise.catch(() => {});
    w.connected ? list.push(reply) : reply.reject(new Error("not connected"));
    return reply.promise;
  };
  w.life = new CompanionLife({
    start: () => { w.sent++; return request(w.starts)(); },
    stop: request(w.stops),
    setTimer: (run, ms) => w.timers.push({ run, at: w.clock + ms }) - 1,
    clearTimer: (index) => { w.timers[index].done = true; },
    onChange: () => {}, now: () => w.clock, random: () => 0.5,
  });
  return w;
}

// Answers whether the event could happen now.
async function apply(w, e) {
  const { life } = w;
  const possible = { status: w.connected, portClosed: w.connected, closing: w.connected,
                     startReply: w.starts.length > 0, stopReply: w.stops.length > 0 }[e.type];
  if (possible === false) return false;
  if (e.type === "closing") life.closing();
  if (["portClosed", "closing"].includes(e.type) || (e.type === "reconnect" && w.connected)) {
    w.connected = false;
    life.portClosed();
    w.starts.splice(0).concat(w.stops.splice(0)).forEach((reply) => reply.reject(new Error("")));
    await settle();
  }
  if (e.type === "reconnect") {
    w.connected = true;
    life.hello(e.installed);
  }
  if (e.type === "status") {
    life.status({ running: e.running, pid: e.pid, metrics: e.exit ? kExitMetrics : null });
  }
  if (e.type === "userStart" || e.type === "userStop") life[e.type]().catch(() => {});
  if (e.type === "startReply" || e.type === "stopReply") {
    const reply = (e.type === "startReply" ? w.starts : w.stops).shift();
    e.ok ? reply.resolve({ running: e.type === "startReply" })
      : reply.reject(new Error(e.gone ? "QELM is not running" : "no"));
  }
  if (e.type === "tick") {
    w.clock += e.ms;
    const due = w.timers.filter((t) => !t.done && t.at <= w.clock);
    due.forEach((t) => { t.done = true; t.run(); });
  }
  await settle();
  return true;
}

// Which deliberate stop stands, by the rules (null: none; undefined: a failed Stop left it
// open): the user's Stop here, or an end with the exit status after a run was seen; until a start
// here or a new run. A Stop without a connection fails at once, one under way with the port.
function follow(model, e, { connected, stopping }) {
  const to = (fields) => Object.assign(model, fields);
  if (stopping && ["portClosed", "closing", "reconnect"].includes(e.type)) to({ cause: undefined });
  if (e.type === "userStop" && connected) to({ cause: "stoppedHere" });
  if (e.type === "userStart") to({ cause: null });
  if (e.type === "stopReply" && !e.ok && !e.gone) to({ cause: undefined });
  if (e.type === "closing") to({ running: false, said: false });
  if (e.type === "startReply" && e.ok) to({ running: true });
  if (e.type !== "status") return;
  if (e.running && (!model.said || e.pid !== model.pid)) to({ cause: null });
  if (!e.running && e.exit && model.running && model.cause === null) {
    to({ cause: "stoppedElsewhere" });
  }
  to({ running: e.running, said: e.running, pid: e.pid });
}

// After the installer's close: its end (a hello of another install, or of the same one after the
// wait) brings back the stop that stood before it, or else the next status starts the companion.
function checkInstaller(w, e, tracked, cause) {
  if (tracked?.done) {
    if (e.type === "status" && !e.running) {
      assert.equal(w.sent, 1, "one start once the installer is done");
    }
    return null;
  }
  if (w.life.state === "installer") {
    return tracked ?? { at: w.clock, installed: w.life.installer.installed, cause };
  }
  if (tracked && e.type === "reconnect" &&
      (e.installed !== tracked.installed || w.clock - tracked.at >= kReplaceWaitMs)) {
    if (tracked.cause) assert.equal(w.life.state, tracked.cause, "the stop before it stands");
    return { done: tracked.cause === null };
  }
  return null;
}

test("random sequences of events keep the companion's rules", async () => {
  const started = Date.now();
  let sequences = 0;
  await fc.assert(fc.asyncProperty(fc.array(event, { maxLength: 40 }), async (events) => {
    sequences++;
    const w = world();
    // Whether it ran by the last status or start, by the last status, and its process.
    const model = { cause: null, running: false, said: false, pid: null };
    let installer = null;
    let stopFrom = null;
    for (const e of events) {
      const cause = model.cause;
      const was = { connected: w.connected, stopping: w.stops.length > 0, state: w.life.state,
                    armed: w.timers.filter((t) => !t.done).length };
      w.sent = 0;
      if (!(await apply(w, e))) {
        continue;
      }
      follow(model, e, was);
      const { state } = w.life;
      const armed = w.timers.filter((t) => !t.done).length;
      if (e.type !== "userStart") {
        assert.ok(w.sent === 0 || (!cause && was.state !== "installer"),
                  `a start sent in ${was.state}`);
      }
      installer = checkInstaller(w, e, installer, model.cause);
      if (e.type === "stopReply" && !e.ok && !e.gone && stopFrom) {
        assert.deepEqual([state, armed], [stopFrom.state, stopFrom.armed], "a failed Stop undone");
      }
      stopFrom = e.type === "userStop" && was.connected && !was.stopping ? was
        : e.type === "stopReply" ? stopFrom : null;
      if (e.type === "status" && !e.running && model.cause === null && state !== "installer") {
        assert.ok(armed + w.starts.length >= 1, `an end in ${was.state} is met by a start`);
      }
      assert.ok(w.starts.length <= 1, "one start in flight at most");
      assert.ok(armed <= (state === "running" ? 0 : 1), `${armed} timers armed in ${state}`);
      const shown = w.life.shown;
      if (model.cause !== undefined) {
        assert.equal(kDeliberate.includes(shown.state) && shown.state, model.cause ?? false,
                     "the cause shown");
      }
      const notice = companionNotice(shown, w.clock).join("");
      assert.match(notice, kCause[shown.state] ?? /^$/, `${shown.state}: ${notice}`);
    }
  }), { numRuns: 10000, includeErrorInReport: true });
  console.log(`${sequences} random sequences in ${Date.now() - started} ms`);
});

// The companion's life as this extension knows it, in one place: what the host's events mean,
// whether a start is sent, and what the popup says about it. Nothing else decides a start.
//
// States (what stands now) and what each event makes of them ("-": stays, nothing is sent):
//
//              | status:   | status: ended | status: ended | port   | closing    | hello:
//              | a new run | with its exit | otherwise     | closed |            | installer done
//              |           | status        |               |        |            |
// unknown      | running   | stoppedElse   | start         | -      | installer  | -
// starting     | running   | stoppedElse   | -             | ended  | installer  | -
// running      | -         | stoppedElse   | ended, arm    | -      | installer  | -
// ended        | running   | stoppedElse   | arm if unarmed| disarm | installer  | -
// stoppedHere  | running   | -             | -             | -      | installer* | -
// stoppedElse  | running   | -             | -             | -      | installer* | -
// installer    | running   | -             | -             | -      | -          | unknown, or *
//
// "A new run": a status of a running companion after one of none, or with another process.
// "Ended with its exit status": not running, with the exit status, after a run was seen (by the
// last status or a start's reply); an end without a run seen tells nothing.
// "ended" is an end nobody asked for: its timer, armed by the one back-off, sends a start. A
// start's reply makes it "running", or "ended" with the next try armed. The user's Start sends a
// start from any state (or joins the one in flight); the user's Stop makes any state stoppedHere,
// and one that fails puts back what it replaced, with the timer it disarmed (but not one that
// found no companion to stop).
// * The installer's close keeps the deliberate stop that stood before it (the user's here, or
//   another profile's, which is the same user's), and puts it back once the installer is done: a
//   hello from another install, or from the same one after kReplaceWaitMs. The run it ended is
//   forgotten: its exit status is the installer's, not a deliberate end.
//
// Why an exit status means a deliberate end: the companion writes it only when asked to end
// (Stop, qelmctl exit, its watchdog), and the host clears it before it starts a companion, so it
// belongs to the run it ends. It says so only for a run seen running: what was seen is kept
// across a new connection, so a stop that fell while the port was away is still respected; a
// browser that starts anew knows no run and starts the companion whatever the key held before.
import { Backoff } from "./reconnect.js";

// The memory figures a companion leaves when it ends as asked.
export const kExitMetrics = "Activate Lumbrel To See Current WorkingSetSize";
// A host of the same install still answering after this long means the installer left it.
export const kReplaceWaitMs = 60000;
// The host's refusal of an exit when no companion runs.
const kNotRunning = "QELM is not running";

const kDeliberate = new Set(["stoppedHere", "stoppedElsewhere"]);
// States that a status of the same run leaves alone: the stop under way ends that run.
const kHeld = new Set([...kDeliberate, "installer"]);

export class CompanionLife {
  // start() and stop() send the host's start and exit (promises of their replies); setTimer(fn,
  // ms) arms a one-shot timer and answers what clearTimer takes; onChange() is called when what
  // is shown changed.
  constructor({ start, stop, setTimer, clearTimer, onChange, now = Date.now,
                random = Math.random }) {
    Object.assign(this, { sendStart: start, sendStop: stop, setTimer, clearTimer, onChange, now });
    this.backoff = new Backoff({ now, random });
    this.state = "unknown";
    // When the state came, for the notice.
    this.at = null;
    // When the companion last ended unasked while it was to run, and when it last started.
    this.endedAt = null;
    this.runningSince = null;
    // Whether the last status said it runs, and its process; whether that or a start's reply did.
    this.lastRunning = false;
    this.pid = null;
    this.runSeen = false;
    this.timer = null;
    this.restartAt = null;
    this.connected = false;
    // The reply of the start under way.
    this.inFlight = null;
    // The last hello's install, and, while the installer works, what it closed.
    this.installed = null;
    this.installer = null;
  }

  // What the popup's notice tells: the cause and its time, and a start to come.
  get shown() {
    const { state, at, endedAt, restartAt } = this;
    if (state === "installer" && this.installer.before) {
      return { ...this.installer.before, endedAt: null, restartAt: null };
    }
    return { state, at, endedAt, restartAt };
  }

  // A status of the host, on any connection.
  status({ running, pid = null, metrics }) {
    this.connected = true;
    const seenRun = this.runSeen || this.state === "running";
    const newRun = running && (!this.lastRunning || pid !== this.pid);
    this.lastRunning = this.runSeen = Boolean(running);
    this.pid = pid;
    if (running) {
      if (newRun || !kHeld.has(this.state)) {
        this.seenRunning();
      }
    } else if (kHeld.has(this.state)) {
      return;
    } else if (seenRun && metrics === kExitMetrics) {
      this.endedAt = null;
      this.disarm();
      this.enter("stoppedElsewhere");
    } else if (this.state === "running") {
      this.endedUnasked();
    } else if (this.state === "unknown") {
      this.startNow();
    } else if (this.state === "ended" && this.timer === null && this.inFlight === null) {
      this.arm(this.backoff.nextDelayMs());
    }
  }

  seenRunning() {
    if (this.state === "running") {
      return;
    }
    this.disarm();
    this.installer = null;
    if (this.state !== "ended" && this.state !== "starting") {
      this.endedAt = null;
    }
    this.runningSince = this.now();
    this.enter("running");
  }

  endedUnasked() {
    this.backoff.heldSince(this.runningSince);
    this.endedAt = this.now();
    this.enter("ended");
    this.arm(this.backoff.nextDelayMs());
  }

  // The port to the host closed: nothing can be sent until the next connection, and the reply
  // of a start under way never comes.
  portClosed() {
    this.connected = false;
    this.disarm();
    this.inFlight = null;
    if (this.state === "starting") {
      this.state = "ended";
    }
    this.onChange();
  }

  // The installer closes the hosts to remove or replace QELM's files; the wait for its end counts
  // from since, the moment the host connection counts it from too.
  closing(since = this.now()) {
    if (this.state === "installer") {
      return;
    }
    const before = kDeliberate.has(this.state) ? { state: this.state, at: this.at } : null;
    this.installer = { installed: this.installed, since, before };
    this.lastRunning = this.runSeen = false;
    this.disarm();
    this.endedAt = null;
    this.enter("installer");
  }

  // A host greeted with its install's version.
  hello(installed) {
    this.connected = true;
    this.installed = installed;
    const installer = this.installer;
    if (this.state !== "installer" ||
        (installed === installer.installed && this.now() - installer.since < kReplaceWaitMs)) {
      return;
    }
    this.installer = null;
    if (installer.before) {
      this.enter(installer.before.state, installer.before.at);
    } else {
      this.enter("unknown");
    }
  }

  // The user's Start here: answers the start's reply.
  userStart() {
    this.disarm();
    this.endedAt = null;
    this.installer = null;
    return this.startNow();
  }

  // The user's Stop here: answers the exit's reply. Should it fail, what it replaced stands again,
  // unless it failed for the companion having ended already: then the user's decision stands, and
  // the status that tells of the end arms no restart.
  async userStop() {
    const { state, at, endedAt, restartAt, installer } = this;
    this.disarm();
    this.endedAt = null;
    this.installer = null;
    this.enter("stoppedHere");
    try {
      return await this.sendStop();
    } catch (error) {
      if (error.message === kNotRunning) {
        return { running: false };
      }
      if (this.state === "stoppedHere") {
        this.putBack(state, at, endedAt, restartAt, installer);
      }
      throw error;
    }
  }

  // A start that the stop left without its reply is tried again at once.
  putBack(state, at, endedAt, restartAt, installer) {
    const back = state === "starting" && this.inFlight === null ? "ended" : state;
    Object.assign(this, { endedAt, installer });
    this.enter(back, at);
    if (restartAt !== null || back !== state) {
      this.arm(Math.max((restartAt ?? this.now()) - this.now(), 0));
    }
  }

  // Sends a start, or joins the one in flight.
  startNow() {
    this.enter("starting");
    if (this.inFlight !== null) {
      return this.inFlight;
    }
    const reply = this.sendStart();
    this.inFlight = reply;
    reply.then((answer) => this.replied(reply, Boolean(answer?.running)),
               () => this.replied(reply, false));
    return reply;
  }

  // A start's reply tells whether it runs; a refused one is tried again later.
  replied(reply, running) {
    this.runSeen ||= running;
    if (reply !== this.inFlight) {
      return;
    }
    this.inFlight = null;
    if (this.state !== "starting") {
      return;
    }
    if (running) {
      this.seenRunning();
      return;
    }
    this.enter("ended");
    this.arm(this.backoff.nextDelayMs());
  }

  // Only while connected: the next connection's first status arms it again.
  arm(delayMs) {
    if (!this.connected) {
      return;
    }
    this.restartAt = this.now() + delayMs;
    this.timer = this.setTimer(() => {
      this.timer = null;
      this.restartAt = null;
      this.startNow();
    }, delayMs);
    this.onChange();
  }

  disarm() {
    if (this.timer !== null) {
      this.clearTimer(this.timer);
    }
    this.timer = null;
    this.restartAt = null;
  }

  enter(state, at = this.now()) {
    this.state = state;
    this.at = at;
    this.onChange();
  }
}

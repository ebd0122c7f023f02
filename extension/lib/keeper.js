// Keeps a companion running for as long as the browser runs. One that ends unasked (killed or
// crashed) is started again, later after each failed try, so that a companion that cannot start
// does not loop. One that ends as asked (the user's Stop here, Stop in another Firefox profile,
// qelmctl exit, the installer) stays stopped until the user starts it.
import { Backoff } from "./reconnect.js";

// The memory figures a companion leaves when it ends as asked; one that was killed or crashed
// leaves those of its last run.
export const kExitMetrics = "Activate Lumbrel To See Current WorkingSetSize";

const endedAsAsked = (status) => status?.metrics === kExitMetrics;

export class CompanionKeeper {
  // start() asks the host to start the companion (a promise); setTimer(fn, ms) arms a one-shot
  // timer and answers what clearTimer takes; onChange() is called when what is shown changed.
  constructor({ start, setTimer, clearTimer, onChange, now = Date.now, random = Math.random }) {
    this.start = start;
    this.setTimer = setTimer;
    this.clearTimer = clearTimer;
    this.onChange = onChange;
    this.now = now;
    this.backoff = new Backoff({ now, random });
    this.running = null;
    this.runningSince = null;
    this.timer = null;
    this.restartAt = null;
    this.starting = false;
    // Counts the cancellations, so that a start under way when one came does not go on trying.
    this.generation = 0;
    // When the companion last ended unasked, and whether it runs again since.
    this.endedAt = null;
    this.restarted = false;
    // Whether the companion wrote figures of its own since it started: until then the key may
    // still hold the exit status of the run before, which tells nothing of how this one ends.
    this.figuresSeen = false;
    // Who stopped it and when ({ by: "user" | "installer" | "other", at }), while it stays
    // stopped; null while it is wanted.
    this.stopped = null;
  }

  get wanted() {
    return this.stopped === null;
  }

  // Each status of a connected host.
  observe(status) {
    const running = Boolean(status?.running);
    const was = this.running;
    this.running = running;
    if (running) {
      this.figuresSeen = (was === true && this.figuresSeen) || !endedAsAsked(status);
      this.noticeRunning(was);
    } else if (was === true && this.figuresSeen && endedAsAsked(status)) {
      this.noticeStop();
    } else if (this.wanted) {
      this.noticeEnd(was);
    }
  }

  noticeRunning(was) {
    if (this.timer !== null) {
      this.clearTimer(this.timer);
      this.timer = null;
      this.restartAt = null;
    }
    if (was === true) {
      return;
    }
    this.runningSince = this.now();
    // Started by someone: whoever stopped it before, it is kept running again.
    this.stopped = null;
    if (this.endedAt !== null) {
      this.restarted = true;
    }
    this.onChange();
  }

  noticeStop() {
    this.stopped ??= { by: "other", at: this.now() };
    this.cancel();
    this.onChange();
  }

  noticeEnd(was) {
    if (was === true) {
      this.backoff.heldSince(this.runningSince);
      this.endedAt = this.now();
      this.restarted = false;
    }
    if (this.timer === null && !this.starting) {
      this.scheduleStart();
    }
  }

  scheduleStart() {
    const delayMs = this.backoff.nextDelayMs();
    this.restartAt = this.now() + delayMs;
    this.timer = this.setTimer(() => this.startAgain(), delayMs);
    this.onChange();
  }

  // A start that worked shows in the host's next status; one that failed is the host's error to
  // show, and is tried again later.
  async startAgain() {
    const generation = this.generation;
    this.timer = null;
    this.restartAt = null;
    this.starting = true;
    this.onChange();
    const started = await this.start().then(() => true, () => false);
    this.starting = false;
    if (!started && generation === this.generation && this.running === false &&
        this.timer === null && this.wanted) {
      this.scheduleStart();
    }
  }

  // The user's Stop here, or the installer's: the companion stays stopped until the user starts
  // it. Answers what to restore should the stop fail.
  stop(by) {
    const before = this.stopped;
    this.stopped = { by, at: this.now() };
    this.cancel();
    this.onChange();
    return before;
  }

  // The user's own Start.
  resume() {
    this.stopped = null;
    this.cancel();
    this.onChange();
  }

  // Nothing pending any more: no start to come, nothing to say about an end.
  cancel() {
    if (this.timer !== null) {
      this.clearTimer(this.timer);
    }
    this.generation++;
    this.timer = null;
    this.restartAt = null;
    this.endedAt = null;
    this.restarted = false;
  }

  // Forgets what it knew of the running companion, as when the port to the host closes; who
  // stopped it is kept, so that a new connection does not start it again.
  forget() {
    const changed = this.timer !== null || this.endedAt !== null;
    this.cancel();
    this.running = null;
    if (changed) {
      this.onChange();
    }
  }
}

// Keeps a companion running for as long as the browser runs: when it ends without the user's
// Stop (killed, crashed, or ended by another program or another profile's host), it is started
// again, after 1, 2, 4 ... and at most 60 s, so that a companion that cannot start does not
// loop. One that ran for that longest delay counts as sound again.
import { kLongestDelaySeconds, reconnectDelaySeconds } from "./reconnect.js";

export class CompanionKeeper {
  // start() asks the host to start the companion (a promise); setTimer(fn, ms) arms a one-shot
  // timer and answers what clearTimer takes; onChange() is called when what is shown changed.
  constructor({ start, setTimer, clearTimer, onChange, now = Date.now }) {
    this.start = start;
    this.setTimer = setTimer;
    this.clearTimer = clearTimer;
    this.onChange = onChange;
    this.now = now;
    this.running = null;
    this.runningSince = null;
    this.failedTries = 0;
    this.timer = null;
    this.restartAt = null;
    // Counts the cancellations, so that a start under way when one came does not go on trying.
    this.generation = 0;
    // When the companion last ended without being asked to, and whether it runs again since.
    this.endedAt = null;
    this.restarted = false;
  }

  // Each status of a connected host; wanted is false while the user has stopped the companion.
  observe(status, wanted) {
    const running = Boolean(status?.running);
    const was = this.running;
    this.running = running;
    if (running) {
      this.noticeRunning(was);
    } else if (wanted) {
      this.noticeEnd(was);
    } else {
      this.cancel();
    }
  }

  noticeRunning(was) {
    if (was !== true) {
      this.runningSince = this.now();
      if (this.endedAt !== null && !this.restarted) {
        this.restarted = true;
        this.onChange();
      }
    }
  }

  noticeEnd(was) {
    if (was === true) {
      if (this.now() - this.runningSince >= kLongestDelaySeconds * 1000) {
        this.failedTries = 0;
      }
      this.endedAt = this.now();
      this.restarted = false;
    }
    if (this.timer === null) {
      this.scheduleStart();
    }
  }

  scheduleStart() {
    const delayMs = reconnectDelaySeconds(this.failedTries++) * 1000;
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
    this.onChange();
    const started = await this.start().then(() => true, () => false);
    if (!started && generation === this.generation && this.running === false &&
        this.timer === null) {
      this.scheduleStart();
    }
  }

  // The user's own Start or Stop, or a connection that ended: nothing is pending any more.
  cancel() {
    if (this.timer !== null) {
      this.clearTimer(this.timer);
    }
    const changed = this.timer !== null || this.endedAt !== null;
    this.generation++;
    this.timer = null;
    this.restartAt = null;
    this.endedAt = null;
    this.restarted = false;
    if (changed) {
      this.onChange();
    }
  }

  // Forgets what it knew of the companion, as when the port to the host closes.
  forget() {
    this.cancel();
    this.running = null;
  }
}

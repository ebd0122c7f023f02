// The native port to qelm-host.exe: requests with their replies, the host's status events, and
// a new connection with a growing delay whenever the port closes.
import { kReplaceWaitMs } from "./companion.js";
import { t } from "./i18n.js";
import { Backoff, kSpread } from "./reconnect.js";

export const kHostName = "qelm";
// Longer than the host's own longest wait (10 s for the companion to start).
export const kAnswerTimeoutMs = 20000;
// What a reply leaves to show as the error: a start inside a job that keeps its processes means
// the companion ends with the host, which the user should know.
export function replyError(reply) {
  return reply.outlivesHost === false
    ? t("errorInsideJob") : null;
}

// While the installer removes or replaces QELM, the first try waits this long, so that the
// removal is likely over, and the next ones come this often, for at most kReplaceWaitMs.
export const kQuietAfterClosingMs = 5000;
export const kReplacingRetryMs = 2000;

// How the host stands: "connecting" (until the greeting is done), "connected", "missing" (no
// host registered), "replacing" (the installer closed it to remove or replace QELM) or "lost"
// (it was there and went, or would not answer). It tells what happened to the port and what the
// host said; what that means for the companion is decided elsewhere.
export class HostConnection {
  // connect(name) opens a port (runtime.connectNative); setTimer(fn, ms) arms a one-shot timer
  // and answers what clearTimer takes. onChange() is called whenever state, status or error
  // changed; onHello(installed) when a host greeted and is kept, onStatus(status, previous) with
  // each status, onClosing(since) when the installer closes the host (since: when the wait for
  // its end began), onClosed() when the port closed.
  constructor({ connect, setTimer, clearTimer, onChange, onHello = () => {},
                onStatus = () => {}, onClosing = () => {}, onClosed = () => {},
                now = Date.now, random = Math.random }) {
    this.connect = connect;
    this.setTimer = setTimer;
    this.clearTimer = clearTimer;
    this.onChange = onChange;
    this.onHello = onHello;
    this.onStatus = onStatus;
    this.onClosing = onClosing;
    this.onClosed = onClosed;
    this.now = now;
    this.random = random;
    this.state = "connecting";
    this.error = null;
    this.status = null;
    this.retryAt = null;
    this.backoff = new Backoff({ now, random });
    this.connectedAt = null;
    // The installer's version that the host last said (null: none, or no installer).
    this.installed = null;
    // Since the installer closed the host: { installed, since }.
    this.replacing = null;
    this.nextId = 1;
    this.pending = new Map();
    this.port = null;
  }

  open() {
    this.retryAt = null;
    this.state = "connecting";
    const port = this.connect(kHostName);
    this.port = port;
    port.onMessage.addListener((message) => this.receive(port, message));
    port.onDisconnect.addListener(() => this.closed(port));
    this.onChange();
    this.greet(port);
  }

  // hello, then status. A host that cannot do that much is given up and tried again later.
  async greet(port) {
    try {
      const hello = await this.request("hello");
      if (!this.takeInstall(hello.installed ?? null)) {
        port.disconnect();
        this.closed(port);
        return;
      }
      this.onHello(this.installed);
      const status = await this.request("status");
      if (port !== this.port) {
        return;
      }
      this.state = "connected";
      this.connectedAt = this.now();
      this.error = null;
      this.takeStatus(status);
    } catch (error) {
      if (port === this.port) {
        port.disconnect();
        this.closed(port, error.message);
      }
    }
  }

  // After the installer closed the host: a host of another install means QELM was replaced; one
  // of the same install still runs from files being removed, and is left alone for a while.
  // Answers whether to go on with this host.
  takeInstall(installed) {
    const replacing = this.replacing;
    this.installed = installed;
    if (replacing === null) {
      return true;
    }
    if (installed !== replacing.installed) {
      this.replacing = null;
      return true;
    }
    if (this.now() - replacing.since < kReplaceWaitMs) {
      return false;
    }
    this.replacing = null;
    return true;
  }

  request(cmd, fields = {}) {
    if (!this.port) {
      return Promise.reject(new Error(t("errorNotConnected")));
    }
    const id = this.nextId++;
    const port = this.port;
    return new Promise((resolve, reject) => {
      const timer = this.setTimer(() => {
        this.pending.delete(id);
        reject(new Error(t("errorNoAnswer", cmd, kAnswerTimeoutMs / 1000)));
      }, kAnswerTimeoutMs);
      this.pending.set(id, { resolve, reject, timer });
      try {
        port.postMessage({ ...fields, id, cmd });
      } catch (error) {
        this.settle(id);
        reject(error);
      }
    });
  }

  // The request's waiter, no longer waiting.
  settle(id) {
    const waiting = this.pending.get(id);
    this.pending.delete(id);
    if (waiting) {
      this.clearTimer(waiting.timer);
    }
    return waiting;
  }

  receive(port, message) {
    if (port !== this.port || message === null || typeof message !== "object") {
      return;
    }
    if (message.event === "status") {
      this.takeStatus(message);
      return;
    }
    if (message.event === "closing") {
      this.replacing ??= { installed: this.installed, since: this.now() };
      this.onClosing(this.replacing.since);
      return;
    }
    const waiting = this.settle(message.id);
    if (!waiting) {
      return;
    }
    if (message.ok) {
      waiting.resolve(message);
    } else {
      waiting.reject(new Error(message.error ?? t("errorNoReason")));
    }
  }

  takeStatus(message) {
    const { running, pid, settings, comment, metrics, totals } = message;
    const previous = this.status;
    this.status = { running, pid, settings, comment, metrics, totals };
    this.onStatus(this.status, previous);
    this.onChange();
  }

  closed(port, reason = port.error?.message) {
    if (port !== this.port) {
      return;
    }
    this.port = null;
    const missing = /No such native application/i.test(reason ?? "");
    for (const id of [...this.pending.keys()]) {
      this.settle(id).reject(
        new Error(missing ? t("errorNotInstalled") : t("errorWentAway")));
    }
    if (this.replacing && this.now() - this.replacing.since >= kReplaceWaitMs) {
      this.replacing = null;
    }
    this.state = missing ? "missing" : this.replacing ? "replacing" : "lost";
    this.error = missing || this.replacing ? null : reason || t("errorEnded");
    this.status = null;
    // Only a connection that held for a while shows the host is sound again; one that dies
    // right after its greeting keeps the delay growing.
    this.backoff.heldSince(this.connectedAt);
    this.connectedAt = null;
    const delayMs = this.replacing ? this.replacingDelayMs() : this.backoff.nextDelayMs();
    this.retryAt = this.now() + delayMs;
    this.setTimer(() => this.open(), delayMs);
    this.onClosed();
    this.onChange();
  }

  // Neither a new start from files being removed nor a try every second while the installer
  // works; a new install is found within a few seconds of its end.
  replacingDelayMs() {
    const first = this.now() - this.replacing.since < kQuietAfterClosingMs;
    const delayMs = first ? kQuietAfterClosingMs : kReplacingRetryMs;
    return Math.round(delayMs * (1 + kSpread * this.random()));
  }
}

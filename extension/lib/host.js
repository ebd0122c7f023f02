// The native port to qelm-host.exe: requests with their replies, the host's status events, and
// a new connection with a growing delay whenever the port closes.
import { kLongestDelaySeconds, reconnectDelaySeconds } from "./reconnect.js";

export const kHostName = "qelm";
// Longer than the host's own longest wait (10 s for the companion to start).
export const kAnswerTimeoutMs = 20000;
// What a reply leaves to show as the error: a start inside a job that keeps its processes means
// the companion ends with the host, which the user should know.
export function replyError(reply) {
  return reply.outlivesHost === false
    ? "QELM was started inside the browser's job for its host: it ends whenever the host ends, " +
      "and is started again then"
    : null;
}

// How the host stands: "connecting" (until the greeting is done), "connected", "missing" (no
// host registered) or "lost" (it was there and went, or would not answer).
export class HostConnection {
  // connect(name) opens a port (runtime.connectNative); setTimer(fn, ms) arms a one-shot timer
  // and answers what clearTimer takes. onChange() is called whenever state, status or error
  // changed.
  constructor({ connect, setTimer, clearTimer, onChange, onStatus = () => {},
                wantCompanion = () => true, now = Date.now }) {
    this.connect = connect;
    this.setTimer = setTimer;
    this.clearTimer = clearTimer;
    this.onChange = onChange;
    this.onStatus = onStatus;
    this.wantCompanion = wantCompanion;
    this.now = now;
    this.state = "connecting";
    this.error = null;
    this.status = null;
    this.retryAt = null;
    this.failedTries = 0;
    this.connectedAt = null;
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

  // hello, start unless the user stopped the companion, status. A host that cannot do that much
  // is given up and tried again later; a refused start is only an error to show.
  async greet(port) {
    try {
      await this.request("hello");
      let startError = null;
      if (this.wantCompanion()) {
        await this.request("start").then((started) => {
          startError = replyError(started);
        }, (error) => {
          startError = error.message;
        });
      }
      const status = await this.request("status");
      if (port !== this.port) {
        return;
      }
      this.state = "connected";
      this.connectedAt = this.now();
      this.error = startError;
      this.takeStatus(status);
    } catch (error) {
      if (port === this.port) {
        port.disconnect();
        this.closed(port, error.message);
      }
    }
  }

  request(cmd, fields = {}) {
    if (!this.port) {
      return Promise.reject(new Error("the host qelm is not connected"));
    }
    const id = this.nextId++;
    const port = this.port;
    return new Promise((resolve, reject) => {
      const timer = this.setTimer(() => {
        this.pending.delete(id);
        reject(new Error(`the host did not answer "${cmd}" within ${kAnswerTimeoutMs / 1000} s`));
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
    const waiting = this.settle(message.id);
    if (!waiting) {
      return;
    }
    if (message.ok) {
      waiting.resolve(message);
    } else {
      waiting.reject(new Error(message.error ?? "the host refused without saying why"));
    }
  }

  takeStatus(message) {
    const { running, pid, settings, comment, metrics } = message;
    const previous = this.status;
    this.status = { running, pid, settings, comment, metrics };
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
        new Error(missing ? "the host qelm is not installed" : "the host qelm went away"));
    }
    this.state = missing ? "missing" : "lost";
    this.error = missing ? null : reason || "the host qelm ended";
    this.status = null;
    // Only a connection that held for a while shows the host is sound again; one that dies
    // right after its greeting keeps the delay growing.
    if (this.connectedAt !== null && this.now() - this.connectedAt >= kLongestDelaySeconds * 1000) {
      this.failedTries = 0;
    }
    this.connectedAt = null;
    const delayMs = reconnectDelaySeconds(this.failedTries++) * 1000;
    this.retryAt = this.now() + delayMs;
    this.setTimer(() => this.open(), delayMs);
    this.onChange();
  }
}

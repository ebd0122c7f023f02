// A real headless Firefox driven over WebDriver BiDi: a profile and a home of its own, the
// extension installed temporarily, tabs, scripts in any page, screenshots.
import { spawn } from "node:child_process";
import { mkdirSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import WebSocket from "ws";

const kFirefox = "/usr/bin/firefox-esr";
const kStartTimeoutMs = 60000;
const kCommandTimeoutMs = 30000;

function userPrefs(prefs) {
  return Object.entries(prefs)
    .map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`)
    .join("");
}

export class Firefox {
  // home: a folder for HOME (native-messaging manifests live below it); prefs: more of user.js;
  // env: more of the environment.
  static async launch({ home, prefs = {}, env = {} }) {
    const profile = join(home, "profile");
    mkdirSync(profile, { recursive: true });
    writeFileSync(join(profile, "user.js"), userPrefs({
      "xpinstall.signatures.required": false,
      "browser.shell.checkDefaultBrowser": false,
      "browser.startup.homepage_override.mstone": "ignore",
      "browser.aboutwelcome.enabled": false,
      "datareporting.policy.dataSubmissionEnabled": false,
      "app.update.disabledForTesting": true,
      ...prefs,
    }));
    const child = spawn(kFirefox, ["--headless", "--no-remote", "--remote-debugging-port", "0",
                                   "--profile", profile], {
      env: { ...process.env, HOME: home, MOZ_CRASHREPORTER_DISABLE: "1", ...env },
      stdio: ["ignore", "ignore", "pipe"],
    });
    try {
      const url = await listeningAddress(child);
      const firefox = new Firefox(child, new WebSocket(`${url}/session`));
      await new Promise((resolve, reject) => {
        firefox.socket.once("open", resolve);
        firefox.socket.once("error", reject);
      });
      await firefox.send("session.new", { capabilities: {} });
      return firefox;
    } catch (error) {
      child.kill("SIGKILL");
      throw error;
    }
  }

  constructor(child, socket) {
    this.child = child;
    this.socket = socket;
    this.nextId = 1;
    this.pending = new Map();
    socket.on("message", (data) => this.receive(JSON.parse(data)));
    socket.on("close", () => {
      for (const waiting of this.pending.values()) {
        waiting.reject(new Error("the BiDi connection closed"));
      }
      this.pending.clear();
    });
  }

  receive(message) {
    if (message.type === "event") {
      return;
    }
    const waiting = this.pending.get(message.id);
    this.pending.delete(message.id);
    clearTimeout(waiting?.timer);
    if (message.type === "error") {
      waiting?.reject(new Error(`${message.error}: ${message.message}`));
    } else {
      waiting?.resolve(message.result);
    }
  }

  send(method, params) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(id);
        reject(new Error(`${method}: no answer within ${kCommandTimeoutMs} ms`));
      }, kCommandTimeoutMs);
      this.pending.set(id, { resolve, reject, timer });
      this.socket.send(JSON.stringify({ id, method, params }));
    });
  }

  async installExtension(path) {
    return (await this.send("webExtension.install", { extensionData: { type: "path", path } }))
      .extension;
  }

  uninstallExtension(id) {
    return this.send("webExtension.uninstall", { extension: id });
  }

  async tabs() {
    return (await this.send("browsingContext.getTree", { maxDepth: 0 })).contexts;
  }

  // A tab, in the window of the tab beside when given; with type "window", in a new window.
  async newTab(url, { type = "tab", beside } = {}) {
    const { context } = await this.send("browsingContext.create",
                                        { type, ...(beside ? { referenceContext: beside } : {}) });
    if (url) {
      await this.send("browsingContext.navigate", { context, url, wait: "complete" });
    }
    return context;
  }

  closeTab(context) {
    return this.send("browsingContext.close", { context });
  }

  activate(context) {
    return this.send("browsingContext.activate", { context });
  }

  // The value of an expression (awaited when it is a promise) in the tab's page.
  async evaluate(context, expression) {
    const result = await this.send("script.evaluate", {
      expression, target: { context }, awaitPromise: true, resultOwnership: "none",
      serializationOptions: { maxObjectDepth: 4 },
    });
    if (result.type === "exception") {
      throw new Error(`${expression}: ${result.exceptionDetails.text}`);
    }
    return deserialize(result.result);
  }

  // Presses and releases each key in turn, as at a keyboard (WebDriver's keys: "\uE012" is Left).
  pressKeys(context, ...keys) {
    const actions = keys.flatMap((value) => [{ type: "keyDown", value }, { type: "keyUp", value }]);
    return this.send("input.performActions",
                     { context, actions: [{ type: "key", id: "keyboard", actions }] });
  }

  // The PNG of the tab's whole page, or of the part the clip box (page coordinates) covers.
  async screenshot(context, clip) {
    const params = { context, origin: "document",
                     ...(clip ? { clip: { type: "box", ...clip } } : {}) };
    return Buffer.from((await this.send("browsingContext.captureScreenshot", params)).data,
                       "base64");
  }

  async close() {
    if (this.child.exitCode !== null || this.child.signalCode !== null) {
      this.socket.close();
      return;
    }
    const ended = new Promise((resolve) => this.child.once("exit", resolve));
    try {
      await Promise.race([this.send("browser.close", {}),
                          new Promise((resolve) => setTimeout(resolve, 5000))]);
    } catch {
      // The socket may close before the answer comes; the process's end is what counts.
    }
    this.socket.close();
    const timer = setTimeout(() => this.child.kill("SIGKILL"), 10000);
    await ended;
    clearTimeout(timer);
  }
}

// The WebDriver BiDi address Firefox prints on its standard error once it listens.
function listeningAddress(child) {
  return new Promise((resolve, reject) => {
    let seen = "";
    const timer = setTimeout(() => reject(new Error(`Firefox did not listen: ${seen}`)),
                             kStartTimeoutMs);
    child.stderr.on("data", (chunk) => {
      seen += chunk;
      const match = /WebDriver BiDi listening on (ws:\/\/[^\s]+)/.exec(seen);
      if (match) {
        clearTimeout(timer);
        resolve(match[1]);
      }
    });
    child.on("exit", (code) => reject(new Error(`Firefox ended (${code}): ${seen}`)));
  });
}

// A BiDi remote value as plain JavaScript.
function deserialize(value) {
  switch (value.type) {
    case "undefined": return undefined;
    case "null": return null;
    case "string": case "boolean": return value.value;
    case "number": return typeof value.value === "string" ? Number(value.value) : value.value;
    case "array": return value.value.map(deserialize);
    case "object":
      return Object.fromEntries(value.value.map(([key, item]) =>
        [typeof key === "string" ? key : deserialize(key), deserialize(item)]));
    default: return value.value;
  }
}

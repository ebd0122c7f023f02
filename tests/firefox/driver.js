// What the Firefox tests and the Firefox soak share: the programs under Wine as a script sees
// them, a Firefox with the extension and its host registered, and the extension's pages.
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { Firefox } from "./bidi.js";

export const root = join(dirname(fileURLToPath(import.meta.url)), "..", "..");
export const extension = join(root, "extension");
export const work = process.env.QELM_WORK;
export const bin = process.env.QELM_BIN;
const kWine = "/usr/lib/wine/wine64";
const kAxe = readFileSync(join(root, "node_modules", "axe-core", "axe.min.js"), "utf8");

const kPrefs = {
  // A background that Firefox may suspend would be after 0.1 s of idleness (milliseconds, 100 the
  // least); this one must keep its port for the whole session.
  "extensions.background.idle.timeout": 100,
};

export function wine(program, ...args) {
  return spawnSync(kWine, [program, ...args], { encoding: "utf8",
                                                stdio: ["ignore", "pipe", "pipe"] });
}

export function qelmctl(...args) {
  const run = wine(join(bin, "qelmctl.exe"), ...args);
  if (run.status !== 0) {
    throw new Error(`qelmctl ${args.join(" ")} ended with ${run.status}: ${run.stderr}`);
  }
  return run.stdout.replaceAll("\r", "").trimEnd();
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export async function eventually(what, check, timeoutMs = 30000) {
  const end = Date.now() + timeoutMs;
  let last;
  for (;;) {
    try {
      last = await check();
      if (last) {
        return last;
      }
    } catch (error) {
      last = error;
    }
    if (Date.now() > end) {
      assert.fail(`${what}: still not so after ${timeoutMs} ms (last: ${last})`);
    }
    await sleep(250);
  }
}

// Programs of the prefix, as the user or another program would end them.
export const taskkill = (image) => wine("taskkill", "/F", "/IM", image).status;
export const companionPid = () => /^QELM is running: process (\d+)/m.exec(qelmctl("status"))?.[1];
export const hostStarts = () =>
  readFileSync(join(work, "host-starts"), "utf8").trim().split("\n").length;

// Whether the Linux process runs in this Wine prefix; other runs may have prefixes of their own.
function inOurPrefix(pid) {
  try {
    return readFileSync(`/proc/${pid}/environ`, "utf8").split("\0")
      .includes(`WINEPREFIX=${process.env.WINEPREFIX}`);
  } catch {
    return false;
  }
}

// The Linux processes whose command line starts with the program (not one that only names it):
// for a Windows program those of this prefix, for the Firefox of the home when one is given.
export function linuxProcesses(program, home) {
  const listed = spawnSync("ps", ["-eo", "pid=,args="], { encoding: "utf8" }).stdout.split("\n");
  const starts = new RegExp(`^\\s*(\\d+) "?[^ ]*${program.replace(".", "\\.")}`, "i");
  return listed.filter((line) => starts.test(line) && (!home || line.includes(home)))
    .map((line) => Number(starts.exec(line)[1]))
    .filter((pid) => !program.endsWith(".exe") || inOurPrefix(pid));
}

// The last status event that the launcher passed to a Firefox.
export const lastStatus = () => {
  const line = readFileSync(join(work, "messages.log"), "utf8").split("\n")
    .findLast((each) => / < \{.*"event":"status"/.test(each));
  return line && JSON.parse(line.slice(line.indexOf("{")));
};

// The resident memory of a Firefox's content processes, those that hold pages, in KiB. Each names
// its browser's process after -parentPid, in a command line rewritten into one string.
export function contentResidentKiB(firefox) {
  let kib = 0;
  for (const pid of readdirSync("/proc").filter((name) => /^\d+$/.test(name))) {
    try {
      const args = readFileSync(`/proc/${pid}/cmdline`, "utf8").split(/[\0 ]/);
      if (args.includes("-isForBrowser") &&
          args[args.indexOf("-parentPid") + 1] === String(firefox.child.pid)) {
        kib += Number(/^VmRSS:\s+(\d+)/m.exec(readFileSync(`/proc/${pid}/status`, "utf8"))[1]);
      }
    } catch {
      // It ended meanwhile.
    }
  }
  return kib;
}

export const hostProcesses = (home) => linuxProcesses("qelm-host.exe", home).length;

const hostManifest = (home) => join(home, ".mozilla", "native-messaging-hosts", "qelm.json");

function registerLauncher(home, launcher) {
  mkdirSync(dirname(hostManifest(home)), { recursive: true });
  writeFileSync(hostManifest(home), JSON.stringify({
    name: "qelm", description: "QELM's native-messaging host under Wine",
    path: launcher, type: "stdio", allowed_extensions: ["qelm@qelm.org"],
  }));
}

// A home of its own for a Firefox, with the launcher of ./run registered as the host qelm.
export function homeWithHost() {
  const home = mkdtempSync(join(tmpdir(), "qelm-firefox-"));
  registerLauncher(home, process.env.QELM_LAUNCHER);
  return home;
}

// Firefox for Windows finds the host through HKCU\Software\Mozilla\NativeMessagingHosts\qelm,
// this Firefox only through a manifest in the home. Until the answered function is called, the
// home's manifest follows that registration of the prefix, naming the launcher of the installed
// host, so that this Firefox finds a host exactly while Firefox for Windows would.
export function followRegistration(home) {
  let following = true;
  (async () => {
    while (following) {
      const registered = await wineExit(
        "reg", "query", "HKCU\\Software\\Mozilla\\NativeMessagingHosts\\qelm", "/ve") === 0;
      if (!following) {
        break;
      }
      if (registered) {
        registerLauncher(home, process.env.QELM_INSTALLED_LAUNCHER);
      } else {
        rmSync(hostManifest(home), { force: true });
      }
      await sleep(250);
    }
  })();
  return () => { following = false; };
}

// A Windows program's exit code, waited for without blocking; no pipes, which services that it
// starts would hold.
const wineExit = (...args) => new Promise((resolve) =>
  spawn(kWine, args, { stdio: "ignore" }).on("exit", (code) => resolve(code)));

export const msiexec = (...args) => wineExit("msiexec", ...args, "/qn");

// Firefox started with the home's profile, with more prefs and environment if given, and the
// extension installed for this session.
export async function launchWithExtension(home, prefs = {}, env = {}) {
  const firefox = await Firefox.launch({ home, prefs: { ...kPrefs, ...prefs }, env });
  try {
    firefox.extensionId = await firefox.installExtension(extension);
  } catch (error) {
    await firefox.close();
    throw error;
  }
  return firefox;
}

// The tab that shows one of the extension's pages; a first install opens the options page. An
// extension installed again has another address.
const isPage = (tab, path) => new RegExp(`^moz-extension://[^/]+/${path}$`).test(tab.url);

export async function pageTab(firefox, path) {
  return eventually(`the tab of ${path}`, async () =>
    (await firefox.tabs()).find((tab) => isPage(tab, path))?.context);
}

export async function openPopupInTab(firefox, optionsTab) {
  await firefox.evaluate(optionsTab,
                         "browser.tabs.create({ url: browser.runtime.getURL('popup/popup.html') })" +
                         ".then(() => true)");
  return pageTab(firefox, "popup/popup.html");
}

export const text = (firefox, tab, id) =>
  firefox.evaluate(tab, `document.getElementById(${JSON.stringify(id)}).innerText`);
export const click = (firefox, tab, id) =>
  firefox.evaluate(tab, `document.getElementById(${JSON.stringify(id)}).click()`);
// Types into the page's fields as a person would: each change fires the page's input event.
export const type = (firefox, tab, fields) => firefox.evaluate(tab, `(() => {
  for (const [id, value] of Object.entries(${JSON.stringify(fields)})) {
    const field = document.getElementById(id);
    if (field.type === "checkbox") {
      if (field.checked !== value) field.click();
    } else {
      field.value = value;
      field.dispatchEvent(new Event("input", { bubbles: true }));
    }
  }
})()`);
// Firefox shows a toolbar popup at most this high; the popup's height is its body's.
export const kPanelHeight = 600;
export const popupHeight = (firefox, tab) =>
  firefox.evaluate(tab, "Math.ceil(document.body.getBoundingClientRect().height)");
export const badge = (firefox, tab) =>
  firefox.evaluate(tab, "browser.browserAction.getBadgeText({})");

// axe-core's check of the page in the tab as it stands: says how many rules passed, and fails on
// any rule broken, naming the elements that break it.
export async function assertAccessible(firefox, tab, page) {
  await firefox.activate(tab);
  const { passes, violations } = await firefox.evaluate(tab, `(async () => {
    if (!window.axe) { ${kAxe} }
    const found = await axe.run(document);
    return { passes: found.passes.length, violations: found.violations.map((rule) =>
      rule.id + ": " + rule.nodes.map((node) => node.target)) };
  })()`);
  console.log(`axe-core on ${page}: ${passes} rules passed, ${violations.length} violated`);
  assert.deepEqual(violations, [], page);
}

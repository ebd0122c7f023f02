// The whole chain under load and faults: a real headless Firefox with the extension, the host
// run as Firefox for Windows runs it, the real companion beside the stand-in browser, all under
// Wine. Run by scripts/soak --firefox, which prepares the prefix and the launcher.
//   node tests/firefox/soak.js MINUTES
// Load: tab selections four times a second (tabs created, activated and closed, at most eight),
// a setting saved through the options page every 30 s, the popup opened every minute. Faults: the
// host killed every 2 minutes, the companion every 3, and once, midway, Firefox closed and started
// again with the same profile. Prints the figures and exits 1 naming each check that failed.
import { readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import {
  click, companionPid, eventually, homeWithHost, hostStarts, launchWithExtension,
  linuxProcesses, openPopupInTab, pageTab, qelmctl, sleep, taskkill, text, type, work,
} from "./driver.js";

const minutes = Number(process.argv[2] ?? 10);
const runMs = minutes * 60000;
const kTabPeriodMs = 250;
const kMostTabs = 8;
const kSettingPeriodMs = 30000;
const kPopupPeriodMs = 60000;
const kHostKillPeriodMs = 120000;
const kCompanionKillPeriodMs = 180000;
// A tab selection counts when the chain was whole around it: none in these margins of a fault.
const kFaultMarginMs = 2000;
// A reported selection reaches the host within this time of the selection.
const kReportWithinMs = 10000;
// Flat: the last figure within this share and this many KiB of the first; descriptors within 8.
const kGrowthShare = 0.25;
const kGrowthKiB = 8192;
const kDescriptorGrowth = 8;

const home = homeWithHost();
const started = Date.now();
const elapsed = () => Date.now() - started;
const stamp = () => {
  const seconds = Math.floor(elapsed() / 1000);
  return `[${String(Math.floor(seconds / 60)).padStart(2)}:${String(seconds % 60).padStart(2, "0")}]`;
};
const say = (line) => console.log(`${stamp()} ${line}`);

let firefox;
let optionsTab;
let restarting = false;
const activations = [];
const faults = [];  // { kind, at, recoveredAt }
const failures = [];
let mostCopies = 0;

// The extension's state as its options page shows it: the companion running, with its process.
const runningLine = async () => /^QELM is running \(process (\d+)\)$/.exec(
  await text(firefox, optionsTab, "state"))?.[1];

async function startFirefox() {
  firefox = await launchWithExtension(home);
  optionsTab = await pageTab(firefox, "options/options.html");
  return eventually("the extension running the companion", runningLine, 60000);
}

// --- Load ----------------------------------------------------------------------------------

async function selectTabs() {
  const tabs = [];
  while (elapsed() < runMs) {
    await sleep(kTabPeriodMs);
    if (restarting) {
      tabs.length = 0;
      continue;
    }
    try {
      if (tabs.length < kMostTabs) {
        tabs.push(await firefox.newTab());
      } else if (Math.random() < 0.1) {
        await firefox.closeTab(tabs.shift());
        continue;
      }
      const tab = tabs[Math.floor(Math.random() * tabs.length)];
      await firefox.activate(tab);
      activations.push(Date.now());
    } catch (error) {
      if (!restarting) {
        failures.push(`a tab selection failed: ${error.message}`);
      }
    }
  }
}

async function saveSettings() {
  for (let round = 1; elapsed() + kSettingPeriodMs < runMs; round++) {
    await sleep(kSettingPeriodMs);
    if (restarting) {
      continue;
    }
    const interval = String(round % 2 + 2);
    try {
      await type(firefox, optionsTab, { primaryTimeout: interval });
      await click(firefox, optionsTab, "save");
      await eventually("the options page's answer", async () =>
        /^Saved 1 setting\./.test(await text(firefox, optionsTab, "answer")), 20000);
    } catch (error) {
      failures.push(`saving primaryTimeout ${interval} at ${stamp()}: ${error.message}`);
    }
  }
}

async function openPopups() {
  while (elapsed() + kPopupPeriodMs < runMs) {
    await sleep(kPopupPeriodMs);
    if (restarting) {
      continue;
    }
    try {
      const popup = await openPopupInTab(firefox, optionsTab);
      await eventually("the popup's state", async () =>
        /^(QELM is running|QELM is not running|The QELM host has ended|Connecting)/.test(
          await text(firefox, popup, "state")));
      await firefox.closeTab(popup);
    } catch (error) {
      failures.push(`opening the popup at ${stamp()}: ${error.message}`);
    }
  }
}

// --- Faults --------------------------------------------------------------------------------

async function recover(kind, act, isRecovered) {
  const fault = { kind, at: Date.now() };
  faults.push(fault);
  await act();
  try {
    await eventually(`the extension's state after ${kind}`, isRecovered, 90000);
  } catch (error) {
    failures.push(error.message);
  }
  fault.recoveredAt = Date.now();
  say(`${kind}: the extension's state was right again after ${fault.recoveredAt - fault.at} ms`);
}

function killHost() {
  const starts = hostStarts();
  const companion = companionPid();
  return recover("host killed", () => taskkill("qelm-host.exe"), async () =>
    hostStarts() > starts && (await runningLine()) === companion);
}

function killCompanion() {
  const killed = companionPid();
  return recover("companion killed", () => taskkill("qelm.exe"), async () => {
    const shown = await runningLine();
    return shown && shown !== killed && shown === companionPid();
  });
}

function restartFirefox() {
  return recover("Firefox closed and started again", async () => {
    restarting = true;
    await firefox.close();
    await startFirefox();
    restarting = false;
  }, runningLine);
}

async function injectFaults() {
  const schedule = [];
  for (let at = kHostKillPeriodMs; at < runMs; at += kHostKillPeriodMs) {
    schedule.push({ at, run: killHost });
  }
  for (let at = kCompanionKillPeriodMs; at < runMs; at += kCompanionKillPeriodMs) {
    schedule.push({ at: at + 20000, run: killCompanion });
  }
  schedule.push({ at: runMs / 2 + 40000, run: restartFirefox });
  schedule.sort((a, b) => a.at - b.at);
  for (const fault of schedule.filter((f) => f.at < runMs - 30000)) {
    await sleep(Math.max(0, fault.at - elapsed()));
    await fault.run();
  }
}

async function countCopies() {
  while (elapsed() < runMs) {
    mostCopies = Math.max(mostCopies, linuxProcesses("qelm.exe").length);
    await sleep(1000);
  }
}

// --- Figures -------------------------------------------------------------------------------

function linuxFigures(pid) {
  try {
    const status = readFileSync(`/proc/${pid}/status`, "utf8");
    const kib = (name) => Number(new RegExp(`^${name}:\\s+(\\d+)`, "m").exec(status)?.[1]);
    return { rss: kib("VmRSS"), anon: kib("RssAnon"),
             fds: readdirSync(`/proc/${pid}/fd`).length };
  } catch {
    return null;
  }
}

function extensionProcess() {
  return linuxProcesses("firefox-esr").find((pid) => {
    try {
      return readFileSync(`/proc/${pid}/comm`, "utf8").trim() === "WebExtensions";
    } catch {
      return false;
    }
  });
}

const measurements = [];
function measure(label) {
  const programs = {
    "qelm.exe": linuxProcesses("qelm.exe")[0],
    "qelm-host.exe": linuxProcesses("qelm-host.exe", home)[0],
    "Firefox extensions": extensionProcess(),
  };
  const row = { label };
  for (const [name, pid] of Object.entries(programs)) {
    row[name] = pid ? linuxFigures(pid) : null;
  }
  measurements.push(row);
}

async function measureThirds() {
  await sleep(20000);
  measure("start");
  for (let third = 1; third <= 3; third++) {
    await sleep(Math.max(0, (runMs * third) / 3 - 5000 - elapsed()));
    while (restarting) {
      await sleep(500);
    }
    measure(`end of third ${third}`);
  }
}

function printFigures() {
  const names = ["qelm.exe", "qelm-host.exe", "Firefox extensions"];
  console.log(`\n${"".padEnd(16)}${names.map((n) => n.padEnd(30)).join("")}`);
  console.log(`${"".padEnd(16)}${names.map(() => "VmRSS KiB RssAnon KiB fds".padEnd(30)).join("")}`);
  for (const row of measurements) {
    const cells = names.map((name) => {
      const f = row[name];
      return (f ? `${String(f.rss).padStart(9)} ${String(f.anon).padStart(11)} ${String(f.fds).padStart(3)}`
                : "not running").padEnd(30);
    });
    console.log(`${row.label.padEnd(16)}${cells.join("")}`);
  }
  for (const name of names) {
    const figures = measurements.map((row) => row[name]).filter(Boolean);
    if (figures.length < 2) {
      failures.push(`${name} was measured ${figures.length} times`);
      continue;
    }
    const [first, last] = [figures[0], figures.at(-1)];
    for (const key of ["rss", "anon"]) {
      if (last[key] > first[key] * (1 + kGrowthShare) + kGrowthKiB) {
        failures.push(`${name} grew: ${key} ${first[key]} KiB, then ${last[key]} KiB`);
      }
    }
    if (last.fds > first.fds + kDescriptorGrowth) {
      failures.push(`${name} holds more descriptors: ${first.fds}, then ${last.fds}`);
    }
  }
}

// --- What passed between the extension and the hosts ---------------------------------------

function messages() {
  return readFileSync(join(work, "messages.log"), "utf8").trim().split("\n").map((line) => {
    const [at, launcher, direction, ...json] = line.split(" ");
    return { at: Number(at), launcher, direction, message: JSON.parse(json.join(" ")) };
  });
}

function checkMessages() {
  const requests = new Map();  // launcher:id -> { at, cmd, reply }
  for (const { at, launcher, direction, message } of messages()) {
    const key = `${launcher}:${message.id}`;
    if (direction === ">") {
      requests.set(key, { at, cmd: message.cmd });
    } else if (message.id !== undefined && requests.has(key)) {
      requests.get(key).reply = message;
    }
  }
  const all = [...requests.values()];
  const nearFault = (at) => faults.some((f) => at >= f.at - kFaultMarginMs &&
                                               at <= (f.recoveredAt ?? Infinity) + kFaultMarginMs);
  const unanswered = all.filter((r) => !r.reply && !nearFault(r.at));
  const tabs = all.filter((r) => r.cmd === "tab");
  const reached = tabs.filter((r) => r.reply?.ok && r.reply.reply === 1);
  const counted = activations.filter((at) => !nearFault(at));
  const lost = counted.filter((at) => !reached.some((r) => r.at >= at && r.at <= at + kReportWithinMs));
  console.log(`\nTab selections: ${activations.length} made, ${counted.length} away from faults; ` +
              `${tabs.length} tab reports sent, ${reached.length} answered by the companion ` +
              `(reply 1), ${counted.length - lost.length} of the counted selections reported or ` +
              `folded into a later report, ${lost.length} lost.`);
  console.log(`Requests of the extension: ${all.length}, ${all.filter((r) => !r.reply).length} ` +
              `without an answer (${unanswered.length} away from a fault).`);
  if (lost.length > 0) {
    failures.push(`${lost.length} tab selections reached no tab report`);
  }
  if (unanswered.length > 0) {
    failures.push(`${unanswered.length} requests went unanswered: ` +
                  unanswered.slice(0, 3).map((r) => r.cmd).join(", "));
  }
}

function printRecoveries() {
  for (const kind of new Set(faults.map((f) => f.kind))) {
    const times = faults.filter((f) => f.kind === kind).map((f) => f.recoveredAt - f.at)
      .sort((a, b) => a - b);
    console.log(`${kind}: ${times.length} times; back after median ${
      times[Math.floor(times.length / 2)]} ms, worst ${times.at(-1)} ms`);
  }
}

// --- The run -------------------------------------------------------------------------------

async function finalChecks() {
  const popup = await openPopupInTab(firefox, optionsTab);
  const error = await eventually("the popup", async () => {
    await text(firefox, popup, "state");
    return { text: await text(firefox, popup, "error") };
  });
  if (error.text !== "") {
    failures.push(`the popup's error line at the end: ${error.text}`);
  }
  const status = JSON.parse(qelmctl("status", "--json"));
  const missing = Object.entries(status.values)
    .filter(([name, value]) => value === null && name !== "activateEventComment");
  if (!status.running || missing.length > 0) {
    failures.push(`the key at the end: running ${status.running}, missing ${missing.map(([n]) => n)}`);
  }
  if (mostCopies > 1) {
    failures.push(`${mostCopies} copies of qelm.exe ran at once`);
  }
}

const companion = await startFirefox();
say(`Firefox runs the extension; QELM runs (process ${companion}); soaking for ${minutes} min`);
qelmctl("set", "activateKVDisplayEvents", "1");
await Promise.all([selectTabs(), saveSettings(), openPopups(), injectFaults(), countCopies(),
                   measureThirds()]);
await finalChecks();
await firefox.close();
printRecoveries();
printFigures();
checkMessages();
if (failures.length > 0) {
  console.log(`\nSOAK FAILED:\n  ${failures.join("\n  ")}`);
  process.exit(1);
}
console.log("\nEvery check held.");

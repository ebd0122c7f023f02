// The extension in a real headless Firefox against the real qelm-host.exe and qelm.exe under
// Wine (prepared by ./run): what a user sees and what reaches the companion's key.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import {
  copyFileSync, existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync,
  writeFileSync,
} from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, test } from "node:test";
import "../extension/browser_i18n.js";
import { mebibytes } from "../../extension/lib/metrics.js";
import {
  assertAccessible, badge, bin, click, companionPid, contentResidentKiB, eventually, extension,
  followRegistration, homeWithHost, hostProcesses, hostStarts, lastStatus, launchWithExtension,
  kPanelHeight, linuxProcesses, msiexec, openPopupInTab, pageTab, popupHeight, qelmctl, root, sleep,
  taskkill, text, type, work,
} from "./driver.js";

const screenshots = process.env.QELM_SCREENSHOTS ?? join(root, "build", "firefox");
// QELM_COLOR_SCHEME=dark shows the pages in Firefox's dark look, for the popup's dark screenshot.
// The second Firefox profile shows them in the other look.
const dark = process.env.QELM_COLOR_SCHEME === "dark";
const [kTheme, kOtherTheme] = dark ? ["dark", "light"] : ["light", "dark"];
const themePrefs = (theme) =>
  ({ "layout.css.prefers-color-scheme.content-override": theme === "dark" ? 0 : 1 });
// Pages may play sound at once, into Firefox's own stand-in for an audio device: this machine has
// none, and without one no tab becomes audible.
const kSoundPrefs = { "media.autoplay.default": 0, "media.cubeb.force_mock_context": true };
const kWine = "/usr/lib/wine/wine64";

const homes = [];

async function launchWithHome(withHost, theme = kTheme) {
  const home = withHost ? homeWithHost() : mkdtempSync(join(tmpdir(), "qelm-firefox-"));
  homes.push(home);
  return launchWithExtension(home, { ...themePrefs(theme), ...kSoundPrefs });
}

async function saveScreenshot(firefox, tab, name, selector) {
  await firefox.activate(tab);
  const box = await firefox.evaluate(tab, `(() => { const r = document.querySelector(
    ${JSON.stringify(selector)}).getBoundingClientRect();
    return { x: r.x + scrollX, y: r.y + scrollY, width: r.width, height: r.height }; })()`);
  const margin = name === "options" ? 16 : 0;
  mkdirSync(screenshots, { recursive: true });
  const file = join(screenshots, `${name}${dark ? "-dark" : ""}.png`);
  writeFileSync(file, await firefox.screenshot(tab, {
    x: Math.max(box.x - margin, 0), y: Math.max(box.y - margin, 0),
    width: box.width + 2 * margin, height: box.height + 2 * margin,
  }));
}

let firefox;
let extensionId;
let optionsTab;
let popupTab;
let tabs;
// When Firefox was started, and when the companion it started was first seen running.
let launchedAt;
let companionSeenAt;

before(async () => {
  assert.ok(work && bin, "run through tests/firefox/run");
  launchedAt = Date.now();
  firefox = await launchWithHome(true);
  extensionId = firefox.extensionId;
  optionsTab = await pageTab(firefox, "options/options.html");
});

after(async () => {
  await firefox?.close();
  for (const home of homes) {
    rmSync(home, { recursive: true, force: true });
  }
});

test("the extension starts the companion with the browser", async () => {
  await eventually("QELM running", () => qelmctl("status").startsWith("QELM is running"));
  companionSeenAt = Date.now();
  await eventually("the options page says so", async () =>
    /^QELM is running \(process \d+\)$/.test(await text(firefox, optionsTab, "state")));
});

test("the options page refuses what is not valid and writes nothing", async () => {
  await type(firefox, optionsTab, { primaryTimeout: "9", startupDelay: "soon" });
  await click(firefox, optionsTab, "save");
  assert.equal(await text(firefox, optionsTab, "message-startupDelay"),
               "Type a whole number of minutes from 0 to 1440.");
  assert.match(await text(firefox, optionsTab, "answer"), /^Nothing was saved/);
  await type(firefox, optionsTab, { "program-name": "a/b.exe" });
  await click(firefox, optionsTab, "add-program");
  assert.match(await text(firefox, optionsTab, "message-blacklist"), /no folder/);
  await click(firefox, optionsTab, "save");
  assert.match(await text(firefox, optionsTab, "message-blacklist"), /no folder/);
  assert.equal(qelmctl("get", "primaryTimeout"), "1");
  assert.equal(qelmctl("get", "blacklist"), "none");
});

test("saving the options writes the key and the companion reloads them", async () => {
  await type(firefox, optionsTab, { startupDelay: "0", activateKVDisplayEvents: true,
                                    primaryTimeout: "7", "program-name": "notepad.exe" });
  await click(firefox, optionsTab, "save");
  await eventually("the host's answer", async () =>
    (await text(firefox, optionsTab, "answer")) === "Saved 3 settings. QELM has reloaded them.");
  assert.equal(qelmctl("get", "activateKVDisplayEvents"), "1");
  assert.equal(qelmctl("get", "primaryTimeout"), "7");
  assert.equal(qelmctl("get", "blacklist"), "notepad.exe");
  // The companion's reload shows next: the tab selections leave a comment only with comments on.
});

test("switching between two tabs leads to the tab-selection comment", async () => {
  tabs = [await firefox.newTab("about:blank"), await firefox.newTab("about:blank")];
  await firefox.activate(tabs[0]);
  await firefox.activate(tabs[1]);
  await eventually("the comment in the key", () =>
    qelmctl("get", "activateEventComment").startsWith("Memory Recovery Between A Tab Selection"));
});

test("the popup shows the figures and the badge the memory load, both following a change",
     async () => {
  popupTab = await openPopupInTab(firefox, optionsTab);
  // The machine's figures and the latest comment are behind the popup's "Details".
  await firefox.evaluate(popupTab, "document.getElementById('details').open = true");
  const memoryLoad = () => /Memory in usage: *(\d+)%/.exec(
    qelmctl("get", "activateEventMemoryMetrics"))?.[1];
  await eventually("the figures and the badge", async () =>
    /Plug-in host working set\tnot running/.test(await text(firefox, popupTab, "metrics")) &&
    (await badge(firefox, popupTab)) === `${memoryLoad()}%`);

  copyFileSync(join(bin, "fixture_browser.exe"), join(work, "plugin-container.exe"));
  const pluginHost = spawn(kWine,
                           [join(work, "plugin-container.exe"), "--no-window", "--memory", "16"],
                           { stdio: "ignore" });
  try {
    // The host's sums of all the browser's and plug-in host's processes, as the last status
    // that reached the extension carried them.
    await eventually("the plug-in host's figure", async () => {
      const totals = lastStatus()?.totals;
      const shown = totals?.pluginHost && mebibytes(totals.pluginHost.workingSetKiB);
      const rows = await text(firefox, popupTab, "metrics");
      return shown && rows.includes(`Plug-in host working set\t${shown}`) &&
        rows.includes(`Firefox's working set (1 process)\t` +
                      mebibytes(totals.browser.workingSetKiB)) &&
        (await text(firefox, popupTab, "memory"))
          .endsWith(`in RAM: ${mebibytes(totals.browser.workingSetKiB)}`) &&
        (await badge(firefox, popupTab)) === `${memoryLoad()}%`;
    });
    // A periodic recovery's comment may have followed the tab selection's by now.
    await eventually("the latest comment", async () =>
      /^Memory Recovery/.test(await text(firefox, popupTab, "comment")));
    await firefox.evaluate(popupTab, "document.getElementById('details').open = false");
    // Enter on Remove takes the name out and leaves the focus in the list, on the field to add one.
    await firefox.evaluate(optionsTab, "document.querySelector('#programs button').focus()");
    if (!dark) {
      await saveScreenshot(firefox, optionsTab, "options", "main");
    }
    await assertAccessible(firefox, optionsTab, `the options page (${kTheme})`);
    await firefox.pressKeys(optionsTab, kKeys.enter);
    assert.deepEqual(await firefox.evaluate(optionsTab, `[document.activeElement.id,
      document.querySelectorAll("#programs button").length]`), ["program-name", 0]);
  } finally {
    pluginHost.kill();
  }
});

// What the popup's chart draws: the vertices of the browser's line and the marks of the reported
// tab selections.
const chartDrawn = (firefox, tab) => firefox.evaluate(tab, `(() => {
  const chart = document.getElementById("chart");
  return {
    points: (chart.querySelector(".browser")?.getAttribute("d").match(/[ML]/g) ?? []).length,
    selections: chart.querySelectorAll(".mark.selection").length,
  };
})()`);
const kKeys = { enter: "\uE007", end: "\uE010", left: "\uE012" };
// Waits until what the popup's chart draws meets the condition, and answers it.
const chartUntil = (what, condition) => eventually(what, async () => {
  const drawn = await chartDrawn(firefox, popupTab);
  if (!condition(drawn)) {
    throw new Error(JSON.stringify(drawn));
  }
  return drawn;
});
// The line under the chart with the pointer over a place (a share of the chart's width), or off it.
const chartLine = (firefox, tab, share) => firefox.evaluate(tab, `(() => {
  const chart = document.getElementById("chart");
  const box = chart.getBoundingClientRect();
  chart.dispatchEvent(${share === null ? "new PointerEvent('pointerleave')"
    : `new PointerEvent("pointermove", { clientX: box.left + box.width * ${share},
                                         clientY: box.top + box.height / 2 })`});
  return document.getElementById("chart-line").textContent;
})()`);

test("the popup's chart follows the memory figures as they come, with a mark for each reported " +
     "tab selection", async () => {
  copyFileSync(join(bin, "fixture_browser.exe"), join(work, "plugin-container.exe"));
  const pluginHost = spawn(kWine,
                           [join(work, "plugin-container.exe"), "--no-window", "--memory", "16"],
                           { stdio: "ignore" });
  try {
    const before = await chartUntil("a chart", (drawn) => drawn.points >= 2);
    const kSelections = 4;
    for (let i = 1; i <= kSelections; i++) {
      await firefox.activate(tabs[i % 2]);
      const marked = await chartUntil(`the mark of selection ${i}`,
                                      (drawn) => drawn.selections === before.selections + i);
      // The recovery comes 6 s after the selection; the figures show the fall before the next one.
      await chartUntil("three more figures", (drawn) => drawn.points >= marked.points + 3);
    }
    const drawn = await chartDrawn(firefox, popupTab);
    assert.equal(drawn.selections, before.selections + kSelections);
    assert.ok(drawn.points > before.points, "new figures appear while the popup is open");
    // One figure every 5 s at most since Firefox started, and at least since the companion was
    // first seen, give or take the one on the way.
    const most = Math.ceil((Date.now() - launchedAt) / 5000) + 1;
    const least = Math.floor((Date.now() - companionSeenAt) / 5000) - 1;
    assert.ok(drawn.points >= least && drawn.points <= most,
              `${drawn.points} figures, between ${least} and ${most} expected`);

    assert.match(await chartLine(firefox, popupTab, 0.85),
                 /^.+: browser [\d,.]+ [MG]iB, plug-in host [\d,.]+ [MG]iB, memory in use \d+ %$/);
    assert.match(await chartLine(firefox, popupTab, null),
                 /^Browser: lowest [\d,.]+ [MG]iB, highest [\d,.]+ [MG]iB, latest [\d,.]+ [MG]iB$/);
    // The keyboard alone: the chart takes the focus, and End and the left arrow move its readout.
    await firefox.activate(popupTab);
    await firefox.evaluate(popupTab, "document.getElementById('chart').focus()");
    const readout = (key) => firefox.pressKeys(popupTab, key)
      .then(() => text(firefox, popupTab, "chart-line"));
    const readouts = [await readout(kKeys.end), await readout(kKeys.left)];
    assert.ok(readouts.every((line) => /: browser .+ %$/.test(line)) && readouts[0] !== readouts[1],
              readouts.join(" / "));
    const [description, selections] = await firefox.evaluate(popupTab, `[document.getElementById(
      document.getElementById("chart").getAttribute("aria-describedby")).textContent,
      document.querySelectorAll("#chart .mark.selection").length]`);
    assert.match(description, new RegExp(`^The last \\d+ minutes\\. Browser: lowest .+\\. ` +
                                         `${selections} tab selections reported; `));
    assert.equal(await firefox.evaluate(popupTab,
                                        "document.querySelectorAll('#recoveries .recovery').length"),
                 3);
    const height = await popupHeight(firefox, popupTab);
    console.log(`The popup in English: ${height} px high`);
    assert.ok(height <= kPanelHeight, `the popup is ${height} px high`);
    await saveScreenshot(firefox, popupTab, "popup", "body");
    await assertAccessible(firefox, popupTab, `the popup (${kTheme})`);
  } finally {
    pluginHost.kill();
  }
});

test("the popup says what a tab selection's recovery did, from the figures that were sent",
     async () => {
  // A row: time, what happened, moved, freed, came back; its title the figures it comes from.
  const [row, figures] = await eventually("a recovery whose minute has passed", () =>
    firefox.evaluate(popupTab, `[...document.querySelectorAll("#recoveries .recovery")]
      .map((row) => [[...row.cells].map((cell) => cell.textContent), row.title])
      .find(([cells]) => cells[1] === "Trim, tab selection" && /iB$/.test(cells[4]))`), 90000);
  const [, , moved, freed, back] = row;
  const shown = row.join(" | ");
  assert.equal(freed, "—", "a trim frees nothing");
  const [before, after, later] = [...figures.matchAll(/: ([^;]+)/g)].map((match) => match[1]);
  // The browser's totals of each status the extension was sent, with the time it passed.
  const sent = readFileSync(join(work, "messages.log"), "utf8").split("\n")
    .filter((line) => / < \{.*"event":"status"/.test(line))
    .map((line) => [Number(line.split(" ")[0]),
                    JSON.parse(line.slice(line.indexOf("{"))).totals?.browser?.workingSetKiB])
    .filter(([, kib]) => kib);
  // A working set that grew across the recovery moved nothing, and nothing of it came back.
  const matches = sent.some(([t, b]) => mebibytes(b) === before && sent.some(([u, a]) => {
    const movedKiB = Math.max(b - a, 0);
    return u > t && u <= t + 20000 && mebibytes(a) === after && mebibytes(movedKiB) === moved &&
      sent.some(([v, l]) => v >= u + 40000 && v <= u + 80000 && mebibytes(l) === later &&
                            mebibytes(Math.min(Math.max(l - a, 0), movedKiB)) === back);
  }));
  assert.ok(matches, `"${shown}" (${figures}) is not what was sent`);
});

test("with the browser's memory not to be recovered, tab switches list no recovery, and the " +
     "popup and the options page say why", async () => {
  // The recoveries listed, by when and what: their figures may still come in meanwhile.
  const trims = () => firefox.evaluate(popupTab, `[...document.querySelectorAll(
    "#recoveries .recovery")].map((row) => row.cells[0].textContent + row.cells[1].textContent)`);
  await type(firefox, optionsTab, { app_1: false });
  await click(firefox, optionsTab, "save");
  await eventually("the popup's and the options page's notes", async () =>
    qelmctl("get", "app_1") === "0" && /^“Recover the browser's memory” is off in the options: /
      .test(await text(firefox, popupTab, "trims-held")) &&
    !(await firefox.evaluate(optionsTab, "document.getElementById('pressure-held').hidden")));
  const before = await trims();
  try {
    for (const tab of [tabs[0], tabs[1], tabs[0]]) {
      await firefox.activate(tab);
    }
    // The tab delay is six seconds; a trim's figures are in 15 s after it.
    await sleep(25000);
    assert.deepEqual(await trims(), before);
  } finally {
    await firefox.activate(popupTab);
    await type(firefox, optionsTab, { app_1: true });
    await click(firefox, optionsTab, "save");
    await eventually("recovery on again", async () => qelmctl("get", "app_1") === "1" &&
      await firefox.evaluate(popupTab, "document.getElementById('trims-held').hidden"));
  }
});

test("the popup switches global mode on and off", async () => {
  const details = (open) =>
    firefox.evaluate(popupTab, `document.getElementById("details").open = ${open}`);
  await details(true);
  await click(firefox, popupTab, "global");
  await eventually("global mode on", async () => qelmctl("get", "global") === "1" &&
    (await text(firefox, popupTab, "global")) === "Global mode off");
  await click(firefox, popupTab, "global");
  await eventually("global mode off", async () => qelmctl("get", "global") === "0" &&
    (await text(firefox, popupTab, "global")) === "Global mode on");
  await details(false);
});

test("the popup stops the companion and starts it again", async () => {
  await click(firefox, popupTab, "start-stop");
  await eventually("the popup says so", async () =>
    (await text(firefox, popupTab, "state")) === "QELM is not running");
  assert.equal(qelmctl("status").split("\n")[0], "QELM is not running");
  assert.equal(await badge(firefox, popupTab), "off");
  assert.equal(await text(firefox, popupTab, "start-stop"), "Start QELM");

  await click(firefox, popupTab, "start-stop");
  await eventually("running again", async () =>
    /^QELM is running \(process \d+\)$/.test(await text(firefox, popupTab, "state")));
  assert.match(qelmctl("status"), /^QELM is running/);
  assert.equal(await text(firefox, popupTab, "error"), "");
});

test("qelmctl exit during a start-up delay, after Stop and Start: the popup says who ended it " +
     "within seconds, and nothing starts it again", async () => {
  const kNotice = new RegExp("^QELM was stopped by another program or Firefox profile at .+\\. " +
    "It stays stopped until you or another program starts it, or Firefox starts again\\.$");
  const state = () => text(firefox, popupTab, "state");
  qelmctl("set", "startupDelay", "5");
  await click(firefox, popupTab, "start-stop");
  await eventually("stopped", async () => (await state()) === "QELM is not running");
  await click(firefox, popupTab, "start-stop");
  const pid = await eventually("started", async () =>
    /\(process (\d+)\)$/.exec(await state())?.[1]);
  qelmctl("exit");
  const exited = Date.now();
  await eventually("the popup says so", async () => (await state()) === "QELM is not running" &&
    kNotice.test(await text(firefox, popupTab, "notice")), 5000);
  console.log(`process ${pid} ended by qelmctl exit; ${Date.now() - exited} ms later the popup ` +
              `said: ${await state()} | ${await text(firefox, popupTab, "notice")}`);
  await sleep(30000);
  assert.equal(companionPid(), undefined);
  assert.equal(await state(), "QELM is not running");
  assert.match(await text(firefox, popupTab, "notice"), kNotice);
  qelmctl("set", "startupDelay", "0");
  await click(firefox, popupTab, "start-stop");
  await eventually("running again", companionPid);
});

// A page that holds 100 MiB of touched memory, and plays a tone or asks before it is left when
// asked to.
const kHeldMiB = 100;
const heldPage = ({ tone = false, asks = false } = {}) => `<script>
  window.held = new Uint8Array(${kHeldMiB} * 2 ** 20).fill(1);
  ${tone ? "const c = new AudioContext(), o = c.createOscillator();" +
           "o.connect(c.destination); o.start();" : ""}
  ${asks ? "addEventListener('beforeunload', window.ask = (event) => event.preventDefault());" : ""}
</script>`;
const heldData = (kind) => "data:text/html," + encodeURIComponent(heldPage(kind));
// The tabs of those pages as the extension sees them, in the order they were opened.
const heldTabs = () => firefox.evaluate(optionsTab, `browser.tabs.query({}).then((tabs) => tabs
  .filter((tab) => tab.url.includes("held")).sort((a, b) => a.id - b.id)
  .map(({ id, windowId, audible, discarded, autoDiscardable }) =>
    ({ id, windowId, audible, discarded, autoDiscardable })))`);
const mib = (kib) => `${Math.round(kib / 1024)} MiB`;

test("memory running short unloads idle tabs a few at a time, least recently used first, not the " +
     "one in view in each window, a pinned, an audible one, one of a site kept nor one that asks " +
     "before it is left, and Firefox's content processes give back what they held", async () => {
  // The site kept, as a server of this machine; the other pages have no host.
  const site = createServer((request, response) =>
    response.writeHead(200, { "content-type": "text/html" }).end(heldPage()));
  await new Promise((resolve) => site.listen(0, resolve));
  const kept = `http://localhost:${site.address().port}/held`;
  const second = await firefox.newTab(undefined, { type: "window" });
  // 0 pinned, 1 audible, 2 and 6 ask before they are left, 4 of the site kept, 9 in view.
  const pages = [heldData(), heldData({ tone: true }), heldData({ asks: true }), heldData(), kept,
                 heldData(), heldData({ asks: true }), heldData(), heldData(), heldData()];
  const contexts = [];
  for (const page of pages) {
    contexts.push(await firefox.newTab(page, { beside: second }));
  }
  site.close();
  const opened = await heldTabs();
  await firefox.evaluate(optionsTab, `browser.tabs.update(${opened[0].id}, { pinned: true })
    .then(() => true)`);
  await eventually("the tone", async () => (await heldTabs())[1].audible);
  // Used in this order, so the least recently used are 4, 8, 5, 2, 7, 3, 6. Firefox honours a
  // page's question before it is left only once the user has acted on the page (it unloads one
  // that nobody typed into): 2 and 6 get a key pressed.
  for (const at of [8, 5, 2, 7, 3, 6, 9]) {
    await firefox.activate(contexts[at]);
    if (at === 2 || at === 6) {
      await firefox.pressKeys(contexts[at], "a");
    }
  }
  const usedAt = Date.now();
  await firefox.activate(optionsTab);
  await firefox.evaluate(optionsTab, `window.unloadedInOrder = [];
    browser.tabs.onUpdated.addListener((id, change) => change.discarded &&
      window.unloadedInOrder.push(id), { properties: ["discarded"] }); true`);
  // A tab used in the last minute stays.
  await sleep(usedAt + 61000 - Date.now());
  const before = contentResidentKiB(firefox);
  await type(firefox, optionsTab, { unloadIdleTabs: true, pressurePercent: "1",
                                    unloadAfterMinutes: "1", keptSites: "localhost" });
  await click(firefox, optionsTab, "save");
  // With the key's settings too, if the page holds changes of them that were not saved.
  await eventually("the answer", async () =>
    /^Saved the options for short memory\.$| The options for short memory are saved too\.$/
      .test(await text(firefox, optionsTab, "answer")));
  await eventually("the unloading", () =>
    firefox.evaluate(optionsTab, "window.unloadedInOrder.length >= 4"));
  // The next status's turn finds no tab that may go.
  await sleep(6000);
  const held = await heldTabs();
  const inOrder = await firefox.evaluate(optionsTab, "window.unloadedInOrder");
  assert.deepEqual(held.map((tab) => tab.discarded),
                   [false, false, false, true, false, true, false, true, true, false]);
  assert.deepEqual(inOrder, [8, 5, 7, 3].map((at) => held[at].id));
  assert.deepEqual(held.map((tab) => tab.autoDiscardable),
                   [true, true, true, true, false, true, true, true, true, true]);
  const unloadedKiB = 4 * kHeldMiB * 1024;
  let after;
  try {
    await eventually("half of it given back", () =>
      before - (after = contentResidentKiB(firefox)) >= unloadedKiB / 2, 20000);
  } finally {
    console.log(`Content processes' resident memory: ${mib(before)} before unloading 4 tabs ` +
                `that held ${mib(unloadedKiB)}, ${mib(after)} after (${mib(before - after)} less)`);
  }

  popupTab = await openPopupInTab(firefox, optionsTab);
  const unloaded = await firefox.evaluate(popupTab,
    "browser.tabs.query({ discarded: true }).then((tabs) => tabs.length)");
  // Each turn chose three tabs, and Firefox kept one of them: the popup's table has a row a turn.
  const turns = await eventually("the popup's account", async () => {
    const said = await firefox.evaluate(popupTab, `[...document.querySelectorAll(
      "#recoveries .recovery")].map((row) => /^Unloaded (\\d+) tabs?$/.exec(row.cells[1].textContent))
      .filter(Boolean).map((match) => Number(match[1])).reverse()`);
    return said.length === 2 && said;
  });
  console.log(`Unloading: ${held.filter((tab) => !tab.discarded).length} of ${held.length} ` +
              `pages kept, ${unloaded} tabs unloaded in turns of ${turns.join(" and ")}`);
  assert.deepEqual(turns, [2, 2]);
  assert.equal(turns[0] + turns[1], unloaded, "the popup counts the tabs Firefox unloaded");
  await saveScreenshot(firefox, popupTab, "popup-unload", "body");
  // Firefox would load the old popup's tab, unloaded, if the extension went (as it does below);
  // the pages that ask before they are left would hold their window open.
  for (const at of [2, 6]) {
    await firefox.evaluate(contexts[at], "removeEventListener('beforeunload', window.ask), true");
  }
  await firefox.evaluate(popupTab, `browser.windows.remove(${held[0].windowId})
    .then(() => browser.tabs.query({ discarded: true }))
    .then((tabs) => browser.tabs.remove(tabs.map((tab) => tab.id))).then(() => true)`);
});

test("memory running short asks for one recovery, and no more within the trigger's wait",
     async () => {
  const tabRequests = (since) => readFileSync(join(work, "messages.log"), "utf8").split("\n")
    .filter((line) => / > \{.*"cmd":"tab"/.test(line) && Number(line.split(" ")[0]) >= since);
  const since = Date.now();
  await type(firefox, optionsTab, { pressureRecovery: true, unloadIdleTabs: false });
  await click(firefox, optionsTab, "save");
  await eventually("a recovery asked for", () => tabRequests(since).length > 0, 15000);
  await firefox.evaluate(popupTab, "document.getElementById('details').open = true");
  await eventually("the popup says when the next may come", async () =>
    /^The next recovery for memory pressure may come at .+\.$/.test(
      await text(firefox, popupTab, "pressure-next")));
  await sleep(30000);
  assert.equal(tabRequests(since).length, 1, tabRequests(since).join("\n"));
  await type(firefox, optionsTab, { pressureRecovery: false });
  await click(firefox, optionsTab, "save");
});

test("the port to the host stayed open for the whole session", () => {
  assert.equal(readFileSync(join(work, "host-starts"), "utf8").trim().split("\n").length, 1);
});

test("Stop in another Firefox profile: this one leaves the companion stopped and says who " +
     "stopped it, until the user starts it again", async () => {
  const other = await launchWithHome(true, kOtherTheme);
  try {
    const otherOptions = await pageTab(other, "options/options.html");
    const otherPopup = await openPopupInTab(other, otherOptions);
    await eventually("the other profile finds the companion", async () =>
      /^QELM is running/.test(await text(other, otherPopup, "state")));
    await click(other, otherPopup, "start-stop");
    await eventually("this profile says so", async () =>
      /^QELM was stopped by another program or Firefox profile at .+\. It stays stopped until you /
        .test(await text(firefox, popupTab, "notice")));
    await sleep(5000);
    assert.equal(companionPid(), undefined, "neither profile started it again");
    assert.equal(await text(firefox, popupTab, "state"), "QELM is not running");

    await click(firefox, popupTab, "start-stop");
    const pid = await eventually("running again", companionPid);
    await eventually("both profiles see it", async () =>
      (await text(other, otherPopup, "state")) === `QELM is running (process ${pid})` &&
      (await text(firefox, popupTab, "notice")) === "");
    // The pages in the other look, in this Firefox rather than one of their own.
    await eventually("the other profile's chart", () =>
      other.evaluate(otherPopup, "Boolean(document.querySelector('#chart .browser'))"));
    await assertAccessible(other, otherOptions, `the options page (${kOtherTheme})`);
    await assertAccessible(other, otherPopup, `the popup (${kOtherTheme})`);
  } finally {
    await other.close();
  }
});

test("the companion killed while Firefox runs is started again within its retry delay",
     async () => {
  const killed = await eventually("QELM running", companionPid);
  assert.equal(taskkill("qelm.exe"), 0);
  const started = Date.now();
  const again = await eventually("a new companion", () => {
    const pid = companionPid();
    return pid !== killed && pid;
  }, 15000);
  // The first try comes after a second; the start itself takes a moment under Wine.
  assert.ok(Date.now() - started < 10000, `started again after ${Date.now() - started} ms`);
  await eventually("the popup says what happened", async () =>
    (await text(firefox, popupTab, "state")) === `QELM is running (process ${again})` &&
    /^QELM ended unexpectedly at .+ and was started again\.$/.test(
      await text(firefox, popupTab, "notice")));
});

test("the host killed while Firefox runs: Firefox sees the port close, a new host comes, and " +
     "the companion runs on", async () => {
  const companion = await eventually("QELM running", companionPid);
  const starts = hostStarts();
  assert.equal(taskkill("qelm-host.exe"), 0);
  await eventually("a new host", () => hostStarts() === starts + 1, 15000);
  await eventually("the popup connected again", async () =>
    (await text(firefox, popupTab, "state")) === `QELM is running (process ${companion})`);
  assert.equal(companionPid(), companion);
});

test("qelmctl exit --installer with the same install staying: the companion runs again once the " +
     "installer's wait is over, and the popup says so", async () => {
  const popup = async () => `${await text(firefox, popupTab, "state")} | ` +
    `${await text(firefox, popupTab, "notice")}`;
  const before = await eventually("QELM running", companionPid);
  const closedAt = Date.now();
  qelmctl("exit", "--installer");
  await eventually("the popup says why", async () =>
    /\| QELM was closed by its installer at .+ once the installer is done/.test(await popup()));
  console.log(`after qelmctl exit --installer: ${await popup()}`);
  const pid = await eventually("running again", () => companionPid() !== before && companionPid(),
                               120000);
  await eventually("the popup says so", async () =>
    (await popup()) === `QELM is running (process ${pid}) | `, 10000);
  console.log(`running again ${Date.now() - closedAt} ms after qelmctl exit --installer: ` +
              await popup());
});

test("the extension reloaded: the same companion runs throughout and is found again",
     async () => {
  const companion = await eventually("QELM running", companionPid);
  await firefox.uninstallExtension(extensionId);
  // Firefox closes the port; the host ends with its input, and its job is terminated.
  await eventually("the host's end", () => hostProcesses(homes[0]) === 0, 10000);
  await eventually("the extension's pages closed", async () =>
    !(await firefox.tabs()).some((tab) => tab.url.startsWith("moz-extension:")));
  assert.equal(companionPid(), companion);
  extensionId = await firefox.installExtension(extension);
  optionsTab = await pageTab(firefox, "options/options.html");
  await eventually("the extension finds it", async () =>
    (await text(firefox, optionsTab, "state")) === `QELM is running (process ${companion})`);
  assert.equal(companionPid(), companion);
});

test("Firefox closed: the companion runs on beside the stand-in browser", async () => {
  const companion = await eventually("QELM running", companionPid);
  await firefox.close();
  await eventually("the host's end", () => hostProcesses(homes[0]) === 0, 10000);
  await new Promise((resolve) => setTimeout(resolve, 1000));
  assert.equal(companionPid(), companion);
});

test("in global mode the companion keeps running once the stand-in browser is closed too",
     async () => {
  const companion = await eventually("QELM running", companionPid);
  qelmctl("set", "global", "1");
  assert.equal(taskkill("firefox.exe"), 0);
  // The companion's watchdog looks for the browser every 5 seconds.
  await new Promise((resolve) => setTimeout(resolve, 11000));
  assert.equal(companionPid(), companion);
});

test("with global mode off again the companion ends by its own watchdog and leaves its status",
     async () => {
  qelmctl("set", "global", "0");
  await eventually("the companion's end", () => !companionPid(), 15000);
  assert.equal(qelmctl("get", "activateEventMemoryMetrics"),
               "Activate Lumbrel To See Current WorkingSetSize");
  assert.equal(qelmctl("get", "startKVX"), "0");
  assert.equal(qelmctl("get", "activateEventComment"), "Stopped Lumbrel's Memory Recovery");
});

test("without a registered host the pages say it is not installed and how to install it",
     async () => {
  const bare = await launchWithHome(false);
  try {
    const options = await pageTab(bare, "options/options.html");
    await eventually("the options page", async () =>
      (await text(bare, options, "state")) === "QELM is not installed");
    assert.equal(await bare.evaluate(options, "document.getElementById('install').hidden"), false);
    assert.match(await text(bare, options, "install"),
                 /its installer, qelm-<version>-x64\.msi, or run qelmctl install in the folder/);
    const popup = await openPopupInTab(bare, options);
    await eventually("the popup", async () =>
      (await text(bare, popup, "state")).startsWith("QELM is not installed"));
    assert.equal(await bare.evaluate(popup, "document.getElementById('install').hidden"), false);
    assert.match(await text(bare, popup, "install"), /qelmctl install/);
    assert.equal(await badge(bare, popup), "!");
  } finally {
    await bare.close();
  }
});

test("an option that an administrator set by policy shows so on the options page, locked",
     async () => {
  const home = mkdtempSync(join(tmpdir(), "qelm-firefox-"));
  homes.push(home);
  const policies = join(home, "policies.json");
  writeFileSync(policies, JSON.stringify({ policies: { "3rdparty": { Extensions: {
    "qelm@qelm.org": { unloadIdleTabs: true, keptSites: ["intranet.example"] } } } } }));
  // Firefox reads a policies.json other than the installation's only when run by automation.
  const managed = await launchWithExtension(home, { ...themePrefs(kTheme),
    "browser.policies.alternatePath": policies,
    "security.turn_off_all_security_so_that_viruses_can_take_over_this_computer": true,
  }, { MOZ_DISABLE_NONLOCAL_CONNECTIONS: "1" });
  try {
    const options = await pageTab(managed, "options/options.html");
    const field = (name) => managed.evaluate(options, `(({ disabled, checked }, note) =>
      ({ disabled, checked, note: note.checkVisibility() && note.textContent }))(
      document.getElementById("${name}"), document.getElementById("managed-${name}"))`);
    await eventually("the administrator's option", async () =>
      (await field("unloadIdleTabs")).disabled);
    assert.deepEqual(await field("unloadIdleTabs"),
                     { disabled: true, checked: true, note: "Set by your administrator." });
    assert.deepEqual(await field("pressureRecovery"),
                     { disabled: false, checked: false, note: false });
    assert.deepEqual(await managed.evaluate(options, `(({ disabled, value }) => [disabled, value])(
      document.getElementById("keptSites"))`), [true, "intranet.example"]);
  } finally {
    await managed.close();
  }
});

// Whether a Linux process still runs (one that has ended can stay listed, unreaped).
const alive = (pid) => {
  try {
    return !/^\d+ \(.*\) [ZX]/.test(readFileSync(`/proc/${pid}/stat`, "utf8"));
  } catch {
    return false;
  }
};
const inode = (file) => (existsSync(file) ? statSync(file).ino : null);

// Runs the installer, sampling until it is done: no program of the old files may run once one of
// them has been removed or replaced, as on Windows, where a file in use cannot be.
async function installWatching(pids, file, ...args) {
  const installing = msiexec(...args);
  let done = false;
  installing.then(() => { done = true; });
  const original = inode(file);
  while (!done) {
    const running = pids.filter(alive);
    assert.ok(inode(file) === original || running.length === 0,
              `${running} still ran when ${file} was replaced or removed`);
    await sleep(50);
  }
  return installing;
}

test("uninstall and upgrade while Firefox runs: the programs end before their files go, the " +
     "upgrade's own run again within seconds, and after the uninstall none comes back",
     async () => {
  const folder = process.env.QELM_PROGRAMS.replace(/^C:/i, join(process.env.WINEPREFIX, "drive_c"))
    .replaceAll("\\", "/");
  const programs = (home) => ({ hosts: linuxProcesses("qelm-host.exe", home),
                                companions: linuxProcesses("qelm.exe") });
  assert.equal(await msiexec("/i", process.env.QELM_MSI), 0);
  const browser = spawn(kWine, [join(work, "firefox.exe"), "--inner", "--content", "1"],
                        { stdio: "ignore" });
  const home = mkdtempSync(join(tmpdir(), "qelm-firefox-"));
  homes.push(home);
  const stopFollowing = followRegistration(home);
  const installed = await launchWithExtension(home, themePrefs(kTheme));
  try {
    const options = await pageTab(installed, "options/options.html");
    const popup = await openPopupInTab(installed, options);
    const first = await eventually("the installed companion", companionPid);
    const before = await eventually("its host",
                                    () => programs(home).hosts.length && programs(home));
    console.log("before the upgrade:", before, readdirSync(folder));

    const upgrading = [...before.hosts, ...before.companions];
    assert.equal(await installWatching(upgrading, join(folder, "qelm-host.exe"), "/i",
                                       process.env.QELM_MSI_NEXT), 0);
    const upgradedAt = Date.now();
    const upgraded = await eventually("the new host and companion", () => {
      const now = programs(home);
      return now.hosts.some((pid) => !before.hosts.includes(pid)) && now.companions.length > 0 &&
        companionPid() !== first && companionPid() && now;
    }, 10000);
    console.log(`after the upgrade (${Date.now() - upgradedAt} ms):`, upgraded,
                readdirSync(folder));
    await eventually("the popup", async () =>
      /^QELM is running/.test(await text(installed, popup, "state")));

    const removing = [...upgraded.hosts, ...upgraded.companions];
    assert.equal(await installWatching(removing, join(folder, "qelm-host.exe"), "/x",
                                       process.env.QELM_MSI_NEXT), 0);
    await sleep(30000);
    const after = programs(home);
    console.log("30 s after the uninstall:", after, existsSync(folder));
    assert.deepEqual(after, { hosts: [], companions: [] });
    assert.equal(existsSync(folder), false);
    assert.match(await text(installed, popup, "state"), /^QELM is not installed/);

    // Installed again, stopped by the user, then upgraded: it stays stopped.
    const kStopped = /^QELM was stopped in this browser at .+ or Firefox starts again\.$/;
    assert.equal(await msiexec("/i", process.env.QELM_MSI), 0);
    await eventually("the reinstalled companion", async () =>
      /^QELM is running/.test(await text(installed, popup, "state")), 90000);
    await click(installed, popup, "start-stop");
    await eventually("stopped", async () => kStopped.test(await text(installed, popup, "notice")));
    assert.equal(await msiexec("/i", process.env.QELM_MSI_NEXT), 0);
    await eventually("the upgrade's host", async () => programs(home).hosts.length > 0 &&
      (await text(installed, popup, "state")) === "QELM is not running", 60000);
    await sleep(20000);
    console.log("20 s after the upgrade:", programs(home), await text(installed, popup, "notice"));
    assert.deepEqual(programs(home).companions, []);
    assert.match(await text(installed, popup, "notice"), kStopped);
    assert.equal(await msiexec("/x", process.env.QELM_MSI_NEXT), 0);
  } finally {
    stopFollowing();
    await installed.close();
    browser.kill();
  }
});

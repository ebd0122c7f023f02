// Keeps the port to the host for the whole browser session: starts the companion with the
// browser, reports every tab selection, keeps the toolbar button up to date, shows each new
// comment as a notification, keeps the last hour of the memory figures for the popup's chart, and
// answers the popup and the options page. When memory runs short it asks for a recovery or unloads
// idle tabs, as the user or the administrator chose, and it tells what each recovery did.
import { coalesced } from "../lib/coalesce.js";
import { CompanionLife } from "../lib/companion.js";
import { commentKind, kHourMs, MemoryHistory } from "../lib/history.js";
import { HostConnection, replyError } from "../lib/host.js";
import { t } from "../lib/i18n.js";
import { effectiveOptions, readManaged } from "../lib/memory_options.js";
import { parseMetrics } from "../lib/metrics.js";
import { PressureTrigger } from "../lib/pressure.js";
import { companionTrims, hourSummary, RecoveryLog, trimsHeld } from "../lib/recoveries.js";
import { isKeptSite, nextTurn, tabsToUnload } from "../lib/unload.js";
import { commentToNotify, describe } from "../lib/view.js";

let commentSeenAt = null;
const views = new Set();
const memoryHistory = new MemoryHistory();
const recoveries = new RecoveryLog();
let memoryOptions = effectiveOptions({}, {});
// Trimming and unloading each wait between their turns, and longer while they do not help.
const trimTrigger = new PressureTrigger(memoryOptions.values.pressurePercent);
const unloadTrigger = new PressureTrigger(memoryOptions.values.pressurePercent);
let lastUnload = null;
// The unloading for memory pressure under way: how many tabs it has unloaded, the tabs Firefox
// kept, and whether a turn is running.
let unloading = null;
// What the toolbar button and the open pages were last given, so that they are redrawn only
// when something they show has changed.
let shownButton = null;
let sentState = null;

const host = new HostConnection({
  connect: (name) => browser.runtime.connectNative(name),
  setTimer: (run, ms) => setTimeout(run, ms),
  clearTimer: (timer) => clearTimeout(timer),
  onChange: () => showState(),
  onHello: (installed) => companion.hello(installed),
  onStatus: (status, previous) => {
    companion.status(status);
    memoryHistory.observe(status, Date.now());
    noticeComment(status, previous);
    relieveMemory(status);
  },
  onClosing: (since) => companion.closing(since),
  onClosed: () => companion.portClosed(),
});

// Whether the companion is started is its own decision; its requests go as the user's do.
const companion = new CompanionLife({
  start: () => ask("start", {}, { byUser: false }),
  stop: () => ask("exit", {}, { byUser: false }),
  setTimer: (run, ms) => setTimeout(run, ms),
  clearTimer: (timer) => clearTimeout(timer),
  onChange: () => showState(),
});

function memorySnapshot(samples, now) {
  const outcomes = recoveries.outcomes(samples, now, kHourMs);
  return {
    options: memoryOptions.values,
    recoveries: outcomes.slice(-5),
    summary: hourSummary(outcomes),
    pressureNextAt: memoryOptions.values.pressureRecovery ? trimTrigger.nextAllowedAt() : null,
    trimsHeld: trimsHeld(host.status),
    lastUnload,
  };
}

function snapshot() {
  const now = Date.now();
  const history = memoryHistory.recent(now);
  return {
    state: host.state,
    error: host.error,
    retryAt: host.retryAt,
    status: host.status,
    commentSeenAt,
    history,
    memory: memorySnapshot(history.samples, now),
    companion: companion.shown,
  };
}

function showState() {
  const shown = describe(host);
  const button = JSON.stringify([shown.badge, shown.color, shown.title]);
  if (button !== shownButton) {
    shownButton = button;
    browser.browserAction.setBadgeText({ text: shown.badge });
    browser.browserAction.setBadgeBackgroundColor({ color: shown.color });
    browser.browserAction.setTitle({ title: shown.title });
  }
  // With no page open, nothing proportional to the hour of figures is done.
  if (views.size === 0) {
    return;
  }
  const state = snapshot();
  const sent = JSON.stringify(state);
  if (sent === sentState) {
    return;
  }
  sentState = sent;
  for (const view of views) {
    view.postMessage(state);
  }
}

function noticeComment(status, previous) {
  // The first status of a connection tells nothing of when its comment came.
  if (!previous) {
    commentSeenAt = null;
  } else if (status.comment !== previous.comment) {
    commentSeenAt = Date.now();
  }
  const comment = commentToNotify(status, previous);
  if (comment) {
    memoryHistory.markComment(comment, Date.now());
    const kind = commentKind(comment);
    if (kind && kind !== "stop" && companionTrims(status, kind)) {
      recoveries.confirmTrim(kind, Date.now());
    }
    browser.notifications.create("qelm-comment", {
      type: "basic",
      title: "QELM",
      message: comment,
      iconUrl: browser.runtime.getURL("icons/qelm-96.png"),
    });
  }
}

// A command from the popup or the options page, or the companion's own start and stop. Its
// error is kept to show until the next command succeeds.
async function ask(cmd, fields, { byUser = true, kind = "now" } = {}) {
  if (byUser && cmd === "start") {
    return companion.userStart();
  }
  if (byUser && cmd === "exit") {
    return companion.userStop();
  }
  let reply;
  try {
    reply = await host.request(cmd, fields);
  } catch (error) {
    host.error = error.message;
    showState();
    throw error;
  }
  host.error = replyError(reply);
  if (cmd === "tab") {
    noticeTabReport(kind);
  }
  if (cmd !== "status") {
    // The command is done whatever comes of this; the host's events follow anyway.
    await host.request("status").then((status) => host.takeStatus(status), () => showState());
  }
  return reply;
}

// One tab report at a time: switching through many tabs quickly sends two, not a queue that
// would hold up the popup's and the options page's commands.
let tabReportError = null;
const reportTab = coalesced(async () => {
  try {
    await host.request("tab");
    noticeTabReport("tab");
    if (host.error === tabReportError) {
      host.error = null;
    }
    showState();
  } catch (error) {
    host.error = tabReportError = t("errorTabNotReported", error.message);
    showState();
  }
});

// A tab report leads to a trim after the tab delay (0: six seconds), once recovery has started
// and while the browser is to be trimmed; otherwise the companion does nothing with it.
function noticeTabReport(kind) {
  const minutes = host.status?.settings?.tabDelay ?? 0;
  const delayMs = minutes > 0 ? minutes * 60000 : 6000;
  memoryHistory.markSelection(Date.now());
  if (companionTrims(host.status, kind)) {
    recoveries.expectTrim(kind, Date.now(), delayMs);
    // The popup lists a recovery once its moment has come, which no status of the host may mark:
    // figures that stay the same send none.
    setTimeout(showState, delayMs);
  }
}

async function loadMemoryOptions() {
  const [local, managed] = await Promise.all([browser.storage.local.get(),
                                              readManaged(browser.storage)]);
  memoryOptions = effectiveOptions(local, managed);
  trimTrigger.percent = memoryOptions.values.pressurePercent;
  unloadTrigger.percent = memoryOptions.values.pressurePercent;
  markKeptTabs();
  showState();
}

// Each trigger learns what its own recoveries did once a minute has shown what came back; each
// recovery is judged once, from the figures around it.
function judgeOutcomes(now) {
  recoveries.judgeSettled(now, (time) => memoryHistory.since(time), (outcome) =>
    (outcome.kind === "pressure" ? trimTrigger : unloadTrigger).observeOutcome(outcome));
}

function relieveMemory(status) {
  const load = parseMetrics(status.running ? status.metrics : null)?.memoryLoad;
  const { pressureRecovery, unloadIdleTabs } = memoryOptions.values;
  if (load === undefined || !(pressureRecovery || unloadIdleTabs)) {
    return;
  }
  judgeOutcomes(Date.now());
  // While the companion would not trim, a recovery asked for would do nothing.
  if (pressureRecovery && companionTrims(status, "pressure") && trimTrigger.observeLoad(load)) {
    ask("tab", {}, { byUser: false, kind: "pressure" }).catch(() => {});
  }
  unloadForPressure(load, unloadIdleTabs);
}

// The tabs that may be unloaded now, the least recently used first. Unloading is the only action
// that frees the browser's memory for real.
async function unloadableTabs(now) {
  // The extension's own pages stay: one unloaded would come back after the extension's removal.
  const own = browser.runtime.getURL("");
  const tabs = (await browser.tabs.query({})).filter((tab) => !tab.url?.startsWith(own));
  const { unloadAfterMinutes, keptSites } = memoryOptions.values;
  return tabsToUnload(tabs, now, unloadAfterMinutes, keptSites);
}

// The tabs an unloading is at: the button's and memory pressure's may run at once, and each
// counts only the tabs it unloaded itself.
const discarding = new Set();

// Unloads the tabs one by one and answers how many Firefox did unload, adding those it kept to the
// set; a tab another unloading is at, or that is unloaded already, is left to it.
async function discardTabs(tabs, kept) {
  let unloaded = 0;
  for (const tab of tabs) {
    if (discarding.has(tab.id)) {
      continue;
    }
    discarding.add(tab.id);
    const done = await discardTab(tab.id);
    discarding.delete(tab.id);
    if (done) {
      unloaded++;
    } else if (done === false) {
      kept.add(tab.id);
    }
  }
  return unloaded;
}

// Whether this call turned the tab from loaded to unloaded; null when it was unloaded before. The
// call resolves even when Firefox keeps the tab (a page that asks before it is left, one showing
// a dialog), and a tab closed meanwhile must not stop the others.
async function discardTab(id) {
  try {
    if ((await browser.tabs.get(id)).discarded) {
      return null;
    }
    await browser.tabs.discard(id);
    return (await browser.tabs.get(id)).discarded;
  } catch {
    return false;
  }
}

function recordUnload(time, tabs) {
  recoveries.add({ kind: "unload", time, tabs });
  memoryHistory.markUnload(time);
}

// The button's unloading: every tab that may go, at once, for the user asked for it.
async function unloadIdle() {
  const now = Date.now();
  const unloaded = await discardTabs(await unloadableTabs(now), new Set());
  if (unloaded > 0) {
    recordUnload(now, unloaded);
  }
  lastUnload = { time: now, tabs: unloaded };
  showState();
  return lastUnload;
}

// Memory pressure's unloading: the trigger starts it, then it goes on at each status, a few tabs
// a turn, until the memory in use is below the level by the margin or no tab may go.
function unloadForPressure(load, enabled) {
  if (!enabled) {
    unloading = null;
  } else if (unloading ? !unloading.busy : unloadTrigger.observeLoad(load)) {
    unloading ??= { tabs: 0, kept: new Set(), busy: false };
    unloadTurn(unloading, load).catch(() => {
      unloading = null;
    });
  }
}

async function unloadTurn(run, load) {
  const now = Date.now();
  run.busy = true;
  const candidates = (await unloadableTabs(now)).filter((tab) => !run.kept.has(tab.id));
  const chosen = nextTurn(candidates, load, memoryOptions.values.pressurePercent);
  const unloaded = await discardTabs(chosen, run.kept);
  run.busy = false;
  if (unloaded > 0) {
    recordUnload(now, unloaded);
    run.tabs += unloaded;
    lastUnload = { time: now, tabs: run.tabs };
  }
  if (chosen.length === 0) {
    unloading = unloading === run ? null : unloading;
    lastUnload = run.tabs === 0 ? { time: now, tabs: 0 } : lastUnload;
  }
  showState();
}

// Tabs of the sites kept are marked so that Firefox's own unloader leaves them too. Only the marks
// QELM set are taken off again, when a tab leaves those sites or the list changes.
const markedTabs = new Set();

async function markKept(tab) {
  const keep = isKeptSite(tab.url, memoryOptions.values.keptSites);
  if (keep === markedTabs.has(tab.id)) {
    return;
  }
  if (keep) {
    markedTabs.add(tab.id);
  } else {
    markedTabs.delete(tab.id);
  }
  await browser.tabs.update(tab.id, { autoDiscardable: !keep }).catch(() => {
    markedTabs.delete(tab.id);
  });
}

async function markKeptTabs() {
  for (const tab of await browser.tabs.query({})) {
    markKept(tab);
  }
}

browser.runtime.onMessage.addListener((message) => {
  if (message?.type === "ask") {
    return ask(message.cmd, message.fields);
  }
  if (message?.type === "unload") {
    return unloadIdle();
  }
  return undefined;
});

browser.storage.onChanged.addListener(() => loadMemoryOptions());

browser.runtime.onConnect.addListener((view) => {
  views.add(view);
  view.onDisconnect.addListener(() => views.delete(view));
  view.postMessage(snapshot());
});

browser.tabs.onUpdated.addListener((id, change, tab) => markKept(tab), { properties: ["url"] });
browser.tabs.onRemoved.addListener((id) => markedTabs.delete(id));

browser.tabs.onActivated.addListener(() => {
  if (host.state === "connected" && host.status?.running) {
    reportTab();
  }
});

// A first install opens the options page: it says whether the host is installed and how.
browser.runtime.onInstalled.addListener(({ reason }) => {
  if (reason === "install") {
    browser.runtime.openOptionsPage();
  }
});

host.open();
loadMemoryOptions();
showState();

// The toolbar popup, made to be taken in at a glance and to fit Firefox's panel: the state and
// Firefox's memory with the commands under them, the chart of the last hour, the latest
// recoveries as a table, and behind "Details" the machine's figures, the latest comment and the
// error.
import { markName } from "../lib/chart.js";
import { commentKind, kSamplePeriodMs } from "../lib/history.js";
import { clock, counted, t, translatePage, uiLanguage } from "../lib/i18n.js";
import { showLine, showText } from "../lib/live.js";
import { figureSize, mebibytes, metricsRows, parseMetrics, percent } from "../lib/metrics.js";
import { companionNotice, describe } from "../lib/view.js";
import { showHistory } from "./history_chart.js";

const $ = (id) => document.getElementById(id);
let last = null;

const secondsUntil = (time) => Math.max(1, Math.ceil((time - Date.now()) / 1000));

function showMetrics(text, totals) {
  const figures = parseMetrics(text);
  $("metrics").hidden = !figures;
  if (!figures) {
    return;
  }
  $("metrics").replaceChildren(...metricsRows(figures, totals).map(([label, value]) => {
    const row = document.createElement("tr");
    for (const text of [label, value]) {
      row.append(Object.assign(document.createElement("td"), { textContent: text }));
    }
    return row;
  }));
}

function showComment(comment, seenAt) {
  $("latest").hidden = !comment;
  // The companion's comments carry blank lines and a trailing line feed of their own.
  $("comment").textContent = (comment ?? "").replace(/\s*\n\s*/g, "\n").trim();
  $("comment-time").textContent = seenAt ? t("commentAt", clock(seenAt)) : "";
  // The comment stays as the companion wrote it, in English; in another language a line under it
  // says what it stands for.
  const kind = comment && !uiLanguage().startsWith("en") ? commentKind(comment) : undefined;
  $("comment-meaning").hidden = !kind;
  $("comment-meaning").textContent = kind ? markName(kind) : "";
}

// The notice stays in the page while empty (a live region must be there before its news).
function showCompanionNotice(companion) {
  showLine($("notice"), ...companionNotice(companion));
}

const trimTrigger = (kind) => ({
  tab: t("triggerTab"),
  now: t("triggerNow"),
  periodic: t("triggerPeriodic"),
  start: t("triggerStart"),
  pressure: t("triggerPressure"),
})[kind];

const kNone = "—";
const kPending = "…";
const kUnknown = "?";

// A recovery in a row: when, what happened, what it moved out of RAM (a trim) or freed (an
// unload), and what of the moved came back within a minute.
function recoveryCells(recovery) {
  const time = clock(recovery.time);
  if (recovery.kind === "unload") {
    const what = counted(recovery.tabs, "recoveryUnloadOne", "recoveryUnload");
    const freed = !recovery.known ? kPending
      : typeof recovery.freedKiB === "number" ? mebibytes(recovery.freedKiB) : kUnknown;
    return [time, what, kNone, freed, kNone];
  }
  if (recovery.withUnload) {
    return [time, t("recoveryTrim", trimTrigger(recovery.kind)), kNone, kNone, kNone];
  }
  const what = t("recoveryTrim", trimTrigger(recovery.kind));
  if (!recovery.known) {
    return [time, what, kPending, kNone, kPending];
  }
  const back = recovery.cameBackKiB === undefined ? t("recoveryBackLater")
    : recovery.cameBackKiB === null ? kUnknown : mebibytes(recovery.cameBackKiB);
  return [time, what, mebibytes(recovery.movedKiB), kNone, back];
}

// The figures a row comes from, for its tooltip.
function recoveryFigures(recovery) {
  const { known, beforeKiB, afterKiB, laterKiB, cameBackKiB } = recovery;
  if (recovery.withUnload) {
    return t("trimWithUnload");
  }
  if (!known) {
    return t("recoveryPending");
  }
  const figures = laterKiB === undefined
    ? t("trimFigures", mebibytes(beforeKiB), mebibytes(afterKiB))
    : t("trimFiguresLater", mebibytes(beforeKiB), mebibytes(afterKiB), mebibytes(laterKiB));
  if (recovery.freedKiB === null) {
    return `${figures} ${t("unloadFreedUnknown")}`;
  }
  return cameBackKiB === null ? `${figures} ${t("trimBackUnknown")}` : figures;
}

function recoveryRow(recovery) {
  const row = Object.assign(document.createElement("tr"), { className: "recovery",
                                                            title: recoveryFigures(recovery) });
  row.append(...recoveryCells(recovery).map((text) =>
    Object.assign(document.createElement("td"), { textContent: text })));
  return row;
}

// Recoveries still being measured are in the table, not yet in the sentence.
function summarySentence({ trims, movedKiB, cameBackKiB, unmeasured, unloads, tabs }) {
  if (trims === 0 && unloads === 0) {
    return unmeasured === 0 ? t("hourNone") : "";
  }
  const trimmed = trims === 0 ? "" : counted(trims, "hourTrimOne", "hourTrims",
                                             mebibytes(movedKiB), mebibytes(cameBackKiB));
  const unloaded = unloads === 0 ? "" : counted(tabs, "hourUnloadedOne", "hourUnloaded");
  return t("hourSummary", [trimmed, unloaded].filter(Boolean).join(" "));
}

function showRelief(memory) {
  $("trims-held").hidden = !memory.trimsHeld;
  $("trims-held").textContent = memory.trimsHeld === "off" ? t("trimsOff")
    : memory.trimsHeld === "waiting" ? t("trimsWaiting") : "";
  const latest = memory.recoveries.slice(-3).reverse();
  $("recoveries").hidden = latest.length === 0;
  $("recoveries").tBodies[0].replaceChildren(...latest.map(recoveryRow));
  $("recovery-summary").textContent = summarySentence(memory.summary);
  const { pressureRecovery, pressurePercent } = memory.options;
  // While the companion trims nothing, the note on what holds it back says so instead.
  $("pressure-next").hidden = !pressureRecovery || Boolean(memory.trimsHeld);
  $("pressure-next").textContent = memory.pressureNextAt
    ? t("pressureNext", clock(memory.pressureNextAt))
    : t("pressureAt", percent(pressurePercent));
  // A successful unload is the table's newest row; only one that found nothing is told here.
  const unload = memory.lastUnload;
  $("unload-result").hidden = unload?.tabs !== 0;
  $("unload-result").textContent = unload?.tabs === 0 ? t("unloadNone", clock(unload.time)) : "";
}

// Firefox's memory in one line: what it holds (its private bytes) and what of that is in RAM
// (its working set), from the host's totals; from the companion's one process where the host
// gave none, and only what is in RAM where it gave no private bytes.
function showMemory(status) {
  const figures = parseMetrics(status?.metrics);
  const browser = status?.totals?.browser;
  $("memory").hidden = !figures;
  if (!figures) {
    return;
  }
  const name = browser?.name === "palemoon.exe" ? "Pale Moon" : "Firefox";
  const inRam = browser ? figureSize(browser.workingSetKiB) : mebibytes(figures.browserKiB);
  showText($("memory"), browser && "privateKiB" in browser
    ? t("popupBrowserMemory", name, figureSize(browser.privateKiB), inRam)
    : t("popupBrowserInRam", name, inRam));
  $("memory").title = t("popupBrowserMemoryTitle", name);
}

// A new error opens the details, where it is shown.
function showError(error) {
  if (error && error !== $("error").textContent) {
    $("details").open = true;
  }
  showText($("error"), error);
}

function show(state) {
  last = state;
  const connected = state.state === "connected" && state.status;
  const running = Boolean(connected && state.status.running);
  const retrying = state.retryAt && state.state !== "connected";
  showLine($("state"), describe(state).line,
           retrying ? t("hostRetryIn", secondsUntil(state.retryAt)) : "");
  $("install").hidden = state.state !== "missing";
  showCompanionNotice(state.companion);
  // Stopped, it has nothing to say of figures to come; what it showed before stays readable.
  $("history").hidden = !connected || (!running && state.history.samples.length < 2);
  showHistory(state.history);
  showMemory(running ? state.status : null);
  showMetrics(running ? state.status.metrics : null, state.status?.totals);
  showRelief(state.memory);
  showComment(connected ? state.status.comment : null, state.commentSeenAt);
  const global = Boolean(state.status?.settings?.global);
  $("global").textContent = global ? t("globalOff") : t("globalOn");
  $("start-stop").textContent = running ? t("companionStop") : t("companionStart");
  $("recover").disabled = !running;
  $("global").disabled = !connected;
  $("start-stop").disabled = !connected;
  showError(state.error ?? "");
}

// The background keeps a command's error and sends it with the state, to every page.
async function ask(cmd, fields) {
  try {
    await browser.runtime.sendMessage({ type: "ask", cmd, fields });
  } catch (error) {
    showError(error.message);
  }
}

$("recover").addEventListener("click", () => ask("tab"));
$("global").addEventListener("click", () =>
  ask("set", { values: { global: last?.status?.settings?.global ? 0 : 1 } }));
$("start-stop").addEventListener("click", () =>
  ask(last?.status?.running ? "exit" : "start"));
$("options").addEventListener("click", () => browser.runtime.openOptionsPage());
$("unload").addEventListener("click", () =>
  browser.runtime.sendMessage({ type: "unload" }).catch((error) => showError(error.message)));

translatePage();
browser.runtime.connect({ name: "view" }).onMessage.addListener(show);
// Counts down to the next try while the host or the companion is away.
setInterval(() => (last?.retryAt || last?.companion.restartAt) && show(last), 1000);
// Moves the chart on with the time while no figure comes.
setInterval(() => last && showHistory(last.history), kSamplePeriodMs);

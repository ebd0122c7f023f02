// The toolbar popup: the state, the chart of the last hour, the live figures, the latest comment,
// and the commands.
import { markName } from "../lib/chart.js";
import { commentKind, kSamplePeriodMs } from "../lib/history.js";
import { clock, counted, t, translatePage, uiLanguage } from "../lib/i18n.js";
import { showLine, showText } from "../lib/live.js";
import { mebibytes, metricsRows, parseMetrics, percent } from "../lib/metrics.js";
import { companionNotice, describe } from "../lib/view.js";
import { showHistory } from "./history_chart.js";

const $ = (id) => document.getElementById(id);
let last = null;

const secondsUntil = (time) => Math.max(1, Math.ceil((time - Date.now()) / 1000));

function showMetrics(text, totals) {
  const figures = parseMetrics(text);
  $("figures").hidden = !figures;
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

const trimName = (kind) => ({
  tab: t("trimTab"),
  now: t("trimNow"),
  periodic: t("trimPeriodic"),
  start: t("trimStart"),
  pressure: t("trimPressure"),
})[kind];
const kCommitUnchangedMiB = 16;

function commitSentence(deltaMiB) {
  return Math.abs(deltaMiB) < kCommitUnchangedMiB ? t("commitUnchanged")
    : t("commitChanged", `${deltaMiB > 0 ? "+" : "−"}${mebibytes(Math.abs(deltaMiB) * 1024)}`);
}

// One plain sentence of what a recovery did, from the figures that came before and after it.
function recoverySentence(recovery, browserName) {
  const at = clock(recovery.time);
  if (recovery.kind === "unload") {
    const unloaded = counted(recovery.tabs, "unloadedOne", "unloaded", at);
    // Where what the browser holds cannot be read, the memory committed on the machine tells.
    return !recovery.known ? unloaded
      : recovery.freedKiB === null ? `${unloaded} ${commitSentence(recovery.commitDeltaMiB)}`
      : counted(recovery.tabs, "unloadedOneFreed", "unloadedFreed", at, browserName,
                mebibytes(recovery.freedKiB));
  }
  if (recovery.withUnload) {
    return t("trimWithUnload", at, trimName(recovery.kind));
  }
  if (!recovery.known) {
    return t("trimPending", at, trimName(recovery.kind));
  }
  const back = recovery.cameBackKiB === undefined ? t("trimBackLater")
    : recovery.cameBackKiB === null ? t("trimBackUnknown")
    : t("trimBack", mebibytes(recovery.cameBackKiB));
  return `${t("trimMoved", at, trimName(recovery.kind), mebibytes(recovery.movedKiB), browserName,
              back)} ${commitSentence(recovery.commitDeltaMiB)}`;
}

// The figures a sentence comes from, for its tooltip.
function recoveryFigures({ known, beforeKiB, afterKiB, laterKiB }) {
  return !known ? "" : laterKiB === undefined
    ? t("trimFigures", mebibytes(beforeKiB), mebibytes(afterKiB))
    : t("trimFiguresLater", mebibytes(beforeKiB), mebibytes(afterKiB), mebibytes(laterKiB));
}

function summarySentence({ trims, movedKiB, cameBackKiB, unloads, tabs }) {
  if (trims === 0 && unloads === 0) {
    return t("hourNone");
  }
  const trimmed = trims === 0 ? "" : counted(trims, "hourTrimOne", "hourTrims",
                                             mebibytes(movedKiB), mebibytes(cameBackKiB));
  const unloaded = unloads === 0 ? "" : counted(tabs, "hourUnloadedOne", "hourUnloaded");
  return t("hourSummary", [trimmed, unloaded].filter(Boolean).join(" "));
}

function showRelief(memory, browserName) {
  const name = browserName === "palemoon.exe" ? "Pale Moon" : "Firefox";
  $("trims-held").hidden = !memory.trimsHeld;
  $("trims-held").textContent = memory.trimsHeld === "off" ? t("trimsOff")
    : memory.trimsHeld === "waiting" ? t("trimsWaiting") : "";
  $("recovery-summary").textContent = summarySentence(memory.summary);
  $("recoveries").replaceChildren(...memory.recoveries.slice(-3).reverse().map((recovery) =>
    Object.assign(document.createElement("li"), { className: "recovery",
                                                  textContent: recoverySentence(recovery, name),
                                                  title: recoveryFigures(recovery) })));
  const { pressureRecovery, pressurePercent } = memory.options;
  // While the companion trims nothing, the note on what holds it back says so instead.
  $("pressure-next").hidden = !pressureRecovery || Boolean(memory.trimsHeld);
  $("pressure-next").textContent = memory.pressureNextAt
    ? t("pressureNext", clock(memory.pressureNextAt))
    : t("pressureAt", percent(pressurePercent));
  const unload = memory.lastUnload;
  $("unload-result").hidden = !unload;
  $("unload-result").textContent = !unload ? ""
    : unload.tabs === 0 ? t("unloadNone", clock(unload.time))
    : counted(unload.tabs, "unloadDoneOne", "unloadDone", clock(unload.time));
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
  showMetrics(running ? state.status.metrics : null, state.status?.totals);
  showRelief(state.memory, state.status?.totals?.browser?.name);
  showComment(connected ? state.status.comment : null, state.commentSeenAt);
  const global = Boolean(state.status?.settings?.global);
  $("global").textContent = global ? t("globalOff") : t("globalOn");
  $("start-stop").textContent = running ? t("companionStop") : t("companionStart");
  $("recover").disabled = !running;
  $("global").disabled = !connected;
  $("start-stop").disabled = !connected;
  showText($("error"), state.error ?? "");
}

// The background keeps a command's error and sends it with the state, to every page.
async function ask(cmd, fields) {
  try {
    await browser.runtime.sendMessage({ type: "ask", cmd, fields });
  } catch (error) {
    $("error").textContent = error.message;
  }
}

$("recover").addEventListener("click", () => ask("tab"));
$("global").addEventListener("click", () =>
  ask("set", { values: { global: last?.status?.settings?.global ? 0 : 1 } }));
$("start-stop").addEventListener("click", () =>
  ask(last?.status?.running ? "exit" : "start"));
$("options").addEventListener("click", () => browser.runtime.openOptionsPage());
$("unload").addEventListener("click", () =>
  browser.runtime.sendMessage({ type: "unload" }).catch((error) => {
    $("error").textContent = error.message;
  }));

translatePage();
browser.runtime.connect({ name: "view" }).onMessage.addListener(show);
// Counts down to the next try while the host or the companion is away.
setInterval(() => (last?.retryAt || last?.companion.restartAt) && show(last), 1000);
// Moves the chart on with the time while no figure comes.
setInterval(() => last && showHistory(last.history), kSamplePeriodMs);

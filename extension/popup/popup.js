// The toolbar popup: the state, the chart of the last hour, the live figures, the latest comment,
// and the commands.
import { kSamplePeriodMs } from "../lib/history.js";
import { showLine, showText } from "../lib/live.js";
import { mebibytes, metricsRows, parseMetrics } from "../lib/metrics.js";
import { describe } from "../lib/view.js";
import { showHistory } from "./history_chart.js";

const $ = (id) => document.getElementById(id);
let last = null;

const clock = (time) =>
  new Date(time).toLocaleTimeString([], { hour: "2-digit", minute: "2-digit" });
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
  $("comment-time").textContent = seenAt ? `at ${clock(seenAt)}` : "";
}

const kStoppedBy = {
  user: "from this browser",
  installer: "by its installer, to uninstall or upgrade it",
  other: "by another program or Firefox profile",
};

// What became of a companion that ended: stopped as asked, or ended unexpectedly and started
// again; as the line and the countdown to its start.
function companionNotice({ endedAt, restartAt, restarted, stopped }) {
  if (stopped) {
    return [`QELM was stopped ${kStoppedBy[stopped.by]} at ${clock(stopped.at)}. ` +
      "It stays stopped until you start it."];
  }
  if (endedAt && restarted) {
    return [`QELM ended unexpectedly at ${clock(endedAt)} and was started again.`];
  }
  if (restartAt) {
    return [endedAt ? `QELM ended unexpectedly at ${clock(endedAt)}. ` : "",
            `Starting it again in ${secondsUntil(restartAt)} s.`];
  }
  return [""];
}

// The notice stays in the page while empty (a live region must be there before its news).
function showCompanionNotice(companion) {
  showLine($("notice"), ...companionNotice(companion));
}

const kTrims = {
  tab: "a tab selection's recovery",
  now: "Recover now",
  periodic: "the periodic recovery",
  start: "the recovery at QELM's start",
  pressure: "a recovery for memory pressure",
};
const kCommitUnchangedMiB = 16;

const plural = (count, one) => `${count} ${one}${count === 1 ? "" : "s"}`;

function commitSentence(deltaMiB) {
  return Math.abs(deltaMiB) < kCommitUnchangedMiB ? "Committed memory did not change."
    : `Committed memory changed by ${deltaMiB > 0 ? "+" : "−"}` +
      `${mebibytes(Math.abs(deltaMiB) * 1024)}, all programs counted.`;
}

// One plain sentence of what a recovery did, from the figures that came before and after it.
function recoverySentence(recovery, browserName) {
  const at = `At ${clock(recovery.time)}`;
  if (recovery.kind === "unload") {
    const tabs = `${plural(recovery.tabs, "idle tab")} ${recovery.tabs === 1 ? "was" : "were"}`;
    return recovery.known
      ? `${at}, ${tabs} unloaded; ${browserName}'s working set fell by ` +
        `${mebibytes(recovery.movedKiB)}, and that memory is free.`
      : `${at}, ${tabs} unloaded.`;
  }
  if (!recovery.known) {
    return `${at}, ${kTrims[recovery.kind]}: its figures are not in yet.`;
  }
  const back = recovery.cameBackKiB === undefined ? "what comes back shows a minute after"
    : `${mebibytes(recovery.cameBackKiB)} came back within a minute`;
  return `${at}, ${kTrims[recovery.kind]} moved ${mebibytes(recovery.movedKiB)} out of ` +
    `${browserName}'s working set; ${back}. ${commitSentence(recovery.commitDeltaMiB)}`;
}

// The figures a sentence comes from, for its tooltip.
function recoveryFigures({ known, beforeKiB, afterKiB, laterKiB }) {
  return !known ? "" : `Just before: ${mebibytes(beforeKiB)}; just after: ${mebibytes(afterKiB)}` +
    (laterKiB === undefined ? "" : `; a minute later: ${mebibytes(laterKiB)}`);
}

function summarySentence({ trims, movedKiB, cameBackKiB, unloads, tabs }) {
  if (trims === 0 && unloads === 0) {
    return "No recovery in the last hour that the extension knows of.";
  }
  const trimmed = trims === 0 ? "" : `${trims} ${trims === 1 ? "recovery" : "recoveries"} moved ` +
    `${mebibytes(movedKiB)}; ${mebibytes(cameBackKiB)} of it came back within a minute. `;
  const unloaded = unloads === 0 ? "" : `${plural(tabs, "idle tab")} unloaded.`;
  return `In the last hour: ${trimmed}${unloaded}`.trim();
}

function showRelief(memory, browserName) {
  const name = browserName === "palemoon.exe" ? "Pale Moon" : "Firefox";
  $("recovery-summary").textContent = summarySentence(memory.summary);
  $("recoveries").replaceChildren(...memory.recoveries.slice(-3).reverse().map((recovery) =>
    Object.assign(document.createElement("li"), { className: "recovery",
                                                  textContent: recoverySentence(recovery, name),
                                                  title: recoveryFigures(recovery) })));
  const { pressureRecovery, pressurePercent } = memory.options;
  $("pressure-next").hidden = !pressureRecovery;
  $("pressure-next").textContent = memory.pressureNextAt
    ? `The next recovery for memory pressure may come at ${clock(memory.pressureNextAt)}.`
    : `A recovery comes when memory in use reaches ${pressurePercent} %.`;
  const unload = memory.lastUnload;
  $("unload-result").hidden = !unload;
  $("unload-result").textContent = !unload ? ""
    : unload.tabs === 0 ? `No tab could be unloaded at ${clock(unload.time)}.`
    : `Unloaded ${plural(unload.tabs, "tab")} at ${clock(unload.time)}.`;
}

function show(state) {
  last = state;
  const connected = state.state === "connected" && state.status;
  const running = Boolean(connected && state.status.running);
  const retrying = state.retryAt && state.state !== "connected";
  showLine($("state"), describe(state).line,
           retrying ? `; trying again in ${secondsUntil(state.retryAt)} s` : "");
  $("install").hidden = state.state !== "missing";
  showCompanionNotice(state.companion);
  // Stopped, it has nothing to say of figures to come; what it showed before stays readable.
  $("history").hidden = !connected || (!running && state.history.samples.length < 2);
  showHistory(state.history);
  showMetrics(running ? state.status.metrics : null, state.status?.totals);
  showRelief(state.memory, state.status?.totals?.browser?.name);
  showComment(connected ? state.status.comment : null, state.commentSeenAt);
  const global = Boolean(state.status?.settings?.global);
  $("global").textContent = global ? "Global mode off" : "Global mode on";
  $("start-stop").textContent = running ? "Stop QELM" : "Start QELM";
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

browser.runtime.connect({ name: "view" }).onMessage.addListener(show);
// Counts down to the next try while the host or the companion is away.
setInterval(() => (last?.retryAt || last?.companion.restartAt) && show(last), 1000);
// Moves the chart on with the time while no figure comes.
setInterval(() => last && showHistory(last.history), kSamplePeriodMs);

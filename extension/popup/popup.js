// The toolbar popup: the state, the chart of the last hour, the live figures, the latest comment,
// and the commands.
import { kSamplePeriodMs } from "../lib/history.js";
import { showLine, showText } from "../lib/live.js";
import { metricsRows, parseMetrics } from "../lib/metrics.js";
import { describe } from "../lib/view.js";
import { showHistory } from "./history_chart.js";

const $ = (id) => document.getElementById(id);
let last = null;

const clock = (time) =>
  new Date(time).toLocaleTimeString([], { hour: "2-digit", minute: "2-digit" });
const secondsUntil = (time) => Math.max(1, Math.ceil((time - Date.now()) / 1000));

function showMetrics(text) {
  const figures = parseMetrics(text);
  $("figures").hidden = !figures;
  if (!figures) {
    return;
  }
  $("metrics").replaceChildren(...metricsRows(figures).map(([label, value]) => {
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
  showMetrics(running ? state.status.metrics : null);
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

browser.runtime.connect({ name: "view" }).onMessage.addListener(show);
// Counts down to the next try while the host or the companion is away.
setInterval(() => (last?.retryAt || last?.companion.restartAt) && show(last), 1000);
// Moves the chart on with the time while no figure comes.
setInterval(() => last && showHistory(last.history), kSamplePeriodMs);

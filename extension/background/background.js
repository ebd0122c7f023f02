// Keeps the port to the host for the whole browser session: starts the companion with the
// browser, reports every tab selection, keeps the toolbar button up to date, shows each new
// comment as a notification, keeps the last hour of the memory figures for the popup's chart, and
// answers the popup and the options page.
import { coalesced } from "../lib/coalesce.js";
import { MemoryHistory } from "../lib/history.js";
import { HostConnection, replyError } from "../lib/host.js";
import { CompanionKeeper } from "../lib/keeper.js";
import { commentToNotify, describe } from "../lib/view.js";

let commentSeenAt = null;
const views = new Set();
const memoryHistory = new MemoryHistory();
// What the toolbar button and the open pages were last given, so that they are redrawn only
// when something they show has changed.
let shownButton = null;
let sentState = null;

const host = new HostConnection({
  connect: (name) => browser.runtime.connectNative(name),
  setTimer: (run, ms) => setTimeout(run, ms),
  clearTimer: (timer) => clearTimeout(timer),
  onChange: () => {
    if (host.state !== "connected") {
      keeper.forget();
    }
    showState();
  },
  onStatus: (status, previous) => {
    keeper.observe(status);
    memoryHistory.observe(status, Date.now());
    noticeComment(status, previous);
  },
  onClosing: () => keeper.stop("installer"),
  // The installer's stop was for the files it replaced; the new ones run the companion again.
  onReplaced: () => {
    if (keeper.stopped?.by === "installer") {
      keeper.resume();
    }
  },
  wantCompanion: () => keeper.wanted,
});

const keeper = new CompanionKeeper({
  start: () => ask("start", {}, { byUser: false }),
  setTimer: (run, ms) => setTimeout(run, ms),
  clearTimer: (timer) => clearTimeout(timer),
  onChange: () => showState(),
});

function snapshot() {
  return {
    state: host.state,
    error: host.error,
    retryAt: host.retryAt,
    status: host.status,
    commentSeenAt,
    history: memoryHistory.recent(Date.now()),
    companion: {
      restartAt: keeper.restartAt,
      endedAt: keeper.endedAt,
      restarted: keeper.restarted,
      stopped: keeper.stopped,
    },
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
    browser.notifications.create("qelm-comment", {
      type: "basic",
      title: "QELM",
      message: comment,
      iconUrl: browser.runtime.getURL("icons/qelm-96.png"),
    });
  }
}

// A command from the popup or the options page, or the keeper's start. Its error is kept to
// show until the next command succeeds.
async function ask(cmd, fields, { byUser = true } = {}) {
  const wasStopped = keeper.stopped;
  // Set before the request: the companion's end comes as an event before the reply does.
  if (byUser && cmd === "exit") {
    keeper.stop("user");
  } else if (byUser && cmd === "start") {
    keeper.resume();
  }
  let reply;
  try {
    reply = await host.request(cmd, fields);
  } catch (error) {
    keeper.stopped = wasStopped;
    host.error = error.message;
    showState();
    throw error;
  }
  host.error = replyError(reply);
  if (cmd === "tab") {
    memoryHistory.markSelection(Date.now());
  }
  if (cmd !== "status") {
    // The command is done whatever comes of this; the host's events follow anyway.
    await host.request("status").then((status) => host.takeStatus(status), () => showState());
  }
  return reply;
}

// One tab report at a time: switching through many tabs quickly sends two, not a queue that
// would hold up the popup's and the options page's commands.
const kTabReportFailed = "the tab selection was not reported: ";
const reportTab = coalesced(async () => {
  try {
    await host.request("tab");
    memoryHistory.markSelection(Date.now());
    if (host.error?.startsWith(kTabReportFailed)) {
      host.error = null;
    }
    showState();
  } catch (error) {
    host.error = kTabReportFailed + error.message;
    showState();
  }
});

browser.runtime.onMessage.addListener((message) => {
  if (message?.type === "ask") {
    return ask(message.cmd, message.fields);
  }
  return undefined;
});

browser.runtime.onConnect.addListener((view) => {
  views.add(view);
  view.onDisconnect.addListener(() => views.delete(view));
  view.postMessage(snapshot());
});

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
showState();

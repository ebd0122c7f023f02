// Keeps the port to the host for the whole browser session: starts the companion with the
// browser, reports every tab selection, keeps the toolbar button up to date, shows each new
// comment as a notification, and answers the popup and the options page.
import { HostConnection } from "../lib/host.js";
import { commentToNotify, describe } from "../lib/view.js";

// Set when the user stopped the companion, so that a new connection does not start it again.
let stoppedByUser = false;
let commentSeenAt = null;
const views = new Set();

const host = new HostConnection({
  connect: (name) => browser.runtime.connectNative(name),
  setTimer: (run, ms) => setTimeout(run, ms),
  clearTimer: (timer) => clearTimeout(timer),
  onChange: showState,
  onStatus: noticeComment,
  wantCompanion: () => !stoppedByUser,
});

function snapshot() {
  return {
    state: host.state,
    error: host.error,
    retryAt: host.retryAt,
    status: host.status,
    commentSeenAt,
  };
}

function showState() {
  const shown = describe(host);
  browser.browserAction.setBadgeText({ text: shown.badge });
  browser.browserAction.setBadgeBackgroundColor({ color: shown.color });
  browser.browserAction.setTitle({ title: shown.title });
  const state = snapshot();
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
    browser.notifications.create("qelm-comment", {
      type: "basic",
      title: "QELM",
      message: comment,
      iconUrl: browser.runtime.getURL("icons/qelm.svg"),
    });
  }
}

async function ask(cmd, fields) {
  const reply = await host.request(cmd, fields);
  host.error = null;
  if (cmd === "exit") {
    stoppedByUser = true;
  } else if (cmd === "start") {
    stoppedByUser = false;
  }
  if (cmd !== "status") {
    host.takeStatus(await host.request("status"));
  }
  return reply;
}

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
    host.request("tab").catch((error) => {
      host.error = `the tab selection was not reported: ${error.message}`;
      showState();
    });
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

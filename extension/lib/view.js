// What the toolbar button and the popup say about the host and the companion.
import { browserLabel, mebibytes, parseMetrics } from "./metrics.js";

export const kInstallCommand = "qelmctl install";

// One line for the popup, and the button's badge, its colour and its tooltip.
export function describe(host) {
  if (host.state === "missing") {
    return {
      line: "QELM is not installed",
      badge: "!",
      color: "#d70022",
      title: `QELM is not installed (install it, or run ${kInstallCommand})`,
    };
  }
  if (host.state === "replacing") {
    const line = "QELM is being uninstalled or upgraded";
    return { line, badge: "off", color: "#5b5b66", title: line };
  }
  if (host.state !== "connected" || !host.status) {
    const line = host.state === "lost" ? "The QELM host has ended" : "Connecting to the QELM host";
    return { line, badge: "!", color: "#d70022", title: `QELM: ${line.toLowerCase()}` };
  }
  if (!host.status.running) {
    return { line: "QELM is not running", badge: "off", color: "#5b5b66",
             title: "QELM is not running" };
  }
  const figures = parseMetrics(host.status.metrics);
  const browser = host.status.totals?.browser;
  return {
    line: `QELM is running (process ${host.status.pid})`,
    badge: figures ? `${figures.memoryLoad}%` : "",
    color: "#0060df",
    title: figures ? `QELM: memory in use ${figures.memoryLoad} %` +
      (browser ? `; ${browserLabel(browser)} ${mebibytes(browser.workingSetKiB)}` : "")
      : "QELM is running",
  };
}

// The comment to show as a notification for this status, or null: a comment that is new since
// the previous status of the same connection (the first one carries whatever the key held
// before), while the companion writes comments.
export function commentToNotify(status, previous) {
  const settings = status.settings ?? {};
  const commentsOn = Boolean(settings.activateKVDisplayEvents || settings.activateVisualAcc);
  const isNew = Boolean(status.comment) && previous != null && status.comment !== previous.comment;
  return commentsOn && isNew ? status.comment : null;
}

// What the toolbar button and the popup say about the host and the companion.
import { t } from "./i18n.js";
import { browserLabel, mebibytes, parseMetrics } from "./metrics.js";

export const kInstallCommand = "qelmctl install";

// One line for the popup, and the button's badge, its colour and its tooltip.
export function describe(host) {
  if (host.state === "missing") {
    return {
      line: t("hostMissing"),
      badge: "!",
      color: "#d70022",
      title: t("hostMissingTitle", kInstallCommand),
    };
  }
  if (host.state === "replacing") {
    const line = t("hostReplacing");
    return { line, badge: t("badgeOff"), color: "#5b5b66", title: line };
  }
  if (host.state !== "connected" || !host.status) {
    const line = host.state === "lost" ? t("hostLost") : t("hostConnecting");
    return { line, badge: "!", color: "#d70022", title: t("buttonTitle", line) };
  }
  if (!host.status.running) {
    return { line: t("companionNotRunning"), badge: t("badgeOff"), color: "#5b5b66",
             title: t("companionNotRunning") };
  }
  const figures = parseMetrics(host.status.metrics);
  const browser = host.status.totals?.browser;
  return {
    line: t("companionRunning", host.status.pid),
    badge: figures ? `${figures.memoryLoad}%` : "",
    color: "#0060df",
    title: !figures ? t("companionRunningTitle")
      : browser ? t("buttonTitleWithBrowser", figures.memoryLoad, browserLabel(browser),
                    mebibytes(browser.workingSetKiB))
      : t("buttonTitleLoad", figures.memoryLoad),
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

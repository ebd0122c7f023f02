// What the toolbar button and the popup say about the host and the companion.
import { clock, t } from "./i18n.js";
import { browserLabel, figureSize, parseMetrics } from "./metrics.js";

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
                    figureSize(browser.workingSetKiB))
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

const stoppedNotice = {
  stoppedHere: (time) => t("companionStoppedHere", time),
  stoppedElsewhere: (time) => t("companionStoppedElsewhere", time),
  installer: (time) => t("companionClosedByInstaller", time),
};

// The popup's notice of what became of the companion (CompanionLife's shown): who stopped it,
// when, and what ends that; or that it ended unasked, and when it starts again. As the line and
// the countdown.
export function companionNotice({ state, at, endedAt, restartAt }, now = Date.now()) {
  if (stoppedNotice[state]) {
    return [stoppedNotice[state](clock(at))];
  }
  if (!endedAt && !restartAt) {
    return [""];
  }
  if (state === "running") {
    return [t("companionRestarted", clock(endedAt))];
  }
  const ended = endedAt ? t("companionEnded", clock(endedAt)) : "";
  const countdown = restartAt
    ? t("companionRestartIn", Math.max(1, Math.ceil((restartAt - now) / 1000))) : "";
  return [ended && countdown ? `${ended} ` : ended, countdown];
}

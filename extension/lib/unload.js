// Which tabs to unload (tabs.discard) when memory runs short: the ones left unused longest, and
// none that the user is looking at, listening to, sharing from, or waiting for. Firefox keeps an
// unloaded tab in the tab bar and loads it again when it is selected.

const kMinuteMs = 60 * 1000;

// Whether unloading the tab would take away something the user has now, as far as the tabs API
// tells. tab.audible stays true while a muted tab plays, so muted tabs that play are kept too.
// Picture-in-Picture has no property of its own: a video playing there with sound keeps its tab
// audible, but a silent or paused one cannot be told from an idle tab. tab.url needs the "tabs"
// permission; without it a tab could be an about: page, so it is kept.
function mustStay(tab) {
  const sharing = tab.sharingState;
  return tab.active || tab.pinned || tab.audible || tab.discarded || tab.status === "loading" ||
    Boolean(sharing?.camera || sharing?.microphone || sharing?.screen) ||
    typeof tab.url !== "string" || tab.url.startsWith("about:");
}

// The tabs (as browser.tabs.query gives them) to unload at the time nowMs (ms since the epoch),
// those not used for idleMinutes, the least recently used first.
export function tabsToUnload(tabs, nowMs, idleMinutes) {
  const idleMs = idleMinutes * kMinuteMs;
  return tabs
    .filter((tab) => nowMs - tab.lastAccessed >= idleMs && !mustStay(tab))
    .sort((a, b) => a.lastAccessed - b.lastAccessed);
}

// Which tabs to unload (tabs.discard) when memory runs short: the ones left unused longest, a few
// at a time, and none that the user is looking at, listening to, sharing from, waiting for, or
// keeps on purpose. Firefox keeps an unloaded tab in the tab bar and loads it again when it is
// selected.
import { kMarginPoints } from "./pressure.js";

const kMinuteMs = 60 * 1000;
// Tabs unloaded per turn for memory pressure. The next turn waits for the next figures, so that
// no more tabs go than it takes to bring the memory in use down.
export const kTabsPerTurn = 3;

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

// The host name of an address, lower case and in its ASCII form; null when it has none.
function hostOf(address) {
  try {
    return new URL(address).hostname || null;
  } catch {
    return null;
  }
}

// Whether the page at the address belongs to one of the sites kept (host names): the host itself
// or any of its subdomains, so that "example.org" keeps www.example.org too.
export function isKeptSite(address, sites) {
  const host = typeof address === "string" ? hostOf(address) : null;
  return host !== null && sites.some((site) => host === site || host.endsWith(`.${site}`));
}

// The site's host name as the list keeps it, from what a person typed: a host name, with or
// without a leading "*.", or an address copied whole. Null when it names no host.
export function siteName(typed) {
  const given = typed.trim().replace(/^\*\./, "");
  const host = hostOf(given.includes("://") ? given : `http://${given}`);
  return host && /^[a-z0-9-]+(\.[a-z0-9-]+)*$/.test(host) ? host : null;
}

// The tabs (as browser.tabs.query gives them) that may be unloaded at the time nowMs (ms since the
// epoch): those not used for idleMinutes and of no site kept, the least recently used first.
export function tabsToUnload(tabs, nowMs, idleMinutes, keptSites = []) {
  const idleMs = idleMinutes * kMinuteMs;
  return tabs
    .filter((tab) => nowMs - tab.lastAccessed >= idleMs && !mustStay(tab) &&
                     !isKeptSite(tab.url, keptSites))
    .sort((a, b) => a.lastAccessed - b.lastAccessed);
}

// The next turn of unloading for memory pressure, given the tabs that may go (least recently used
// first) and the memory in use now: none once it is below the level by the margin.
export function nextTurn(candidates, memoryLoad, percent) {
  return memoryLoad < percent - kMarginPoints ? [] : candidates.slice(0, kTabsPerTurn);
}

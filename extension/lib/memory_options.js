// The extension's own options for memory pressure, kept in storage.local; an administrator may
// set any of them through Firefox's enterprise policies (storage.managed), and then they are
// fixed for the user.
import { t } from "./i18n.js";
import { siteName } from "./unload.js";

export const kMemoryOptions = [
  { name: "pressureRecovery", kind: "switch", default: false,
    label: t("optionPressureRecovery"), help: t("optionPressureRecoveryHelp") },
  { name: "pressurePercent", kind: "percent", default: 85, min: 1, max: 99,
    label: t("optionPressurePercent"), help: t("optionPressurePercentHelp") },
  { name: "unloadIdleTabs", kind: "switch", default: false,
    label: t("optionUnloadIdleTabs"), help: t("optionUnloadIdleTabsHelp") },
  // Once 0 was allowed; a 0 stored then counts as the least now, for a tab just used must stay.
  { name: "unloadAfterMinutes", kind: "minutes", default: 30, min: 1, max: 1440, formerMin: 0,
    label: t("optionUnloadAfterMinutes"), help: t("optionUnloadAfterMinutesHelp") },
  { name: "keptSites", kind: "sites", default: [],
    label: t("optionKeptSites"), help: t("optionKeptSitesHelp") },
];

export const memoryOptionDefaults = () =>
  Object.fromEntries(kMemoryOptions.map((option) => [option.name, option.default]));

// The options in force: the administrator's where set, else the user's, else the defaults; and
// the names the administrator set.
export function effectiveOptions(local, managed) {
  const values = memoryOptionDefaults();
  const locked = new Set();
  for (const option of kMemoryOptions) {
    const user = stored(option, local?.[option.name]);
    if (isValid(option, user)) {
      values[option.name] = user;
    }
    const administrator = stored(option, managed?.[option.name]);
    if (isValid(option, administrator)) {
      values[option.name] = administrator;
      locked.add(option.name);
    }
  }
  return { values, locked };
}

// A stored value as it counts now: a site as the list keeps it, a number stored before its least
// value was raised as the least value.
function stored(option, value) {
  if (option.kind === "sites") {
    return Array.isArray(value)
      ? value.map((site) => (typeof site === "string" ? siteName(site) : null)).filter(Boolean)
      : value;
  }
  return Number.isInteger(value) && value >= option.formerMin && value < option.min ? option.min
    : value;
}

function isValid(option, value) {
  if (option.kind === "sites") {
    return Array.isArray(value);
  }
  return option.kind === "switch" ? typeof value === "boolean"
    : Number.isInteger(value) && value >= option.min && value <= option.max;
}

// A field's text as the option's value, or the line that says why it is not one.
export function parseOption(option, given) {
  if (option.kind === "switch") {
    return { value: Boolean(given) };
  }
  if (option.kind === "sites") {
    return parseSites(given);
  }
  const value = /^\s*\d+\s*$/.test(String(given)) ? Number(given) : NaN;
  return isValid(option, value) ? { value }
    : { error: t("optionNotNumber", option.min, option.max) };
}

// The lines of the list of sites kept, one host name each, as that list; or the line that says
// which is not a host name.
function parseSites(given) {
  const sites = [];
  for (const line of String(given).split("\n").filter((each) => each.trim() !== "")) {
    const site = siteName(line);
    if (!site) {
      return { error: t("optionSiteInvalid", line.trim()) };
    }
    if (!sites.includes(site)) {
      sites.push(site);
    }
  }
  return { value: sites };
}

// What storage.managed holds; nothing where no policy or no managed storage exists.
export async function readManaged(storage) {
  try {
    return await storage.managed.get();
  } catch {
    return {};
  }
}

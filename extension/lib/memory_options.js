// The extension's own options for memory pressure, kept in storage.local; an administrator may
// set any of them through Firefox's enterprise policies (storage.managed), and then they are
// fixed for the user.
import { t } from "./i18n.js";

export const kMemoryOptions = [
  { name: "pressureRecovery", kind: "switch", default: false,
    label: t("optionPressureRecovery"), help: t("optionPressureRecoveryHelp") },
  { name: "pressurePercent", kind: "percent", default: 85, min: 1, max: 99,
    label: t("optionPressurePercent"), help: t("optionPressurePercentHelp") },
  { name: "unloadIdleTabs", kind: "switch", default: false,
    label: t("optionUnloadIdleTabs"), help: t("optionUnloadIdleTabsHelp") },
  { name: "unloadAfterMinutes", kind: "minutes", default: 30, min: 0, max: 1440,
    label: t("optionUnloadAfterMinutes"), help: t("optionUnloadAfterMinutesHelp") },
];

export const memoryOptionDefaults = () =>
  Object.fromEntries(kMemoryOptions.map((option) => [option.name, option.default]));

// The options in force: the administrator's where set, else the user's, else the defaults; and
// the names the administrator set.
export function effectiveOptions(local, managed) {
  const values = memoryOptionDefaults();
  const locked = new Set();
  for (const option of kMemoryOptions) {
    if (isValid(option, local?.[option.name])) {
      values[option.name] = local[option.name];
    }
    if (isValid(option, managed?.[option.name])) {
      values[option.name] = managed[option.name];
      locked.add(option.name);
    }
  }
  return { values, locked };
}

function isValid(option, value) {
  return option.kind === "switch" ? typeof value === "boolean"
    : Number.isInteger(value) && value >= option.min && value <= option.max;
}

// A field's text as the option's value, or the line that says why it is not one.
export function parseOption(option, given) {
  if (option.kind === "switch") {
    return { value: Boolean(given) };
  }
  const value = /^\s*\d+\s*$/.test(String(given)) ? Number(given) : NaN;
  return isValid(option, value) ? { value }
    : { error: t("optionNotNumber", option.min, option.max) };
}

// What storage.managed holds; nothing where no policy or no managed storage exists.
export async function readManaged(storage) {
  try {
    return await storage.managed.get();
  } catch {
    return {};
  }
}

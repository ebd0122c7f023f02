// The extension's own options for memory pressure, kept in storage.local; an administrator may
// set any of them through Firefox's enterprise policies (storage.managed), and then they are
// fixed for the user.

export const kMemoryOptions = [
  { name: "pressureRecovery", kind: "switch", default: false,
    label: "Recover when memory runs short",
    help: "Asks QELM for a recovery when the memory in use reaches the level below, at most " +
      "every 5 minutes and less often while recoveries do not help. A recovery trims the " +
      "working sets, which frees no memory: Windows keeps the pages on standby and the browser " +
      "takes them back as it needs them." },
  { name: "pressurePercent", kind: "percent", default: 85, min: 1, max: 99,
    label: "Memory in use that counts as short",
    help: "Of the machine's physical memory, in percent." },
  { name: "unloadIdleTabs", kind: "switch", default: false,
    label: "Unload idle tabs when memory runs short",
    help: "Unloads the tabs left unused longest, which frees their memory for real. An unloaded " +
      "tab stays in the tab bar and loads again, from the network, when you select it. Never " +
      "unloaded: the tab in view in each window, pinned tabs, tabs playing sound, sharing the " +
      "camera, microphone or screen, or still loading, and about: pages." },
  { name: "unloadAfterMinutes", kind: "minutes", default: 30, min: 0, max: 1440,
    label: "Unused for at least",
    help: "0 unloads every tab that is not in view." },
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
    : { error: `Type a whole number from ${option.min} to ${option.max}.` };
}

// What storage.managed holds; nothing where no policy or no managed storage exists.
export async function readManaged(storage) {
  try {
    return await storage.managed.get();
  } catch {
    return {};
  }
}

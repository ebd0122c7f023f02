// The settings the companion reads from its key, as the options page shows them. The defaults
// are the ones the companion writes when it creates the key.

export const kSettings = [
  { name: "app_1", kind: "switch", default: 1, label: "Recover the browser's memory",
    help: "on every periodic recovery and after every tab selection" },
  { name: "activateKVDisplayEvents", kind: "switch", default: 0,
    label: "Show a comment after each recovery",
    help: "also as a desktop notification" },
  { name: "activateVisualAcc", kind: "switch", default: 0, label: "Beep on each recovery",
    help: "and show its comment; four falling tones when QELM ends" },
  { name: "startupDelay", kind: "minutes", default: 0, min: 0, max: 1440,
    label: "Wait before the first recovery", help: "after QELM starts" },
  { name: "tabDelay", kind: "minutes", default: 0, min: 0, max: 1440,
    label: "Wait after a tab selection", help: "0 means six seconds" },
  { name: "primaryTimeout", kind: "minutes", default: 1, min: 1, max: 1440,
    label: "Recover every", help: "the periodic recovery" },
  { name: "global", kind: "switch", default: 0, label: "Global mode",
    help: "recover the memory of every program, keep running without the browser, refuse to stop" },
  { name: "blacklist", kind: "list", default: "none", label: "Programs global mode leaves alone",
    help: "executable names, such as notepad.exe, in any case; none by default" },
  { name: "activateKVXEventLogging", kind: "switch", default: 0,
    label: "Record start and stop in the Windows event log", help: "source QELM" },
  { name: "activateKVXonStartup", kind: "switch", default: 0, label: "On-start-up flag",
    help: "kept for the add-on; QELM itself does not act on it" },
];

// The companion stores an empty list as this word, which names no program.
const kNoProgram = "none";
const kLongestName = 259;
const kForbidden = /[\\/:*?"<>|;\u0000-\u001f]/;

export function defaultValues() {
  return Object.fromEntries(kSettings.map((setting) => [setting.name, setting.default]));
}

export function blacklistNames(text) {
  if (typeof text !== "string" || text === kNoProgram) {
    return [];
  }
  return text.split(";").map((name) => name.trim()).filter((name) => name !== "");
}

export function blacklistText(names) {
  return names.length === 0 ? kNoProgram : names.join(";");
}

// Why the name cannot go into the list, or null when it can.
export function programNameError(name, names) {
  if (name === "") {
    return "Type an executable's name, such as notepad.exe.";
  }
  if (kForbidden.test(name)) {
    return 'A name has no folder and none of \\ / : * ? " < > | ;';
  }
  if (!/\.[^.]+$/.test(name)) {
    return "A name ends with the program's extension, such as .exe.";
  }
  if (name.length > kLongestName) {
    return `A name has at most ${kLongestName} characters.`;
  }
  if (name.toLowerCase() === kNoProgram) {
    return `"${kNoProgram}" is how QELM writes an empty list.`;
  }
  if (names.some((other) => other.toLowerCase() === name.toLowerCase())) {
    return `${name} is in the list already.`;
  }
  return null;
}

function minutesError(setting, given) {
  const text = String(given).trim();
  if (!/^\d+$/.test(text)) {
    return `Type a whole number of minutes from ${setting.min} to ${setting.max}.`;
  }
  const minutes = Number(text);
  if (minutes < setting.min || minutes > setting.max) {
    return `From ${setting.min} to ${setting.max} minutes.`;
  }
  return null;
}

// Checks what the page holds ({name: switch boolean, minutes text, or list of names}) and
// turns it into the key's values; errors by setting name when anything is wrong (names read
// from the key are checked too, since the page writes them back).
export function validate(form) {
  const values = {};
  const errors = {};
  for (const setting of kSettings) {
    const given = form[setting.name];
    if (setting.kind === "switch") {
      values[setting.name] = given ? 1 : 0;
    } else if (setting.kind === "minutes") {
      const error = minutesError(setting, given ?? "");
      if (error) {
        errors[setting.name] = error;
      } else {
        values[setting.name] = Number(String(given).trim());
      }
    } else {
      const names = given ?? [];
      const wrong = names.map((name, at) => [name, programNameError(name, names.slice(0, at))])
        .find(([, error]) => error);
      if (wrong) {
        errors[setting.name] = `${wrong[0]}: ${wrong[1]}`;
      } else {
        values[setting.name] = blacklistText(names);
      }
    }
  }
  return Object.keys(errors).length === 0 ? { values } : { errors };
}

// The values that differ from what the key holds; a value missing from the key differs.
export function changedValues(values, held) {
  return Object.fromEntries(Object.entries(values).filter(([name, value]) =>
    held?.[name] !== value));
}

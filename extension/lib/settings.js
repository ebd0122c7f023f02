// The settings the companion reads from its key, as the options page shows them. The defaults
// are the ones the companion writes when it creates the key.
import { t } from "./i18n.js";

export const kSettings = [
  { name: "app_1", kind: "switch", default: 1, label: t("settingApp1"),
    help: t("settingApp1Help") },
  { name: "activateKVDisplayEvents", kind: "switch", default: 0,
    label: t("settingActivateKVDisplayEvents"),
    help: t("settingActivateKVDisplayEventsHelp") },
  { name: "activateVisualAcc", kind: "switch", default: 0, label: t("settingActivateVisualAcc"),
    help: t("settingActivateVisualAccHelp") },
  { name: "startupDelay", kind: "minutes", default: 0, min: 0, max: 1440,
    label: t("settingStartupDelay"), help: t("settingStartupDelayHelp") },
  { name: "tabDelay", kind: "minutes", default: 0, min: 0, max: 1440,
    label: t("settingTabDelay"), help: t("settingTabDelayHelp") },
  { name: "primaryTimeout", kind: "minutes", default: 1, min: 1, max: 1440,
    label: t("settingPrimaryTimeout"), help: t("settingPrimaryTimeoutHelp") },
  { name: "global", kind: "switch", default: 0, label: t("settingGlobal"),
    help: t("settingGlobalHelp") },
  { name: "blacklist", kind: "list", default: "none", label: t("settingBlacklist"),
    help: t("settingBlacklistHelp") },
  { name: "activateKVXEventLogging", kind: "switch", default: 0,
    label: t("settingActivateKVXEventLogging"), help: t("settingActivateKVXEventLoggingHelp") },
  { name: "activateKVXonStartup", kind: "switch", default: 0, label: t("settingActivateKVXonStartup"),
    help: t("settingActivateKVXonStartupHelp") },
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
    return t("programNameEmpty");
  }
  if (kForbidden.test(name)) {
    return t("programNameForbidden");
  }
  if (!/\.[^.]+$/.test(name)) {
    return t("programNameExtension");
  }
  if (name.length > kLongestName) {
    return t("programNameLong", kLongestName);
  }
  if (name.toLowerCase() === kNoProgram) {
    return t("programNameNone", kNoProgram);
  }
  if (names.some((other) => other.toLowerCase() === name.toLowerCase())) {
    return t("programNameTwice", name);
  }
  return null;
}

function minutesError(setting, given) {
  const text = String(given).trim();
  if (!/^\d+$/.test(text)) {
    return t("minutesNotNumber", setting.min, setting.max);
  }
  const minutes = Number(text);
  if (minutes < setting.min || minutes > setting.max) {
    return t("minutesOutOfRange", setting.min, setting.max);
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
        errors[setting.name] = t("programNameWrong", wrong[0], wrong[1]);
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

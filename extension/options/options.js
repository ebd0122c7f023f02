// The options page: every setting of the companion's key, checked here before one "set" writes
// them all (the host then has the companion reload them).
import {
  blacklistNames, changedValues, defaultValues, kSettings, programNameError, validate,
} from "../lib/settings.js";
import { effectiveOptions, kMemoryOptions, parseOption, readManaged } from "../lib/memory_options.js";
import { counted, t, translatePage } from "../lib/i18n.js";
import { showText } from "../lib/live.js";
import { describe } from "../lib/view.js";

// Either switch also has QELM nudge the window under the pointer after each comment, whatever
// program that window belongs to; the page says so beside both, so that nobody turns it on unaware.
const kNudgingSwitches = new Set(["activateKVDisplayEvents", "activateVisualAcc"]);

const $ = (id) => document.getElementById(id);
const element = (tag, properties = {}) => Object.assign(document.createElement(tag), properties);
const controls = new Map();
let programs = [];
// What the key holds, by the latest status, and whether the user has changed the page since.
let held = null;
let edited = false;

function messageFor(name) {
  return $(`message-${name}`);
}

function showProgramList() {
  const list = $("programs");
  list.replaceChildren(...programs.map((name) => {
    const remove = element("button", { type: "button", textContent: t("programRemove") });
    remove.setAttribute("aria-label", t("programRemoveNamed", name));
    remove.addEventListener("click", () => {
      const at = programs.indexOf(name);
      programs = programs.filter((other) => other !== name);
      edited = true;
      showProgramList();
      // The keyboard stays in the list: on the Remove of the name that took this one's place, or
      // on the field that adds one once the list is empty.
      ($("programs").querySelectorAll("button")[Math.min(at, programs.length - 1)] ??
        $("program-name")).focus();
    });
    const row = element("li");
    row.append(element("span", { textContent: name }), remove);
    return row;
  }));
  if (programs.length === 0) {
    list.append(element("li", { className: "empty", textContent: t("programListEmpty") }));
  }
}

function addProgram() {
  const input = $("program-name");
  const name = input.value.trim();
  const error = programNameError(name, programs);
  messageFor("blacklist").textContent = error ?? "";
  input.setAttribute("aria-invalid", String(Boolean(error)));
  if (!error) {
    programs.push(name);
    input.value = "";
    edited = true;
    showProgramList();
  }
  return !error;
}

function programListControl() {
  const box = element("div", { className: "list" });
  const input = element("input", { type: "text", id: "program-name", placeholder: t("programNamePlaceholder") });
  input.addEventListener("keydown", (event) => {
    if (event.key === "Enter") {
      event.preventDefault();
      addProgram();
    }
  });
  const add = element("button", { type: "button", id: "add-program", textContent: t("programAdd") });
  add.addEventListener("click", addProgram);
  const adding = element("div", { className: "add" });
  adding.append(input, add);
  box.append(element("ul", { id: "programs" }), adding);
  return box;
}

// The setting's help with its range and default.
function helpText({ kind, help, min, max, default: value }) {
  if (kind === "minutes") {
    return t("settingMinutesRange", help, min, max, value);
  }
  if (kind === "switch") {
    return value ? t("settingOnByDefault", help) : t("settingOffByDefault", help);
  }
  return help;
}

function fieldFor(setting) {
  const field = element("div", { className: "field" });
  const label = element("label", { textContent: setting.label, htmlFor: setting.name });
  const help = element("span", { className: "help muted", textContent: helpText(setting) });
  const message = element("span", { className: "message error", id: `message-${setting.name}` });
  message.setAttribute("role", "alert");
  const nudges = kNudgingSwitches.has(setting.name);
  field.append(label, help);
  if (nudges) {
    field.append(element("span", { className: "help muted", id: `nudge-${setting.name}`,
                                   textContent: t("nudgeNote") }));
  }
  if (setting.kind === "list") {
    label.htmlFor = "program-name";
    field.append(programListControl());
  } else {
    const control = element("span", { className: "control" });
    const input = setting.kind === "switch"
      ? element("input", { type: "checkbox", id: setting.name })
      : element("input", { type: "text", id: setting.name, className: "minutes",
                           inputMode: "numeric" });
    if (nudges) {
      input.setAttribute("aria-describedby", `nudge-${setting.name}`);
    }
    controls.set(setting.name, input);
    control.append(input);
    if (setting.kind === "minutes") {
      control.append(element("span", { className: "muted", textContent: t("unitMinutes") }));
    }
    field.append(control);
  }
  field.append(message);
  return field;
}

// The extension's own options: what is in force, and which the administrator set.
let memory = effectiveOptions({}, {});

function memoryControl(option) {
  if (option.kind === "sites") {
    return element("textarea", { id: option.name, rows: 4, spellcheck: false,
                                 placeholder: "example.org" });
  }
  const input = option.kind === "switch"
    ? element("input", { type: "checkbox", id: option.name })
    : element("input", { type: "text", id: option.name, className: "minutes", inputMode: "numeric" });
  const control = element("span", { className: "control" });
  control.append(input);
  if (option.kind !== "switch") {
    control.append(element("span", { className: "muted",
                                     textContent: option.kind === "percent" ? "%" : t("unitMinutes") }));
  }
  return control;
}

function memoryFieldFor(option) {
  const field = element("div", { className: "field" });
  const range = option.kind === "switch" ? ` ${t("optionOffByDefault")}`
    : option.kind === "sites" ? "" : ` ${t("optionRange", option.min, option.max, option.default)}`;
  field.append(element("label", { textContent: option.label, htmlFor: option.name }),
               element("span", { className: "help muted", textContent: `${option.help}${range}` }),
               memoryControl(option),
               element("span", { className: "help", id: `managed-${option.name}`, hidden: true,
                                 textContent: t("optionManaged") }),
               ...(option.name === "pressureRecovery" ? [pressureHeldNote()] : []),
               element("span", { className: "message error", id: `message-${option.name}` }));
  field.lastChild.setAttribute("role", "alert");
  return field;
}

// Shown while the key says the browser is not to be trimmed: the trigger then asks for nothing.
function pressureHeldNote() {
  return element("span", { className: "help", id: "pressure-held", hidden: true,
                           textContent: t("optionPressureNeedsRecovery") });
}

async function loadMemoryOptions() {
  memory = effectiveOptions(await browser.storage.local.get(), await readManaged(browser.storage));
  for (const option of kMemoryOptions) {
    const input = $(option.name);
    const locked = memory.locked.has(option.name);
    input.disabled = locked;
    $(`managed-${option.name}`).hidden = !locked;
    if (!edited || locked) {
      input[option.kind === "switch" ? "checked" : "value"] = option.kind === "switch"
        ? memory.values[option.name] : [memory.values[option.name]].flat().join("\n");
    }
  }
}

// Checks the extension's options and writes those the user changed and may change; answers
// whether any was written, or null when one is not valid (its message shown beside it).
async function saveMemoryOptions() {
  const changed = {};
  let valid = true;
  for (const option of kMemoryOptions) {
    const input = $(option.name);
    const parsed = parseOption(option, option.kind === "switch" ? input.checked : input.value);
    $(`message-${option.name}`).textContent = parsed.error ?? "";
    input.setAttribute("aria-invalid", String(Boolean(parsed.error)));
    valid &&= !parsed.error;
    if (!parsed.error && !memory.locked.has(option.name) &&
        JSON.stringify(parsed.value) !== JSON.stringify(memory.values[option.name])) {
      changed[option.name] = parsed.value;
    }
  }
  if (!valid) {
    return null;
  }
  if (Object.keys(changed).length > 0) {
    await browser.storage.local.set(changed);
  }
  return Object.keys(changed).length > 0;
}

function fill(values) {
  for (const setting of kSettings) {
    const value = values[setting.name] ?? setting.default;
    if (setting.kind === "list") {
      programs = blacklistNames(value);
      showProgramList();
    } else if (setting.kind === "switch") {
      controls.get(setting.name).checked = Boolean(value);
    } else {
      controls.get(setting.name).value = String(value);
    }
  }
}

function formValues() {
  const form = {};
  for (const setting of kSettings) {
    const control = controls.get(setting.name);
    form[setting.name] = setting.kind === "list" ? programs
      : setting.kind === "switch" ? control.checked : control.value;
  }
  return form;
}

function showErrors(errors) {
  for (const setting of kSettings) {
    messageFor(setting.name).textContent = errors[setting.name] ?? "";
    if (setting.kind !== "list") {
      controls.get(setting.name).setAttribute("aria-invalid", String(Boolean(errors[setting.name])));
    }
  }
}

function answer(text, failed) {
  $("answer").textContent = text;
  $("answer").className = failed ? "error" : "ok";
}

async function ask(cmd, fields) {
  return browser.runtime.sendMessage({ type: "ask", cmd, fields });
}

// Writes what differs from the key, in one set; the host then has QELM reload it.
async function save() {
  // A name typed but not yet added is meant to be in the list.
  if ($("program-name").value.trim() !== "" && !addProgram()) {
    answer(t("saveInvalid"), true);
    return;
  }
  const checked = validate(formValues());
  showErrors(checked.errors ?? {});
  const memorySaved = checked.errors ? null : await saveMemoryOptions();
  if (checked.errors || memorySaved === null) {
    answer(t("saveInvalid"), true);
    return;
  }
  const memoryLine = memorySaved ? ` ${t("saveMemoryToo")}` : "";
  const values = changedValues(checked.values, held);
  if (Object.keys(values).length === 0) {
    edited = false;
    answer(memorySaved ? t("saveMemoryOnly") : t("saveNothing"), false);
    return;
  }
  try {
    if (Object.keys(held).length === 0) {
      await ask("defaults");
    }
    const reply = await ask("set", { values });
    edited = false;
    const reload = reply.reloaded === undefined ? t("saveNotRunning")
      : reply.reloaded ? t("saveReloaded") : t("saveNoReload");
    answer(`${counted(reply.written.length, "savedOne", "saved")} ${reload}${memoryLine}`,
           reply.reloaded === false);
  } catch (error) {
    answer(memorySaved ? t("saveFailedMemoryOnly", error.message) : t("saveFailed", error.message),
           true);
  }
}

// The page shows what the key holds until the user changes something; then it keeps the user's
// values until they are saved.
function show(state) {
  const settings = state.state === "connected" ? state.status?.settings : null;
  showText($("state"), describe(state).line);
  $("install").hidden = state.state !== "missing";
  $("editing").disabled = !settings;
  if (!settings) {
    return;
  }
  const news = JSON.stringify(settings) !== JSON.stringify(held);
  held = settings;
  $("pressure-held").hidden = (settings.app_1 ?? 1) !== 0;
  $("key-missing").hidden = Object.keys(settings).length > 0;
  if (news && !edited) {
    fill(settings);
  }
}

translatePage();
$("fields").append(...kSettings.map(fieldFor));
$("memory-fields").append(...kMemoryOptions.map(memoryFieldFor));
loadMemoryOptions();
browser.storage.onChanged.addListener(() => loadMemoryOptions());
fill(defaultValues());
$("settings").addEventListener("input", () => {
  edited = true;
});
$("settings").addEventListener("submit", (event) => {
  event.preventDefault();
  save();
});
$("defaults").addEventListener("click", () => {
  fill(defaultValues());
  edited = true;
  save();
});
browser.runtime.connect({ name: "view" }).onMessage.addListener(show);

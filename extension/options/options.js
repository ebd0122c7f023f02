// The options page: every setting of the companion's key, checked here before one "set" writes
// them all (the host then has the companion reload them).
import {
  blacklistNames, changedValues, defaultValues, kSettings, programNameError, validate,
} from "../lib/settings.js";
import { showText } from "../lib/live.js";
import { describe } from "../lib/view.js";

// Either switch also has QELM nudge the window under the pointer after each comment, whatever
// program that window belongs to; the page says so beside both, so that nobody turns it on unaware.
const kNudgingSwitches = new Set(["activateKVDisplayEvents", "activateVisualAcc"]);
const kNudgeNote = "After each comment QELM also brings the window under the mouse pointer to the "
  + "front, moves the pointer away and back, and types Shift+F5 into that window, whichever "
  + "program it belongs to.";

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
    const remove = element("button", { type: "button", textContent: "Remove" });
    remove.setAttribute("aria-label", `Remove ${name}`);
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
    list.append(element("li", { className: "empty", textContent: "No program is left alone." }));
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
  const input = element("input", { type: "text", id: "program-name", placeholder: "A program's name, such as notepad.exe" });
  input.addEventListener("keydown", (event) => {
    if (event.key === "Enter") {
      event.preventDefault();
      addProgram();
    }
  });
  const add = element("button", { type: "button", id: "add-program", textContent: "Add" });
  add.addEventListener("click", addProgram);
  const adding = element("div", { className: "add" });
  adding.append(input, add);
  box.append(element("ul", { id: "programs" }), adding);
  return box;
}

function fieldFor(setting) {
  const field = element("div", { className: "field" });
  const label = element("label", { textContent: setting.label, htmlFor: setting.name });
  const range = setting.kind === "minutes"
    ? `; ${setting.min} to ${setting.max} minutes, ${setting.default} by default`
    : setting.kind === "switch" ? `; ${setting.default ? "on" : "off"} by default` : "";
  const help = element("span", { className: "help muted", textContent: setting.help + range });
  const message = element("span", { className: "message error", id: `message-${setting.name}` });
  message.setAttribute("role", "alert");
  const nudges = kNudgingSwitches.has(setting.name);
  field.append(label, help);
  if (nudges) {
    field.append(element("span", { className: "help muted", id: `nudge-${setting.name}`,
                                   textContent: kNudgeNote }));
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
      control.append(element("span", { className: "muted", textContent: "minutes" }));
    }
    field.append(control);
  }
  field.append(message);
  return field;
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
    answer("Nothing was saved: mend the fields marked above.", true);
    return;
  }
  const checked = validate(formValues());
  showErrors(checked.errors ?? {});
  if (checked.errors) {
    answer("Nothing was saved: mend the fields marked above.", true);
    return;
  }
  const values = changedValues(checked.values, held);
  if (Object.keys(values).length === 0) {
    edited = false;
    answer("Nothing to save: the key holds these settings already.", false);
    return;
  }
  try {
    if (Object.keys(held).length === 0) {
      await ask("defaults");
    }
    const reply = await ask("set", { values });
    edited = false;
    const reload = reply.reloaded === undefined ? "QELM is not running; it reads them when it starts."
      : reply.reloaded ? "QELM has reloaded them." : "QELM did not answer the reload.";
    const count = reply.written.length;
    answer(`Saved ${count} setting${count === 1 ? "" : "s"}. ${reload}`, reply.reloaded === false);
  } catch (error) {
    answer(`Nothing was saved: ${error.message}`, true);
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
  $("key-missing").hidden = Object.keys(settings).length > 0;
  if (news && !edited) {
    fill(settings);
  }
}

$("fields").append(...kSettings.map(fieldFor));
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

// Firefox's i18n API as the extension's modules see it, for node: the English messages, with
// numbers written as in en-US. Imported before the modules, which read messages as they load.
import { readFileSync } from "node:fs";

const messages = JSON.parse(readFileSync(
  new URL("../../extension/_locales/en/messages.json", import.meta.url), "utf8"));

globalThis.browser = {
  i18n: {
    getUILanguage: () => "en-US",
    getMessage: (name, values) => messages[name].message.replace(/\$(\w+)\$/g, (_, placeholder) =>
      values[Number(messages[name].placeholders[placeholder.toLowerCase()].content.slice(1)) - 1]),
  },
};

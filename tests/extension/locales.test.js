// Every shipped language has every message the extension uses, none that it does not, and the
// same placeholders as English, each of them used in the text.
import assert from "node:assert/strict";
import { readdirSync, readFileSync } from "node:fs";
import { test } from "node:test";

const extension = new URL("../../extension/", import.meta.url);
const read = (path) => readFileSync(new URL(path, extension), "utf8");
const sources = readdirSync(extension, { recursive: true })
  .filter((path) => /\.(js|html|json)$/.test(path) && !path.startsWith("_locales"));
const locales = Object.fromEntries(readdirSync(new URL("_locales", extension)).map((lang) =>
  [lang, JSON.parse(read(`_locales/${lang}/messages.json`))]));

// A message is named by t("…"), by counted(n, "…", "…"), by data-i18n…="…" or by __MSG_…__.
const kReferences = [/\bt\(\s*"(\w+)"/g, /\bcounted\([^,()]+,\s*"(\w+)",\s*"(\w+)"/g,
                     /data-i18n(?:-label)?="(\w+)"/g, /__MSG_(\w+)__/g];
const used = new Set(sources.flatMap((path) => kReferences.flatMap((pattern) =>
  [...read(path).matchAll(pattern)].flatMap((match) => match.slice(1)))));

const placeholders = (entry) => Object.keys(entry.placeholders ?? {}).sort();
const markers = (entry) => [...new Set(entry.message.match(/\$\w+\$/g) ?? [])]
  .map((marker) => marker.slice(1, -1).toLowerCase()).sort();

test("each language has exactly the messages used, with English's placeholders", () => {
  assert.ok(used.size > 100 && Object.keys(locales).length >= 7);
  for (const [lang, messages] of Object.entries(locales)) {
    assert.deepEqual(Object.keys(messages).sort(), [...used].sort(), lang);
    for (const [name, entry] of Object.entries(messages)) {
      assert.deepEqual(placeholders(entry), placeholders(locales.en[name]), `${lang} ${name}`);
      assert.deepEqual(markers(entry), placeholders(entry), `${lang} ${name}`);
      assert.deepEqual(entry.placeholders, locales.en[name].placeholders, `${lang} ${name}`);
    }
  }
});

// The extension in Firefox with another interface language (Debian's language packs): the popup
// and the options page speak it, and no text is cut off or runs out of its box, the popup's
// width being fixed.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, test } from "node:test";
import {
  click, eventually, extension, homeWithHost, kPanelHeight, launchWithExtension, openPopupInTab,
  pageTab, popupHeight, qelmctl, root, text, work,
} from "./driver.js";

const screenshots = process.env.QELM_SCREENSHOTS ?? join(root, "build", "firefox");
// QELM_COLOR_SCHEME=dark shows the pages in Firefox's dark look, for the dark screenshots.
const dark = process.env.QELM_COLOR_SCHEME === "dark";
const messages = (lang) =>
  JSON.parse(readFileSync(join(extension, "_locales", lang, "messages.json"), "utf8"));
const escaped = (text) => text.replace(/[.*+?^${}()|[\]\\]/g, "\\$&");

// Elements shown whose content is wider than their box (inline ones have none), and boxes that
// reach out of the body (or, for the chart's labels, out of the chart).
const kOverflowing = `[...document.body.querySelectorAll("*")].filter((element) => {
  if (element.getClientRects().length === 0) return false;
  const box = element.getBoundingClientRect();
  const outer = (element.closest("svg") ?? document.body).getBoundingClientRect();
  return element.clientWidth > 0 && element.scrollWidth > element.clientWidth + 1 ||
    box.left < outer.left - 0.5 || box.right > outer.right + 0.5;
}).map((element) => element.id || element.tagName + " " + element.textContent.slice(0, 60))`;

async function saveScreenshot(firefox, tab, name) {
  await firefox.activate(tab);
  const clip = await firefox.evaluate(tab, `(() => { const r = document.body.getBoundingClientRect();
    return { x: r.x, y: r.y, width: r.width, height: r.height }; })()`);
  mkdirSync(screenshots, { recursive: true });
  writeFileSync(join(screenshots, `${name}.png`), await firefox.screenshot(tab, clip));
}

// The companion runs only beside a browser: the stand-in, as firefox.exe.
let standIn;
before(() => {
  standIn = spawn("/usr/lib/wine/wine64", [join(work, "firefox.exe"), "--inner", "--content", "1"],
                  { stdio: "ignore" });
});
after(() => standIn.kill());

for (const lang of ["de", "ja", "ru"]) {
  test(`in ${lang}, both pages speak it, with the chart and figures, and nothing overflows`,
       async () => {
    const home = homeWithHost();
    const firefox = await launchWithExtension(home, {
      "intl.locale.requested": lang,
      "layout.css.prefers-color-scheme.content-override": dark ? 0 : 1,
    });
    try {
      const words = messages(lang);
      const running = new RegExp(`^${words.companionRunning.message.split("$PID$")
        .map(escaped).join("\\d+")}$`);
      const options = await pageTab(firefox, "options/options.html");
      const popup = await openPopupInTab(firefox, options);
      await eventually("the popup's chart", async () => {
        const state = await text(firefox, popup, "state");
        if (!running.test(state) ||
            await firefox.evaluate(popup, "document.getElementById('chart-box').hidden")) {
          throw new Error(`${state} (${qelmctl("status").split("\n")[0]})`);
        }
        return true;
      });
      assert.equal(await text(firefox, popup, "start-stop"), words.companionStop.message);
      // Three recoveries in the table: each shows once its moment, six seconds after Recover
      // now, has come; the extension expects no second one before. QELM's start may be listed
      // too, once its comment comes.
      for (let rows = 1; rows <= 3; rows++) {
        await click(firefox, popup, "recover");
        await eventually(`recovery ${rows}`, () => firefox.evaluate(popup,
          `document.querySelectorAll("#recoveries .recovery").length >= ${rows}`));
      }
      const height = await popupHeight(firefox, popup);
      console.log(`The popup in ${lang}: ${height} px high`);
      assert.ok(height <= kPanelHeight, `the popup in ${lang} is ${height} px high`);
      assert.equal(await text(firefox, options, "save"), words.optionsSave.message);
      for (const [tab, page] of [[popup, "popup"], [options, "options"]]) {
        assert.equal(await firefox.evaluate(tab, "document.documentElement.lang"), lang);
        assert.deepEqual(await firefox.evaluate(tab, kOverflowing), [], `${page} in ${lang}`);
      }
      await saveScreenshot(firefox, popup, `popup-${lang}${dark ? "-dark" : ""}`);
    } finally {
      await firefox.close();
      rmSync(home, { recursive: true, force: true });
    }
  });
}

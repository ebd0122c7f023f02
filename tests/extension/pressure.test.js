// What frees memory under pressure: the choice of tabs to unload, and the trigger's waits.
import "./browser_i18n.js";
import assert from "node:assert/strict";
import { test } from "node:test";
import { effectiveOptions, kMemoryOptions, parseOption } from "../../extension/lib/memory_options.js";
import { PressureTrigger } from "../../extension/lib/pressure.js";
import { nextTurn, tabsToUnload } from "../../extension/lib/unload.js";

const minutes = (count) => count * 60 * 1000;

test("idle tabs are unloaded least recently used first, and none the user would miss", () => {
  const now = Date.UTC(2025, 0, 1);
  const tab = (id, idleMinutes, more = {}) => ({ id, active: false, pinned: false, audible: false,
    discarded: false, status: "complete", url: `https://example.org/${id}`,
    lastAccessed: now - minutes(idleMinutes), ...more });
  const tabs = [tab(1, 45), tab(2, 90, { active: true }), tab(3, 90, { pinned: true }), tab(4, 30),
    tab(5, 90, { audible: true, mutedInfo: { muted: true } }), tab(6, 29), tab(7, 120),
    tab(8, 90, { sharingState: { camera: false, microphone: true } }), tab(9, 90, { url: null }),
    tab(10, 90, { sharingState: { camera: false, microphone: false, screen: "Window" } }),
    tab(11, 90, { status: "loading" }), tab(12, 90, { url: "about:preferences" }),
    tab(13, 90, { discarded: true })];
  assert.deepEqual(tabsToUnload(tabs, now, 30).map((chosen) => chosen.id), [7, 1, 4]);
});

test("for memory pressure a few tabs go a turn, least recently used first, until the memory in " +
     "use is below the level by the margin; the sites kept and their subdomains never", () => {
  const now = Date.UTC(2025, 0, 1);
  const site = (id, host, idleMinutes) => ({ id, url: `https://${host}/`, status: "complete",
                                             lastAccessed: now - minutes(idleMinutes) });
  const tabs = [site(1, "a.example", 50), site(2, "mail.kept.example", 900), site(3, "b.example", 2),
    site(4, "notkept.example", 70), site(5, "kept.example", 800), site(6, "c.example", 40),
    site(7, "d.example", 0.5), site(8, "e.example", 60), site(9, "f.example", 30)];
  const left = tabsToUnload(tabs, now, 1, ["kept.example"]);
  // The figures after each turn; 83 is still at or above 85 less the margin, 79 is below it.
  const turns = [90, 83, 79].map((load) => nextTurn(left, load, 85)
    .map((tab) => left.splice(left.indexOf(tab), 1)[0].id));
  assert.deepEqual(turns, [[4, 8, 1], [6, 9, 3], []]);
  assert.deepEqual(nextTurn([], 99, 85), []);

  const [minutesOption, sitesOption] = kMemoryOptions.slice(-2);
  assert.deepEqual(effectiveOptions({ unloadAfterMinutes: 0 }, { keptSites: ["Kept.Example"] })
    .values, { ...effectiveOptions({}, {}).values, unloadAfterMinutes: 1,
               keptSites: ["kept.example"] });
  assert.ok(parseOption(minutesOption, "0").error);
  assert.deepEqual(parseOption(sitesOption, " Kept.example\n*.b.example\n\nhttps://c.example/x\n"),
                   { value: ["kept.example", "b.example", "c.example"] });
  assert.match(parseOption(sitesOption, "a.example\nnot a host").error, /“not a host”/);
});

test("the pressure trigger waits, backs off while recoveries do not help, and starts over", () => {
  let now = 0;
  const trigger = new PressureTrigger(85, () => now);
  const asks = (load, atMinute) => { now = minutes(atMinute); return trigger.observeLoad(load); };
  const next = () => trigger.nextAllowedAt() / minutes(1);
  assert.deepEqual([asks(undefined, 0), asks(84, 0), trigger.nextAllowedAt(), asks(85, 0),
                    asks(99, 4.9), asks(99, 5)], [false, false, null, true, false, true]);
  const noHelp = [{ movedKiB: 16383, cameBackKiB: 0 }, { movedKiB: 20480, cameBackKiB: 10241 }];
  const nextAt = [...noHelp, ...noHelp, ...noHelp].map((outcome) => {
    trigger.observeOutcome(outcome);
    return next();
  });
  assert.deepEqual([...nextAt, asks(90, 64), asks(90, 65)], [15, 25, 45, 65, 65, 65, false, true]);
  trigger.observeOutcome({ movedKiB: 20480, cameBackKiB: 10240 });
  const helped = next();
  trigger.observeOutcome(noHelp[0]);
  assert.deepEqual([helped, next(), asks(84, 66), next()], [70, 75, false, 75]);
});

test("a load hovering around the threshold keeps the back-off; one below the margin for a whole " +
     "wait ends it", () => {
  let now = 0;
  const trigger = new PressureTrigger(85, () => now);
  const askedAt = [];
  for (; now < minutes(180); now += 5000) {
    if (trigger.observeLoad(now % 10000 ? 84 : 86)) {
      askedAt.push(now / minutes(1));
      trigger.observeOutcome({ movedKiB: 0, cameBackKiB: 0 });
    }
  }
  const stay = (load, forMinutes) => {
    for (const end = now + minutes(forMinutes); now <= end; now += 5000) {
      trigger.observeLoad(load);
    }
    return trigger.nextAllowedAt() / minutes(1);
  };
  assert.deepEqual([askedAt, stay(80, 70), stay(79, 59), stay(79, 1)],
                   [[0, 10, 30, 70, 130], 190, 190, 135]);
});

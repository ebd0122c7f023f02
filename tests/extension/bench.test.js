// The background page's measure of scripts/bench, run once briefly so that it cannot break
// unseen; its times are not judged here.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { fileURLToPath } from "node:url";
import { test } from "node:test";

test("the background page's measure runs over the extension's own modules", () => {
  const bench = fileURLToPath(new URL("../bench/background_cost.mjs", import.meta.url));
  const printed = execFileSync(process.execPath, [bench, "3"], { encoding: "utf8" });
  assert.match(printed, /^\| now \| [\d.]+ µs, no JSON \| [\d.]+ µs, \d+ KiB of JSON \|$/m);
  assert.match(printed, /^\| now \| not run \| [\d.]+ µs; [\d.]+ µs at the status that judges/m);
});

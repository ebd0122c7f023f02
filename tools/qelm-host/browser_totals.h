#pragma once

#include <nlohmann/json.hpp>

// The memory of the browser that the host serves: the browser process that started the host and
// every process it started in turn, from one listing of the machine's processes. Only those
// processes are opened. The companion's own figures name one process, the first firefox.exe the
// process list gives; a modern Firefox runs many.
//
// Where no browser is among the host's ancestors (a browser running under another system starts
// the host, or a test's launcher does), the host cannot tell which browser it serves: it then
// takes every process of the browser's name (firefox.exe, else palemoon.exe) and every
// plugin-container.exe of its own session.

// {"browser": {"name", "processes", "privateKiB", "workingSetKiB", "privateWorkingSet"},
//  "pluginHost": {the same, named plugin-container.exe}}, null for one that has no process:
// - privateKiB: what the processes hold, the sum of their private bytes (PrivateUsage);
// - workingSetKiB: what of it is in RAM, the sum of their private working sets where the system
//   tells them (privateWorkingSet true), else of their whole working sets;
// - each figure is null when it could not be read for one of the processes counted. Wine
//   counts no private bytes (it reports 0), so under Wine privateKiB is null.
nlohmann::json BrowserTotals();

#pragma once

#include <nlohmann/json.hpp>

// The memory of the whole browser. The companion's figures name one process, the first
// firefox.exe the process list gives; a modern Firefox runs many, so the extension is given the
// sum over all of them.

// {"browser": {"name", "processes", "workingSetKiB"}, "pluginHost": {"processes",
// "workingSetKiB"}}: the working sets of every process of the browser (Firefox when it runs,
// otherwise Pale Moon) and of its plug-in host that could be opened and measured, with the count
// of those summed; null for one that does not run.
nlohmann::json BrowserTotals();

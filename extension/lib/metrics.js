// Reads the figures out of the companion's memory-metrics text, for example
//   "Browser WorkingSetSize = 123456K \nPlugin-Container WorkingSetSize = 2048K\n
//    \nMemory in usage:      45%\nPhysical memory:   16384M ...".
// A text without the memory lines (the notice written at exit, or none) gives null.

const kMemoryLines = [
  { key: "memoryLoad", label: "Memory in usage", unit: "%" },
  { key: "physical", label: "Physical memory", unit: "M" },
  { key: "freePhysical", label: "Free physical memory", unit: "M" },
  { key: "pagingFile", label: "Paging file", unit: "M" },
  { key: "freePagingFile", label: "Free paging file", unit: "M" },
  { key: "virtual", label: "Virtual memory", unit: "M" },
  { key: "freeVirtual", label: "Free virtual memory", unit: "M" },
];

function numberAfter(text, pattern) {
  const match = pattern.exec(text);
  return match ? Number(match[1]) : null;
}

export function parseMetrics(text) {
  if (typeof text !== "string") {
    return null;
  }
  const figures = {
    // Pale Moon's figure carries no "Browser" word; the plug-in host's line begins with its name.
    browserKiB: numberAfter(text, /^(?:Browser )?WorkingSetSize = (\d+)K/m),
    pluginHostKiB: numberAfter(text, /^Plugin-Container WorkingSetSize = (\d+)K/m),
  };
  for (const line of kMemoryLines) {
    const figure = numberAfter(text, new RegExp(`^${line.label}: *(-?\\d+)${line.unit}`, "m"));
    if (figure === null) {
      return null;
    }
    figures[line.key] = figure;
  }
  return figures;
}

const kGrouped = new Intl.NumberFormat("en-US");
const kOneDecimal = new Intl.NumberFormat("en-US", { minimumFractionDigits: 1,
                                                     maximumFractionDigits: 1 });

// "Firefox's working set (7 processes)", as the host sums it.
export function browserLabel(browser) {
  const name = browser.name === "palemoon.exe" ? "Pale Moon" : "Firefox";
  const count = browser.processes;
  return `${name}'s working set (${count} process${count === 1 ? "" : "es"})`;
}

// A working set in KiB, grouped; "not running" for a process that was not found.
export function kibibytes(figure) {
  return figure === null ? "not running" : `${kGrouped.format(figure)} KiB`;
}

// A working set in KiB as MiB or GiB; "not running" for none.
export function mebibytes(kib) {
  return kib === null || kib === undefined ? "not running" : sizeText(Math.round(kib / 1024));
}

// Mebibytes in the largest unit that keeps at least one whole one.
export function sizeText(mebibytes) {
  if (mebibytes >= 1024 * 1024) {
    return `${kOneDecimal.format(mebibytes / (1024 * 1024))} TiB`;
  }
  if (mebibytes >= 1024) {
    return `${kOneDecimal.format(mebibytes / 1024)} GiB`;
  }
  return `${kGrouped.format(mebibytes)} MiB`;
}

function freeOf(total, free) {
  return `${sizeText(free)} free of ${sizeText(total)}`;
}

// The figures as a person reads them: [label, value] rows. The working sets are the host's sums
// over all the browser's processes where it gave them (totals), else the companion's one process.
// Committed memory is what the paging-file figures tell: the commit limit, and the charge as that
// limit minus what is free of it.
export function metricsRows(figures, totals) {
  const browser = totals?.browser;
  const pluginHost = totals ? totals.pluginHost : undefined;
  return [
    browser ? [browserLabel(browser), mebibytes(browser.workingSetKiB)]
      : ["Browser working set", kibibytes(figures.browserKiB)],
    pluginHost !== undefined
      ? ["Plug-in host working set", pluginHost ? mebibytes(pluginHost.workingSetKiB)
                                                : "not running"]
      : ["Plug-in host working set", kibibytes(figures.pluginHostKiB)],
    ["Memory in use (whole machine)", `${figures.memoryLoad} %`],
    ["Physical memory", freeOf(figures.physical, figures.freePhysical)],
    ["Committed memory", `${sizeText(figures.pagingFile - figures.freePagingFile)} of ` +
      `${sizeText(figures.pagingFile)} limit`],
  ];
}

// Reads the figures out of the companion's memory-metrics text, for example
//   "Browser WorkingSetSize = 123456K \nPlugin-Container WorkingSetSize = 2048K\n
//    \nMemory in usage:      45%\nPhysical memory:   16384M ...".
// A text without the memory lines (the notice written at exit, or none) gives null.
import { counted, t, uiLanguage } from "./i18n.js";

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

const grouped = (number) => new Intl.NumberFormat(uiLanguage()).format(number);
const oneDecimal = (number) => new Intl.NumberFormat(uiLanguage(), { minimumFractionDigits: 1,
                                                                     maximumFractionDigits: 1 })
  .format(number);

export const percent = (figure) => t("percent", figure);

// "Firefox's working set (7 processes)", as the host sums it.
export function browserLabel(browser) {
  const name = browser.name === "palemoon.exe" ? "Pale Moon" : "Firefox";
  return counted(browser.processes, "browserWorkingSetOne", "browserWorkingSetMany", name);
}

// A working set in KiB, grouped; "not running" for a process that was not found.
export function kibibytes(figure) {
  return figure === null ? t("notRunning") : t("unitKiB", grouped(figure));
}

// A working set in KiB as MiB or GiB; "not running" for none.
export function mebibytes(kib) {
  return kib === null || kib === undefined ? t("notRunning") : sizeText(Math.round(kib / 1024));
}

// A figure of the host's, which gives null for one it could not read: never shown as 0, nor as
// a process that does not run.
export function figureSize(kib) {
  return kib === null ? t("figureUnavailable") : mebibytes(kib);
}

// Mebibytes in the largest unit that keeps at least one whole one.
export function sizeText(mebibytes) {
  if (mebibytes >= 1024 * 1024) {
    return t("unitTiB", oneDecimal(mebibytes / (1024 * 1024)));
  }
  if (mebibytes >= 1024) {
    return t("unitGiB", oneDecimal(mebibytes / 1024));
  }
  return t("unitMiB", grouped(mebibytes));
}

// The figures as a person reads them: [label, value] rows. The working sets are the host's sums
// over all the browser's processes where it gave them (totals), else the companion's one process.
// Committed memory is what the paging-file figures tell: the commit limit, and the charge as that
// limit minus what is free of it.
export function metricsRows(figures, totals) {
  const browser = totals?.browser;
  const pluginHost = totals ? totals.pluginHost : undefined;
  return [
    browser ? [browserLabel(browser), figureSize(browser.workingSetKiB)]
      : [t("metricBrowser"), kibibytes(figures.browserKiB)],
    [t("metricPluginHost"), pluginHost === undefined ? kibibytes(figures.pluginHostKiB)
      : pluginHost ? figureSize(pluginHost.workingSetKiB) : t("notRunning")],
    [t("metricLoad"), percent(figures.memoryLoad)],
    [t("metricPhysical"), t("metricFreeOf", sizeText(figures.freePhysical),
                            sizeText(figures.physical))],
    [t("metricCommitted"), t("metricCommitOf", sizeText(figures.pagingFile - figures.freePagingFile),
                             sizeText(figures.pagingFile))],
  ];
}

// The popup's chart of the last hour as plain data: paths, ticks, marks and the lines of text
// that the popup turns into SVG elements. Places are in the chart's own units (its viewBox).
import { kHourMs } from "./history.js";
import { counted, t, uiLanguage } from "./i18n.js";
import { percent, sizeText } from "./metrics.js";

export const kChartSize = { width: 328, height: 120 };
// Room on the left for the working-set labels, on the right for the memory load's, below for
// the time's: all inside the chart, which the focus ring surrounds.
const kPlot = { left: 50, top: 8, width: 240, height: 90 };

// Each span of the time axis in minutes, with the step of its ticks. The chart takes the shortest
// one that holds what it shows, so that a young history fills the width; none has more than three
// steps, so that the labels never touch.
const kTimeSpans = [[2, 1], [3, 1], [6, 2], [9, 3], [15, 5], [30, 10], [45, 15], [60, 20]];

export function timeAxis(oldestAgeMs) {
  const minutes = oldestAgeMs / 60000;
  const [span, step] = kTimeSpans.find(([longest]) => longest >= minutes) ?? kTimeSpans.at(-1);
  const ticks = [];
  for (let ago = span; ago >= 0; ago -= step) {
    const label = ago === span ? t("axisMinutesAgo", ago) : ago === 0 ? t("axisNow")
      : t("axisMinutes", ago);
    ticks.push({ minutesAgo: ago, label });
  }
  return { spanMs: span * 60000, ticks };
}

// Working-set scales from 0, in MiB below one GiB and in GiB above, with at most this many steps.
const kMostSteps = 4;
const kMiBSteps = [1, 2, 5, 10, 20, 50, 100, 200, 250];
const kGiBSteps = [0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000];

function scale(step, count, unit, kibPerUnit) {
  const number = new Intl.NumberFormat(uiLanguage(), { maximumFractionDigits: 2 });
  const ticks = Array.from({ length: count + 1 }, (_, i) => ({
    kib: i * step * kibPerUnit,
    label: i === 0 ? number.format(0) : t(unit, number.format(i * step)),
  }));
  return { topKiB: count * step * kibPerUnit, ticks };
}

export function workingSetAxis(highestKiB) {
  const highestMiB = Math.max(highestKiB, 1) / 1024;
  for (const step of kMiBSteps) {
    const count = Math.max(1, Math.ceil(highestMiB / step));
    if (count <= kMostSteps && count * step < 1024) {
      return scale(step, count, "unitMiB", 1024);
    }
  }
  const highestGiB = highestMiB / 1024;
  const step = kGiBSteps.find((each) => Math.ceil(highestGiB / each) <= kMostSteps) ??
    kGiBSteps.at(-1);
  return scale(step, Math.ceil(highestGiB / step), "unitGiB", 1024 * 1024);
}

export const markName = (kind) => ({
  selection: t("markSelection"),
  start: t("markStart"),
  periodic: t("markPeriodic"),
  tab: t("markTab"),
  stop: t("markStop"),
  unload: t("markUnload"),
})[kind];

const mebibytes = (kib) => sizeText(Math.round(kib / 1024));

// The lowest, highest and latest figure of the browser, or null when it has none.
export function summaryLine(samples) {
  const figures = samples.map((sample) => sample.browserKiB).filter((figure) => figure !== null);
  if (figures.length === 0) {
    return null;
  }
  return t("chartBrowserFigures", mebibytes(Math.min(...figures)), mebibytes(Math.max(...figures)),
           mebibytes(figures.at(-1)));
}

// The chart in words, for a screen reader: the span it shows, the browser's figures, the tab
// selections reported and the recoveries the companion's comments told of.
export function chartSummary(model, timeText) {
  const selections = model.marks.filter(({ kind }) => kind === "selection").length;
  const recoveries = model.marks.filter(({ kind }) => kind === "periodic" || kind === "tab");
  const latest = recoveries.at(-1);
  const browser = summaryLine(model.points.map(({ sample }) => sample)) ??
    t("chartBrowserNoFigure");
  const known = latest
    ? counted(recoveries.length, "chartRecoveryOneLatest", "chartRecoveriesLatest",
              timeText(latest.time))
    : counted(recoveries.length, "chartRecoveryOne", "chartRecoveries");
  return t("chartSummary", model.spanMinutes, browser,
           counted(selections, "chartSelectionOne", "chartSelections"), known);
}

// One sample's figures, after its time as the popup writes it.
export function sampleLine(sample, timeText) {
  const figure = (kib) => (kib === null ? t("notRunning") : mebibytes(kib));
  return t("chartPoint", timeText, figure(sample.browserKiB), figure(sample.pluginHostKiB),
           percent(sample.memoryLoad));
}

// The samples cut into the stretches a line joins: a gap or a missing figure ends one.
function stretches(samples, figureOf) {
  const found = [];
  let stretch = null;
  for (const sample of samples) {
    const figure = figureOf(sample);
    if (figure === null) {
      stretch = null;
      continue;
    }
    if (!stretch || sample.afterGap) {
      stretch = [];
      found.push(stretch);
    }
    stretch.push({ time: sample.time, figure });
  }
  return found;
}

const place = (value) => Math.round(value * 10) / 10;

// One vertex for each sample; a lone sample is a dot (a round cap on a line of no length).
function linePath(stretchList, x, y) {
  return stretchList.map((stretch) =>
    `M${stretch.map(({ time, figure }) => `${place(x(time))} ${place(y(figure))}`).join("L")}` +
    (stretch.length === 1 ? "h0" : "")).join("");
}

function areaPath(stretchList, x, y) {
  const bottom = kPlot.top + kPlot.height;
  return stretchList.map((stretch) =>
    `M${place(x(stretch[0].time))} ${bottom}` +
    stretch.map(({ time, figure }) => `L${place(x(time))} ${place(y(figure))}`).join("") +
    `L${place(x(stretch.at(-1).time))} ${bottom}Z`).join("");
}

// history: { samples, marks }, oldest first; now: the time at the right edge. What is older than
// an hour is left out.
export function chartModel(history, now) {
  const inHour = (item) => item.time > now - kHourMs;
  const samples = history.samples.filter(inHour);
  const marks = history.marks.filter(inHour);
  const oldest = Math.min(now, samples[0]?.time ?? now, marks[0]?.time ?? now);
  const time = timeAxis(now - oldest);
  const highestKiB = samples.reduce((highest, { browserKiB, pluginHostKiB }) =>
    Math.max(highest, browserKiB ?? 0, pluginHostKiB ?? 0), 0);
  const workingSet = workingSetAxis(highestKiB);
  const x = (at) => kPlot.left + kPlot.width * (1 - (now - at) / time.spanMs);
  const y = (kib) => kPlot.top + kPlot.height * (1 - kib / workingSet.topKiB);
  const loadY = (percent) => kPlot.top + kPlot.height * (1 - percent / 100);
  const load = stretches(samples, (sample) => sample.memoryLoad);
  const yOrNull = (kib) => (kib === null ? null : place(y(kib)));
  return {
    plot: { ...kPlot },
    spanMinutes: time.spanMs / 60000,
    browser: linePath(stretches(samples, (sample) => sample.browserKiB), x, y),
    pluginHost: linePath(stretches(samples, (sample) => sample.pluginHostKiB), x, y),
    load: linePath(load, x, loadY),
    loadArea: areaPath(load, x, loadY),
    timeTicks: time.ticks.map(({ minutesAgo, label }, i, ticks) => ({
      x: place(x(now - minutesAgo * 60000)),
      label,
      anchor: i === 0 ? "start" : i === ticks.length - 1 ? "end" : "middle",
    })),
    workingSetTicks: workingSet.ticks.map(({ kib, label }) => ({ y: place(y(kib)), label })),
    loadTicks: [50, 100].map((load) => ({ y: place(loadY(load)), label: percent(load) })),
    marks: marks.map(({ time: at, kind }) => ({ x: place(x(at)), kind, time: at })),
    points: samples.map((sample) => ({
      x: place(x(sample.time)),
      browserY: yOrNull(sample.browserKiB),
      pluginHostY: yOrNull(sample.pluginHostKiB),
      loadY: place(loadY(sample.memoryLoad)),
      sample,
    })),
  };
}

// The point whose time is nearest the chart's place x, or null without points.
export function nearestPoint(points, x) {
  let nearest = null;
  for (const point of points) {
    if (!nearest || Math.abs(point.x - x) < Math.abs(nearest.x - x)) {
      nearest = point;
    }
  }
  return nearest;
}

// The point a key moves the readout to from the point of the given time (null: none yet): Left
// and Down one point earlier, Right and Up one later (as on a slider), from none to the latest;
// Home and End to the oldest and the latest. Null for any other key.
export function pointByKey(points, time, key) {
  const at = points.findIndex(({ sample }) => sample.time === time);
  const last = points.length - 1;
  const earlier = at < 0 ? last : Math.max(at - 1, 0);
  const later = at < 0 ? last : Math.min(at + 1, last);
  const index = {
    ArrowLeft: earlier,
    ArrowDown: earlier,
    ArrowRight: later,
    ArrowUp: later,
    Home: 0,
    End: last,
  }[key];
  return points[index] ?? null;
}

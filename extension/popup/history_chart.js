// Draws the last hour of the memory figures into the popup's SVG, with its description in words,
// and the line under it: the browser's lowest, highest and latest figure, or the figures of the
// point under the pointer or chosen with the keys.
import {
  chartModel, chartSummary, kChartSize, markName, nearestPoint, pointByKey, sampleLine, summaryLine,
} from "../lib/chart.js";
import { clock as clockText, t } from "../lib/i18n.js";
import { showText } from "../lib/live.js";

const kSvg = "http://www.w3.org/2000/svg";
const $ = (id) => document.getElementById(id);

const clock = (time) => clockText(time, true);

// What the chart shows now (null while there is too little to draw), where the pointer is over
// it (null when it is not), and the time of the figure chosen with the keys (null when none is).
let model = null;
let pointerX = null;
let chosenTime = null;

function svg(tag, attributes, ...children) {
  const element = document.createElementNS(kSvg, tag);
  for (const [name, value] of Object.entries(attributes)) {
    element.setAttribute(name, value);
  }
  element.append(...children);
  return element;
}

function scales({ plot, workingSetTicks, loadTicks, timeTicks }) {
  const right = plot.left + plot.width;
  const bottom = plot.top + plot.height;
  return [
    ...workingSetTicks.flatMap(({ y, label }) => [
      svg("line", { class: "grid", x1: plot.left, x2: right, y1: y, y2: y }),
      svg("text", { class: "label", x: plot.left - 5, y, "text-anchor": "end",
                    "dominant-baseline": "middle" }, label),
    ]),
    ...loadTicks.map(({ y, label }) =>
      svg("text", { class: "label", x: right + 5, y, "dominant-baseline": "middle" },
          label)),
    ...timeTicks.map(({ x, label, anchor }) =>
      svg("text", { class: "label", x, y: bottom + 15, "text-anchor": anchor }, label)),
  ];
}

// A recovery is a line across the plot; a reported tab selection a small triangle under it.
function marks({ plot, marks: all }) {
  const bottom = plot.top + plot.height;
  return all.map(({ x, kind, time }) => {
    const title = svg("title", {}, t("chartMarkAt", markName(kind), clock(time)));
    if (kind === "selection") {
      return svg("path", { class: "mark selection", d: `M${x} ${bottom}l-3.5 6h7z` }, title);
    }
    const drawn = kind === "unload" ? "unload" : "recovery";
    return svg("line", { class: `mark ${drawn} ${kind}`, x1: x, x2: x, y1: plot.top, y2: bottom },
               title);
  });
}

function lines({ browser, pluginHost, load, loadArea }) {
  return [
    svg("path", { class: "load-area", d: loadArea }),
    svg("path", { class: "load", d: load }),
    svg("path", { class: "plugin-host", d: pluginHost }),
    svg("path", { class: "browser", d: browser }),
  ];
}

function shownPoint() {
  if (chosenTime !== null) {
    return model.points.find(({ sample }) => sample.time === chosenTime) ?? null;
  }
  return pointerX === null ? null : nearestPoint(model.points, pointerX);
}

function showPoint() {
  if (!model) {
    return;
  }
  const point = shownPoint();
  const { plot } = model;
  const dot = (y, kind) => svg("circle", { class: `dot ${kind}`, cx: point.x, cy: y, r: 3 });
  $("chart-pointer").replaceChildren(...(point ? [
    svg("line", { class: "pointer", x1: point.x, x2: point.x, y1: plot.top,
                  y2: plot.top + plot.height }),
    dot(point.loadY, "load"),
    ...(point.pluginHostY === null ? [] : [dot(point.pluginHostY, "plugin-host")]),
    ...(point.browserY === null ? [] : [dot(point.browserY, "browser")]),
  ] : []));
  // A point's figures are announced as the pointer or the keys move it; the summary, which changes
  // with every new figure, is not.
  $("chart-line").setAttribute("aria-live", point ? "polite" : "off");
  showText($("chart-line"), point
    ? sampleLine(point.sample, clock(point.sample.time))
    : summaryLine(model.points.map(({ sample }) => sample)) ?? "");
}

// The pointer's place in the chart's own units.
function placeOf(event) {
  const box = $("chart").getBoundingClientRect();
  return (event.clientX - box.left) * kChartSize.width / box.width;
}

// history: the background's { samples, marks }.
export function showHistory(history, now = Date.now()) {
  const drawn = chartModel(history, now);
  const enough = drawn.points.length >= 2;
  $("chart-box").hidden = !enough;
  $("chart-empty").hidden = enough;
  model = enough ? drawn : null;
  if (!enough) {
    return;
  }
  $("chart").replaceChildren(...scales(model), ...lines(model), ...marks(model),
                             svg("g", { id: "chart-pointer" }));
  showText($("chart-summary"),
           `${chartSummary(model, clock)} ${t("chartKeys")}`);
  showPoint();
}

$("chart").setAttribute("viewBox", `0 0 ${kChartSize.width} ${kChartSize.height}`);
$("chart").addEventListener("pointermove", (event) => {
  pointerX = placeOf(event);
  chosenTime = null;
  showPoint();
});
$("chart").addEventListener("keydown", (event) => {
  const point = model && pointByKey(model.points, chosenTime, event.key);
  if (point) {
    event.preventDefault();
    chosenTime = point.sample.time;
    pointerX = null;
    showPoint();
  }
});
$("chart").addEventListener("blur", () => {
  chosenTime = null;
  showPoint();
});
$("chart").addEventListener("pointerleave", () => {
  pointerX = null;
  showPoint();
});

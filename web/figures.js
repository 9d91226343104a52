// The phase figures as SVG, with the colours and words of the Python
// package's: the section (temperature against bulk x_CO2 at one pressure, one
// panel per solvent salinity, each cell coloured by the flash's verdict at its
// centre, the one-phase limit over them), the ternary at one T and P (feeds
// coloured by verdict, tie-lines, the three-phase triangle) and the P-T figure
// of a bulk fluid (one and two phases, isochores through it).
"use strict";

const SVG_NS = "http://www.w3.org/2000/svg";
// The verdicts in the worker's order: cell colour and legend words.
const SECTION_CLASSES = [
  ["#d8e8f5", "one phase"],
  ["#f7dcc4", "brine + CO2-rich"],
  ["#b889cc", "salt split (two phases of equal x CO2)"],
  ["#e6a19a", "two phases, the brine beyond 50 wt%"],
  ["#8fd1a8", "three phases"],
  ["#ffffff", "undecided (left blank)"],
];
const LIMIT_COLOUR = "#1f4e79";

function svgElement(name, attributes, text) {
  const element = document.createElementNS(SVG_NS, name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, String(value));
  if (text !== undefined) element.textContent = text;
  return element;
}

// Cell edges halfway between centres, the outer ones as far out.
function edges(centres) {
  if (centres.length === 1) return [centres[0] - 0.5, centres[0] + 0.5];
  const middle = centres.slice(1).map((c, k) => 0.5 * (c + centres[k]));
  return [2 * centres[0] - middle[0], ...middle, 2 * centres[centres.length - 1] - middle[middle.length - 1]];
}

const tickLabel = (v) => String(Number(v.toPrecision(6)));

// Round tick values (steps of 1, 2 or 5 times a power of ten) within [low, high].
function niceTicks(low, high, most) {
  const raw = (high - low) / most, power = 10 ** Math.floor(Math.log10(raw));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= raw);
  const ticks = [];
  for (let k = Math.ceil(low / step); k * step <= high + 1e-9 * step; ++k) ticks.push(k * step);
  return ticks;
}

function drawSection(container, data) {
  const panelW = 300, panelH = 300, left = 60, top = 50, gap = 70, legendW = 300;
  const width = left + data.wt.length * (panelW + gap) + legendW, height = top + panelH + 60;
  const svg = svgElement("svg", {xmlns: SVG_NS, viewBox: `0 0 ${width} ${height}`, width, height,
                                 "font-family": "sans-serif", "font-size": 12, role: "img"});
  const below = data.P < 500 ? " (below the stated range)" : "";
  svg.appendChild(svgElement("title", {}, `Where the fluid unmixes at ${data.P} bar${below}`));
  svg.appendChild(svgElement("text", {x: width / 2, y: 20, "text-anchor": "middle", "font-size": 15,
                                      class: "figure-title"}, `Where the fluid unmixes at ${data.P} bar${below}`));
  const ex = edges(data.x), eT = edges(data.T);
  const seen = new Set();
  data.wt.forEach((wt, p) => {
    const x0 = left + p * (panelW + gap);
    const sx = (x) => x0 + ((x - ex[0]) / (ex[ex.length - 1] - ex[0])) * panelW;
    const sy = (T) => top + panelH - ((T - eT[0]) / (eT[eT.length - 1] - eT[0])) * panelH;
    const panel = svgElement("g", {class: "panel", "data-wt": wt});
    const cells = svgElement("g", {class: "cells"});
    data.classes[p].forEach((row, i) => {
      row.forEach((kind, j) => {
        seen.add(kind);
        cells.appendChild(svgElement("rect", {
          x: sx(ex[j]), y: sy(eT[i + 1]), width: sx(ex[j + 1]) - sx(ex[j]) + 0.3,
          height: sy(eT[i]) - sy(eT[i + 1]) + 0.3, fill: SECTION_CLASSES[kind][0], "data-class": kind}));
      });
    });
    panel.appendChild(cells);
    // The limit: a line through the temperatures where it was found, broken where it was not.
    let path = "", open = false;
    data.limit[p].forEach((x, i) => {
      if (Number.isFinite(x)) {
        path += `${open ? "L" : "M"}${sx(x).toFixed(2)},${sy(data.T[i]).toFixed(2)}`;
        open = true;
      } else {
        open = false;
      }
    });
    panel.appendChild(svgElement("path", {d: path, fill: "none", stroke: LIMIT_COLOUR, "stroke-width": 1.8,
                                          class: "limit-line"}));
    panel.appendChild(svgElement("rect", {x: x0, y: top, width: panelW, height: panelH, fill: "none",
                                          stroke: "#333"}));
    for (const x of niceTicks(ex[0], ex[ex.length - 1], 5)) {
      panel.appendChild(svgElement("text", {x: sx(x), y: top + panelH + 16, "text-anchor": "middle"}, tickLabel(x)));
    }
    for (const T of niceTicks(eT[0], eT[eT.length - 1], 6)) {
      panel.appendChild(svgElement("text", {x: x0 - 6, y: sy(T) + 4, "text-anchor": "end"}, tickLabel(T)));
    }
    panel.appendChild(svgElement("text", {x: x0 + panelW / 2, y: top + panelH + 36, "text-anchor": "middle"},
                                 "bulk x CO2 (mole fraction)"));
    panel.appendChild(svgElement("text", {x: x0 - 44, y: top + panelH / 2, "text-anchor": "middle",
                                          transform: `rotate(-90 ${x0 - 44} ${top + panelH / 2})`}, "T (°C)"));
    panel.appendChild(svgElement("text", {x: x0 + panelW / 2, y: top - 8, "text-anchor": "middle"},
                                 `solvent of ${wt} wt% NaCl`));
    svg.appendChild(panel);
  });
  const legend = svgElement("g", {class: "legend"});
  const lx = left + data.wt.length * (panelW + gap) - gap + 20;
  let ly = top;
  SECTION_CLASSES.forEach(([colour, words], kind) => {
    if (!seen.has(kind)) return;
    legend.appendChild(svgElement("rect", {x: lx, y: ly, width: 18, height: 12, fill: colour, stroke: "#999"}));
    legend.appendChild(svgElement("text", {x: lx + 26, y: ly + 10}, words));
    ly += 20;
  });
  legend.appendChild(svgElement("line", {x1: lx, y1: ly + 6, x2: lx + 18, y2: ly + 6, stroke: LIMIT_COLOUR,
                                         "stroke-width": 1.8}));
  legend.appendChild(svgElement("text", {x: lx + 26, y: ly + 10}, "one-phase limit"));
  svg.appendChild(legend);
  container.replaceChildren(svg);
}

function svgText(svg) {
  return '<?xml version="1.0" encoding="UTF-8"?>\n' + new XMLSerializer().serializeToString(svg);
}

// The section's numbers: one row per cell, and the limit of each temperature.
function sectionCsv(data) {
  const words = SECTION_CLASSES.map(([, w]) => w.replace(" (left blank)", ""));
  const lines = ["P_bar,wt_NaCl,T_C,x_CO2,verdict,one_phase_limit_x_CO2"];
  data.wt.forEach((wt, p) => {
    data.T.forEach((T, i) => {
      data.x.forEach((x, j) => {
        const limit = Number.isFinite(data.limit[p][i]) ? String(data.limit[p][i]) : "";
        lines.push([data.P, wt, T, x, `"${words[data.classes[p][i][j]]}"`, limit].join(","));
      });
    });
  });
  return lines.join("\n") + "\n";
}

// ---- The ternary ----

const TERNARY_POINTS = ["#5d9cce", "#e59866", "#8e44ad", "#c0392b", "#1e8449", "#8c8c8c"];
const TERNARY_WORDS = ["one phase", "brine + CO2-rich", "salt split (two phases of equal x CO2)",
                       "two phases, the brine beyond 50 wt%", "three phases", "undecided"];
const TIE_LINE = "#262626";
const SQRT3_2 = Math.sqrt(3) / 2;
const CAP_WT = 50;

// Salinity (wt% NaCl of the solvent) of mole fractions, with the model's masses.
const salinityOf = (x) => (100 * 58.448 * x[2]) / (18.016 * x[1] + 58.448 * x[2]);

// CO2 at the apex, the solvent's salinity along the base on a square-root
// scale (0 at the H2O corner, the cap at the other).
function ternaryXY(xCO2, wt) {
  const s = Math.sqrt(Math.min(Math.max(wt / CAP_WT, 0), 1));
  return [(1 - xCO2) * s + 0.5 * xCO2, xCO2 * SQRT3_2];
}

function drawTernary(container, data) {
  const size = 440, left = 70, top = 50, width = left + size + 290, height = top + size * SQRT3_2 + 110;
  const X = (u) => left + u * size, Y = (v) => top + (SQRT3_2 - v) * size;
  const svg = svgElement("svg", {xmlns: SVG_NS, viewBox: `0 0 ${width} ${height}`, width, height,
                                 "font-family": "sans-serif", "font-size": 12, role: "img"});
  const outside = data.P < 500 || data.T < 350 || data.T > 600 ? " (outside the stated range)" : "";
  const title = `${data.T} °C, ${data.P} bar${outside}: phases and tie-lines`;
  svg.appendChild(svgElement("title", {}, title));
  svg.appendChild(svgElement("text", {x: width / 2, y: 20, "text-anchor": "middle", "font-size": 15,
                                      class: "figure-title"}, title));
  const grid = svgElement("g", {class: "grid"});
  for (const level of [0.2, 0.4, 0.6, 0.8]) {
    const [lx, ly] = ternaryXY(level, 0), [rx] = ternaryXY(level, CAP_WT);
    grid.appendChild(svgElement("line", {x1: X(lx), y1: Y(ly), x2: X(rx), y2: Y(ly), stroke: "#999",
                                         "stroke-dasharray": "2 3", "stroke-width": 0.6}));
    grid.appendChild(svgElement("text", {x: X(lx) - 8, y: Y(ly) + 4, "text-anchor": "end"}, String(level)));
  }
  for (const W of [0.5, 2, 5, 10, 20, 30, 40, 50]) {
    const [bx] = ternaryXY(0, W);
    grid.appendChild(svgElement("line", {x1: X(bx), y1: Y(0), x2: X(bx), y2: Y(0) + 6, stroke: "#4d4d4d"}));
    grid.appendChild(svgElement("text", {x: X(bx), y: Y(0) + 18, "text-anchor": "middle"}, String(W)));
  }
  grid.appendChild(svgElement("path", {d: `M${X(0)},${Y(0)}L${X(1)},${Y(0)}L${X(0.5)},${Y(SQRT3_2)}Z`,
                                       fill: "none", stroke: "#4d4d4d"}));
  svg.appendChild(grid);
  const points = svgElement("g", {class: "points"});
  const seen = new Set(), twoPhase = [];
  let three = null;
  data.rows.forEach((row, i) => {
    data.wt.forEach((wt, j) => {
      const kind = row[10 * j];
      seen.add(kind);
      const [u, v] = ternaryXY(data.heights[i], wt);
      points.appendChild(svgElement("circle", {cx: X(u), cy: Y(v), r: 2.2, fill: TERNARY_POINTS[kind],
                                               "data-class": kind}));
      const phases = [0, 1, 2].map((p) => row.slice(10 * j + 1 + 3 * p, 10 * j + 4 + 3 * p));
      if (kind === 1 || kind === 2) twoPhase.push(phases);
      if (kind === 4 && three === null) three = phases;
    });
  });
  svg.appendChild(points);
  // Tie-lines of feeds spread over the two-phase states within the cap, drawn
  // as mixtures of their ends (straight in mole fractions, curved here).
  const curve = (a, b) => Array.from({length: 30}, (_, k) => {
    const t = k / 29, x = a.map((v, n) => t * b[n] + (1 - t) * v);
    const [u, v] = ternaryXY(x[0], salinityOf(x));
    return `${k ? "L" : "M"}${X(u).toFixed(2)},${Y(v).toFixed(2)}`;
  }).join("");
  const ties = svgElement("g", {class: "tie-lines"});
  const count = Math.min(14, twoPhase.length);
  for (let n = 0; n < count; ++n) {
    const [brine, rich] = twoPhase[count > 1 ? Math.floor((n * (twoPhase.length - 1)) / (count - 1)) : 0];
    ties.appendChild(svgElement("path", {d: curve(brine, rich), fill: "none", stroke: TIE_LINE,
                                         "stroke-width": 0.8, class: "tie-line"}));
    for (const end of [brine, rich]) {
      const [u, v] = ternaryXY(end[0], salinityOf(end));
      ties.appendChild(svgElement("circle", {cx: X(u), cy: Y(v), r: 2.5, fill: TIE_LINE}));
    }
  }
  svg.appendChild(ties);
  // At one T and P the three-phase field is one triangle: the three phases of
  // any feed inside it, drawn where all lie within the cap.
  let triangle = false;
  if (three && three.every((x) => salinityOf(x) <= CAP_WT)) {
    const [a, b, c] = [three[0], three[2], three[1]];
    svg.appendChild(svgElement("path", {d: curve(a, b) + curve(b, c).replace("M", "L") + curve(c, a).replace("M", "L"),
                                        fill: "none", stroke: "#1e8449", "stroke-width": 1.2,
                                        class: "three-phase-triangle"}));
    triangle = true;
  }
  const words = [
    [X(0.5), Y(SQRT3_2) - 8, "middle", "CO2"], [X(0) - 4, Y(0) + 16, "end", "H2O"],
    [X(1) + 14, Y(0) + 4, "start", `${CAP_WT} wt%`],
    [X(0.5), Y(0) + 40, "middle", "salinity of the solvent (wt% NaCl, square-root scale)"],
    [X(0.5), Y(0) + 62, "middle", "Height is x CO2; across, the salinity of the H2O + NaCl. Tie-lines are straight in mole fractions,"],
    [X(0.5), Y(0) + 78, "middle", "so they curve on the salinity scale; their ends are the coexisting phases."],
  ];
  for (const [x, y, anchor, text] of words) {
    svg.appendChild(svgElement("text", {x, y, "text-anchor": anchor}, text));
  }
  svg.appendChild(svgElement("text", {x: X(0.16) - 20, y: Y(0.5), "text-anchor": "middle",
                                      transform: `rotate(-60 ${X(0.16) - 20} ${Y(0.5)})`}, "x CO2 (mole fraction)"));
  const legend = svgElement("g", {class: "legend"});
  const lx = left + size + 40;
  let ly = top;
  TERNARY_WORDS.forEach((text, kind) => {
    if (!seen.has(kind)) return;
    legend.appendChild(svgElement("circle", {cx: lx + 6, cy: ly + 6, r: 4, fill: TERNARY_POINTS[kind]}));
    legend.appendChild(svgElement("text", {x: lx + 20, y: ly + 10}, text));
    ly += 20;
  });
  if (triangle) {
    legend.appendChild(svgElement("line", {x1: lx, y1: ly + 6, x2: lx + 14, y2: ly + 6, stroke: "#1e8449",
                                           "stroke-width": 1.2}));
    legend.appendChild(svgElement("text", {x: lx + 20, y: ly + 10}, "three-phase triangle"));
  }
  svg.appendChild(legend);
  container.replaceChildren(svg);
}

function ternaryCsv(data) {
  const lines = ["T_C,P_bar,x_CO2,wt_NaCl,verdict,brine_x_CO2,brine_x_H2O,brine_x_NaCl," +
                 "co2_rich_x_CO2,co2_rich_x_H2O,co2_rich_x_NaCl,saline_x_CO2,saline_x_H2O,saline_x_NaCl"];
  data.rows.forEach((row, i) => {
    data.wt.forEach((wt, j) => {
      const numbers = row.slice(10 * j + 1, 10 * j + 10).map((v) => (Number.isFinite(v) ? String(v) : ""));
      lines.push([data.T, data.P, data.heights[i], wt, `"${TERNARY_WORDS[row[10 * j]]}"`, ...numbers].join(","));
    });
  });
  return lines.join("\n") + "\n";
}

// ---- The P-T figure of a bulk fluid ----

const PT_CLASSES = [["#d8e8f5", "one phase"], ["#f7dcc4", "two phases"], ["#ffffff", "undecided (blank)"]];

function drawPt(container, data) {
  const panelW = 420, panelH = 340, left = 70, top = 50, width = left + panelW + 260, height = top + panelH + 60;
  const eT = edges(data.T), eP = edges(data.P);
  const sx = (T) => left + ((T - eT[0]) / (eT[eT.length - 1] - eT[0])) * panelW;
  const sy = (P) => top + panelH - ((P - eP[0]) / (eP[eP.length - 1] - eP[0])) * panelH;
  const svg = svgElement("svg", {xmlns: SVG_NS, viewBox: `0 0 ${width} ${height}`, width, height,
                                 "font-family": "sans-serif", "font-size": 12, role: "img"});
  const title = `x CO2 ${data.xCO2} in a solvent of ${data.wt} wt% NaCl`;
  svg.appendChild(svgElement("title", {}, title));
  svg.appendChild(svgElement("text", {x: left + panelW / 2, y: 24, "text-anchor": "middle", "font-size": 15,
                                      class: "figure-title"}, title));
  const cells = svgElement("g", {class: "cells"});
  const seen = new Set();
  data.verdicts.forEach((column, i) => {
    column.forEach((kind, j) => {
      seen.add(kind);
      cells.appendChild(svgElement("rect", {x: sx(eT[i]), y: sy(eP[j + 1]), width: sx(eT[i + 1]) - sx(eT[i]) + 0.3,
                                            height: sy(eP[j]) - sy(eP[j + 1]) + 0.3, fill: PT_CLASSES[kind][0],
                                            "data-class": kind}));
    });
  });
  svg.appendChild(cells);
  const top_P = eP[eP.length - 1], clip = svgElement("clipPath", {id: "pt-panel"});
  clip.appendChild(svgElement("rect", {x: left, y: top, width: panelW, height: panelH}));
  svg.appendChild(clip);
  const lines = svgElement("g", {class: "isochores", "clip-path": "url(#pt-panel)"});
  const path = (P, keep) => {
    let d = "", open = false;
    P.forEach((p, k) => {
      if (Number.isFinite(p) && keep(k)) {
        d += `${open ? "L" : "M"}${sx(data.fineT[k]).toFixed(2)},${sy(p).toFixed(2)}`;
        open = true;
      } else {
        open = false;
      }
    });
    return d;
  };
  for (const iso of data.isochores) {
    // Dashed where the model puts the fluid in two phases (a metastable
    // fluid's pressure there), solid where it is one phase.
    lines.appendChild(svgElement("path", {d: path(iso.P, () => true), fill: "none", stroke: LIMIT_COLOUR,
                                          "stroke-width": 1, "stroke-dasharray": "5 3", class: "isochore"}));
    lines.appendChild(svgElement("path", {d: path(iso.P, (k) => iso.verdict[k] === 0), fill: "none",
                                          stroke: LIMIT_COLOUR, "stroke-width": 1.6, class: "isochore-one-phase"}));
  }
  svg.appendChild(lines);
  for (const iso of data.isochores) {
    let last = -1;
    iso.P.forEach((p, k) => { if (Number.isFinite(p) && p <= top_P) last = k; });
    if (last >= 0) {
      svg.appendChild(svgElement("text", {x: sx(data.fineT[last]) + 3, y: sy(iso.P[last]) + 4, fill: LIMIT_COLOUR,
                                          "font-size": 11}, `${iso.rho.toFixed(3)} g/cm3`));
    }
  }
  svg.appendChild(svgElement("rect", {x: left, y: top, width: panelW, height: panelH, fill: "none", stroke: "#333"}));
  for (const T of niceTicks(eT[0], eT[eT.length - 1], 6)) {
    svg.appendChild(svgElement("text", {x: sx(T), y: top + panelH + 16, "text-anchor": "middle"}, tickLabel(T)));
  }
  for (const P of niceTicks(eP[0], eP[eP.length - 1], 6)) {
    svg.appendChild(svgElement("text", {x: left - 6, y: sy(P) + 4, "text-anchor": "end"}, tickLabel(P)));
  }
  svg.appendChild(svgElement("text", {x: left + panelW / 2, y: top + panelH + 38, "text-anchor": "middle"}, "T (°C)"));
  svg.appendChild(svgElement("text", {x: 16, y: top + panelH / 2, "text-anchor": "middle",
                                      transform: `rotate(-90 16 ${top + panelH / 2})`}, "P (bar)"));
  const legend = svgElement("g", {class: "legend"});
  const lx = left + panelW + 24;
  let ly = top;
  PT_CLASSES.forEach(([colour, words], kind) => {
    if (kind === 2 && !seen.has(2)) return;
    legend.appendChild(svgElement("rect", {x: lx, y: ly, width: 18, height: 12, fill: colour, stroke: "#999"}));
    legend.appendChild(svgElement("text", {x: lx + 26, y: ly + 10}, words));
    ly += 20;
  });
  for (const [dash, width, words] of [[null, 1.6, "isochore, one phase"], ["5 3", 1, "isochore, two phases"]]) {
    const line = {x1: lx, y1: ly + 6, x2: lx + 18, y2: ly + 6, stroke: LIMIT_COLOUR, "stroke-width": width};
    if (dash) line["stroke-dasharray"] = dash;
    legend.appendChild(svgElement("line", line));
    legend.appendChild(svgElement("text", {x: lx + 26, y: ly + 10}, words));
    ly += 20;
  }
  svg.appendChild(legend);
  container.replaceChildren(svg);
}

function ptCsv(data) {
  const verdicts = ["stable", "unstable", "undecided"];
  const lines = ["kind,T_C,P_bar,rho_g_per_cm3,verdict"];
  data.T.forEach((T, i) => data.P.forEach((P, j) => lines.push(["cell", T, P, "", verdicts[data.verdicts[i][j]]].join(","))));
  for (const iso of data.isochores) {
    data.fineT.forEach((T, k) => {
      if (Number.isFinite(iso.P[k])) lines.push(["isochore", T, iso.P[k], iso.rho, verdicts[iso.verdict[k]]].join(","));
    });
  }
  return lines.join("\n") + "\n";
}

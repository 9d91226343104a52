// The section figure as SVG: temperature against bulk x_CO2 at one pressure,
// one panel per solvent salinity, each cell coloured by the flash's verdict at
// its centre and the one-phase limit drawn over them; the colours and words
// of the Python package's section figure.
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
    for (let k = 0; k <= 4; ++k) {
      const x = ex[0] + ((ex[ex.length - 1] - ex[0]) * k) / 4, T = eT[0] + ((eT[eT.length - 1] - eT[0]) * k) / 4;
      panel.appendChild(svgElement("text", {x: sx(x), y: top + panelH + 16, "text-anchor": "middle"}, tickLabel(x)));
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

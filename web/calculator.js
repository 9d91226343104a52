// The calculator page: reads the form (or the link's state), calls the
// WebAssembly module and shows its numbers. Every number comes from the module;
// this script only moves them and formats the 8-digit column.
"use strict";

const SPECIES = ["CO2", "H2O", "NaCl"];
let quarn = null;

const $ = (id) => document.getElementById(id);

// A number as the user typed it: decimal, with E or D before an exponent.
function parseNumber(text, name) {
  const cleaned = String(text).trim().replace(/[dD]/, "e");
  const value = cleaned === "" ? NaN : Number(cleaned);
  if (!Number.isFinite(value)) throw new Error(`${name}: "${text}" is not a number`);
  return value;
}

// Mole fractions of a fluid of x_CO2 whose solvent has wt% NaCl (the model's
// W), by the library's own conversion.
function fromSalinity(xCO2, wt) {
  quarn._quarn_from_salinity(xCO2, wt);
  const n = named(quarn._quarn_composition_names);
  return [n.x_CO2, n.x_H2O, n.x_NaCl];
}

function readForm() {
  const state = {
    T: parseNumber($("T").value, "T"),
    P: parseNumber($("P").value, "P"),
    single: $("single").checked,
    mode: document.querySelector("input[name=mode]:checked").value,
  };
  if (state.mode === "salinity") {
    state.xCO2 = parseNumber($("xCO2s").value, "x CO2");
    state.wt = parseNumber($("wt").value, "wt% NaCl");
    if (!(state.wt >= 0 && state.wt < 100)) throw new Error("wt% NaCl must lie in [0, 100)");
    state.x = fromSalinity(state.xCO2, state.wt);
  } else {
    state.x = ["xCO2", "xH2O", "xNaCl"].map((id, i) => parseNumber($(id).value, "x " + SPECIES[i]));
  }
  return state;
}

// The state in a link: ?T=500&P=2000&x=0.1,0.89,0.01 (or xco2=0.1&wt=10), single=0
// for T and P in double precision.
function linkOf(state) {
  const q = new URLSearchParams({T: String(state.T), P: String(state.P)});
  if (state.mode === "salinity") {
    q.set("xco2", String(state.xCO2));
    q.set("wt", String(state.wt));
  } else {
    q.set("x", state.x.map(String).join(","));
  }
  if (!state.single) q.set("single", "0");
  return location.pathname + "?" + q.toString();
}

function fillFormFrom(params) {
  if (params.has("T")) $("T").value = params.get("T");
  if (params.has("P")) $("P").value = params.get("P");
  $("single").checked = params.get("single") !== "0";
  if (params.has("x")) {
    const parts = params.get("x").split(",");
    ["xCO2", "xH2O", "xNaCl"].forEach((id, i) => { $(id).value = parts[i] ?? ""; });
    setMode("fractions");
  } else if (params.has("xco2") || params.has("wt")) {
    $("xCO2s").value = params.get("xco2") ?? "";
    $("wt").value = params.get("wt") ?? "";
    setMode("salinity");
  }
}

function setMode(mode) {
  document.querySelector(`input[name=mode][value=${mode}]`).checked = true;
  $("fractions").hidden = mode !== "fractions";
  $("salinity").hidden = mode !== "salinity";
}

function text() {
  return quarn.UTF8ToString(quarn._quarn_text());
}

// The numbers the last call left, by the names the module gives them.
function named(names) {
  const keys = quarn.UTF8ToString(names()).split(",");
  const start = quarn._quarn_numbers() / 8;
  const values = quarn.HEAPF64.subarray(start, start + keys.length);
  return Object.fromEntries(keys.map((key, i) => [key, values[i]]));
}

// Eight significant digits for reading, the shortest round-trip form in full.
const eight = (v) => (Number.isFinite(v) ? v.toPrecision(8) : String(v));
const full = (v) => String(v);

function showResult(state) {
  const [xc, xh, xn] = state.x;
  const fault = quarn._quarn_evaluate(state.T, state.P, xc, xh, xn, state.single ? 1 : 0);
  const n = named(quarn._quarn_evaluate_names);
  $("result").hidden = false;
  const body = $("numbers").querySelector("tbody");
  body.replaceChildren();
  if (fault) {
    // The console's message for a failing elementary function, instead of numbers.
    const message = text();
    $("fault").hidden = false;
    $("fault").textContent = `${message} (${fault}): the console program stops here with this message`;
    $("report-line").textContent = `quarn: severe (${fault}): ${message}`;
    $("zv").textContent = "";
    $("numbers").hidden = true;
  } else {
    $("fault").hidden = true;
    $("numbers").hidden = false;
    SPECIES.forEach((name, i) => {
      const phi = n[`phi_${name}`], f = n[`f_${name}`];
      const row = document.createElement("tr");
      for (const cell of [name, full(state.x[i]), eight(phi), eight(f), full(phi)]) {
        const td = document.createElement("td");
        td.textContent = cell;
        row.appendChild(td);
      }
      body.appendChild(row);
    });
    $("zv").textContent = `Z = ${eight(n.Z)} (${full(n.Z)}),  V = ${eight(n.V)} cm³/mol ` +
                          `(${full(n.V)}),  T = ${full(n.T_K)} K,  P = ${full(n.P_atm)} atm`;
    $("report-line").textContent = text();
  }
  const link = linkOf(state);
  $("link").href = link;
  $("link").textContent = new URL(link, location.href).href;
  history.replaceState(null, "", link);
}

function showPhases(state) {
  const [xc, xh, xn] = state.x;
  quarn._quarn_flash(state.T, state.P, xc, xh, xn, state.single ? 1 : 0);
  const n = named(quarn._quarn_flash_names);
  const [status, reason] = text().split("\t");
  $("phases").hidden = false;
  const body = $("phase-table").querySelector("tbody");
  body.replaceChildren();
  let words = status;
  if (reason) words += ` (${reason})`;
  if (n.phases === 2) words += `: β = ${eight(n.beta)} of the moles in the CO2-rich fluid`;
  if (n.phases === 3) {
    words += `: ${eight(n.beta)} of the moles in the CO2-rich fluid, ${eight(n.beta_saline)} ` +
             `in the saline CO2-bearing phase, ${eight(1 - n.beta - n.beta_saline)} in the brine`;
  }
  $("phase-status").textContent = words;
  // The numbers above are those of the fluid as one phase: say so where the
  // model does not hold it together.
  const note = $("split-note");
  note.hidden = n.phases === 1;
  if (n.phases >= 2) {
    note.textContent = `The model splits this fluid (${status}): these are the numbers of a ` +
                       "one-phase fluid that does not form. The phases it forms are below.";
  } else if (n.phases === 0) {
    note.textContent = `Whether the model keeps this fluid one phase is undecided` +
                       (reason ? ` (${reason}).` : ".");
  }
  $("phase-table").hidden = n.phases < 2;
  if (n.phases >= 2) {
    const rows = [["brine", "brine"], ["CO2-rich fluid", "co2_rich"]];
    if (n.phases === 3) rows.splice(1, 0, ["saline CO2-bearing phase", "saline"]);
    for (const [name, prefix] of rows) {
      const row = document.createElement("tr");
      const cells = ["x_CO2", "x_H2O", "x_NaCl", "wt_NaCl"].map((f) => eight(n[`${prefix}_${f}`]));
      for (const cell of [name, ...cells]) {
        const td = document.createElement("td");
        td.textContent = cell;
        row.appendChild(td);
      }
      body.appendChild(row);
    }
    $("certificate").textContent =
        `Checks: ln f equal to ${n.max_delta_ln_f.toExponential(1)}, mass balance to ` +
        `${n.mass_balance.toExponential(1)}, ΔG = ${eight(n.delta_G_RT)} RT, no trial phase ` +
        `below the tangent plane (smallest distance ${n.min_tpd.toExponential(1)}).` +
        (n.phase_beyond_cap ? " The brine is saltier than 50 wt%: in nature, halite-saturated." : "");
  } else {
    $("certificate").textContent = "";
  }
}

function compute() {
  try {
    const state = readForm();
    showResult(state);
    showPhases(state);
    $("status").textContent = "";
  } catch (error) {
    $("status").textContent = error.message;
  }
}

function computeList() {
  try {
    const state = readForm();
    const input = $("list").value;
    const length = quarn.lengthBytesUTF8(input);
    const pointer = quarn._malloc(length + 1);
    quarn.stringToUTF8(input, pointer, length + 1);
    const count = quarn._quarn_table(pointer, length, state.T, state.P, state.single ? 1 : 0);
    quarn._free(pointer);
    $("list-output").textContent =
        `${count} composition(s); a fluid that the model splits is marked "| splits"\n` + text();
  } catch (error) {
    $("list-output").textContent = error.message;
  }
}

document.querySelectorAll("input[name=mode]").forEach((radio) => {
  radio.addEventListener("change", () => setMode(radio.value));
});
$("state").addEventListener("submit", (event) => {
  event.preventDefault();
  compute();
});
$("list-go").addEventListener("click", computeList);

// ?bench=N: N evaluations over a spread of states, the rate shown in #bench.
function benchmark(count) {
  const started = performance.now();
  let faults = 0;
  for (let k = 0; k < count; ++k) {
    const u = (k % 1000) / 1000;
    faults += quarn._quarn_evaluate(350 + 250 * u, 500 + 4500 * u, 0.9 * u, 1 - 0.9 * u - 0.05 * u,
                                    0.05 * u, 1) !== 0;
  }
  const seconds = (performance.now() - started) / 1000;
  const line = document.createElement("p");
  line.id = "bench";
  line.textContent = `${count} states in ${seconds.toFixed(3)} s: ` +
                     `${Math.round(count / seconds)} states/s (${faults} failed)`;
  document.body.appendChild(line);
}

createQuarn().then((module) => {
  quarn = module;
  const params = new URLSearchParams(location.search);
  fillFormFrom(params);
  $("status").textContent = "";
  if (params.has("T")) compute();
  if (params.has("bench")) benchmark(Number(params.get("bench")));
}).catch((error) => {
  $("status").textContent = `The calculator could not load: ${error.message}`;
});

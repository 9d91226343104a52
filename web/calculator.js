// The calculator page: reads the form (or the link's state), hands the work to
// the calculator's worker and shows its numbers. Every number comes from the
// WebAssembly module; this script only moves them, formats the 8-digit column
// and draws the figures.
"use strict";

const SPECIES = ["CO2", "H2O", "NaCl"];
const $ = (id) => document.getElementById(id);
// The model's stated range, and how far mole fractions may miss a sum of 1.
const STATED_T_C = [350, 600], STATED_P_BAR = 500, SUM_TOLERANCE = 1e-6;

// ---- The worker: every computation, one request at a time, stoppable ----

let worker = null, workerFailed = null, nextId = 0;
const pending = new Map();

function startWorker() {
  const source = $("worker-source");
  try {
    // The one-file page carries the worker (and the module) in itself.
    const url = source ? URL.createObjectURL(new Blob([source.textContent], {type: "text/javascript"}))
                       : "worker.js";
    worker = new Worker(url);
  } catch (error) {
    return notStarted(error);
  }
  worker.onmessage = ({data}) => {
    if (data.ready) return workerReady();
    if (data.failed) return notStarted(new Error(data.failed));
    const request = pending.get(data.id);
    if (!request) return;
    if ("progress" in data) return request.progress?.(data.progress);
    pending.delete(data.id);
    if ("error" in data) request.reject(new Error(data.error));
    else request.resolve(data.result);
  };
  worker.onerror = (event) => {
    event.preventDefault();
    notStarted(new Error(event.message || "the worker could not start"));
  };
}

function notStarted(error) {
  const fromDisk = location.protocol === "file:" && !$("worker-source");
  // Every later request is refused with the same words.
  workerFailed = new Error(fromDisk
    ? "Opened from disk, this page cannot start its calculator: open quarn-calculator.html " +
      "(the one-file page, which works from disk), or serve this folder " +
      "(python3 -m http.server) and open it from there."
    : `The calculator could not load: ${error.message}`);
  $("status").textContent = workerFailed.message;
  for (const request of pending.values()) request.reject(workerFailed);
  pending.clear();
}

// document.body.dataset.work says "working" while any request is out, else "idle".
function request(op, args, progress) {
  if (workerFailed) return Promise.reject(workerFailed);
  const id = ++nextId;
  document.body.dataset.work = "working";
  const answer = new Promise((resolve, reject) => {
    pending.set(id, {resolve, reject, progress});
    worker.postMessage({id, op, args});
  });
  const settled = () => setTimeout(() => { if (pending.size === 0) document.body.dataset.work = "idle"; });
  answer.then(settled, settled);
  return answer;
}

// Ends whatever the worker is doing: a new worker takes its place.
function stopWork() {
  worker.terminate();
  const stopped = new Error("stopped");
  stopped.stopped = true;
  for (const request of pending.values()) request.reject(stopped);
  pending.clear();
  startWorker();
  busy(null);
}

// What is running, with its Stop button; null when nothing is.
function busy(what, fraction) {
  // One job ending leaves the bar up while others are still out.
  if (what === null && pending.size > 0) return;
  $("work").hidden = what === null;
  if (what === null) return;
  $("work-what").textContent = what;
  const bar = $("work-progress");
  if (fraction === undefined) bar.removeAttribute("value");
  else bar.value = fraction;
}

// ---- Reading the form ----

// A value shown back in a message: short, and as text only.
function quoted(value) {
  const shown = value.length > 40 ? `${value.slice(0, 40)}… (${value.length} characters)` : value;
  return `"${shown}"`;
}

// One field of the page's run file, as typed (the worker reads it as the
// console's reader would, then checks that it held one value).
function field(id) {
  return String($(id).value).trim();
}

function readForm() {
  const mode = document.querySelector("input[name=mode]:checked").value;
  const fields = {T: field("T"), P: field("P")};
  if (mode === "salinity") {
    fields.xCO2 = field("xCO2s");
    fields.wt = field("wt");
  } else {
    fields.xCO2 = field("xCO2");
    fields.xH2O = field("xH2O");
    fields.xNaCl = field("xNaCl");
  }
  return {fields, mode, single: $("single").checked};
}

// The state in a link, as typed: ?T=500&P=2000&x=0.1,0.89,0.01 (or
// xco2=0.1&wt=10); single=0 for T and P in double precision; and the
// figures drawn (see figureLinks).
function linkOf(state) {
  const f = state.fields;
  const q = new URLSearchParams({T: f.T, P: f.P});
  if (state.mode === "salinity") {
    q.set("xco2", f.xCO2);
    q.set("wt", f.wt);
  } else {
    q.set("x", [f.xCO2, f.xH2O, f.xNaCl].join(","));
  }
  if (!state.single) q.set("single", "0");
  for (const link of Object.values(figureLinks)) {
    for (const [key, value] of Object.entries(link)) q.set(key, value);
  }
  return location.pathname + "?" + q.toString();
}

// The link's values go into the form as text; nothing in them is markup.
function fillFormFrom(params) {
  const put = (id, value) => { $(id).value = String(value ?? "").slice(0, 100_000); };
  if (params.has("T")) put("T", params.get("T"));
  if (params.has("P")) put("P", params.get("P"));
  $("single").checked = params.get("single") !== "0";
  if (params.has("x")) {
    const parts = params.get("x").split(",");
    ["xCO2", "xH2O", "xNaCl"].forEach((id, i) => put(id, parts[i]));
    setMode("fractions");
  } else if (params.has("xco2") || params.has("wt")) {
    put("xCO2s", params.get("xco2"));
    put("wt", params.get("wt"));
    setMode("salinity");
  }
  if (params.has("section")) put("section-wt", params.get("section"));
  if (params.has("pt")) {
    const [xCO2, wt] = params.get("pt").split(",");
    put("pt-xco2", xCO2);
    put("pt-wt", wt);
  }
  if (params.has("iso")) put("pt-iso", params.get("iso"));
}

function setMode(mode) {
  document.querySelector(`input[name=mode][value=${mode}]`).checked = true;
  $("fractions").hidden = mode !== "fractions";
  $("salinity").hidden = mode !== "salinity";
}

// Eight significant digits for reading; the shortest decimal that reads back, in full.
const eight = (v) => (Number.isFinite(v) ? v.toPrecision(8) : String(v));
const full = (v) => String(v);

function cells(row, values) {
  for (const value of values) {
    const td = document.createElement("td");
    td.textContent = value;
    row.appendChild(td);
  }
  return row;
}

// ---- The state: Result and phases ----

function showRefused(answer) {
  // The console stops on this value with its message; so does the page.
  $("result").hidden = false;
  $("phases").hidden = true;
  $("numbers").hidden = true;
  $("zv").textContent = "";
  $("properties").textContent = "";
  $("split-note").hidden = true;
  $("fault").hidden = false;
  $("fault").textContent = `The console program refuses this input (message ${answer.message}) ` +
                           "and stops with the line below; nothing is computed.";
  $("report-line").textContent = answer.refused;
}

// Python's warning for compositions the model is not meant for, and the
// stated range.
function warnings(answer) {
  const notes = [];
  const [xc, xh, xn] = answer.x;
  const fit = answer.x.every((v) => v >= 0 && v <= 1) && Math.abs(xc + xh + xn - 1) <= SUM_TOLERANCE;
  if (!fit) {
    notes.push(`The mole fractions lie outside [0, 1] or do not sum to 1 (${answer.x.map(full).join(", ")}; ` +
               "percent for fractions?): computed all the same, as the console does.");
  }
  if (!(answer.T >= STATED_T_C[0] && answer.T <= STATED_T_C[1] && answer.P >= STATED_P_BAR)) {
    notes.push("This state lies outside the model's stated range (350–600 °C, at least 500 bar).");
  }
  return notes;
}

function showState(state, answer) {
  if (answer.refused) return showRefused(answer);
  if (answer.error) throw new Error(answer.error);
  const n = answer.evaluation;
  $("result").hidden = false;
  $("warning").textContent = warnings(answer).join(" ");
  $("warning").hidden = $("warning").textContent === "";
  const body = $("numbers").querySelector("tbody");
  body.replaceChildren();
  if (answer.fault) {
    // The console's message for a failing elementary function, instead of numbers.
    $("fault").hidden = false;
    $("fault").textContent = `${answer.line} (${answer.fault}): the console program stops here with this message`;
    $("report-line").textContent = `quarn: severe (${answer.fault}): ${answer.line}`;
    $("zv").textContent = "";
    $("properties").textContent = "";
    $("numbers").hidden = true;
  } else {
    $("fault").hidden = true;
    $("numbers").hidden = false;
    SPECIES.forEach((name, i) => {
      const phi = n[`phi_${name}`], f = n[`f_${name}`];
      body.appendChild(cells(document.createElement("tr"), [name, full(answer.x[i]), eight(phi), eight(f), full(phi)]));
    });
    $("zv").textContent = `Z = ${eight(n.Z)} (${full(n.Z)}),  V = ${eight(n.V)} cm³/mol ` +
                          `(${full(n.V)}),  T = ${full(n.T_K)} K,  P = ${full(n.P_atm)} atm`;
    const p = answer.properties;
    $("properties").textContent =
        `ρ = ${eight(p.rho_g_per_cm3)} g/cm³;  activities against the pure fluids: ` +
        `a H2O = ${eight(p.a_H2O)}, a CO2 = ${eight(p.a_CO2)}; NaCl (a molecule in this model, ` +
        `not a mean ionic activity): γ = ${eight(p.gamma_NaCl)}, a = ${eight(p.a_NaCl)}`;
    $("report-line").textContent = answer.line;
  }
  showPhases(answer);
}

function showPhases(answer) {
  const n = answer.phases;
  const {status, reason} = answer;
  $("phases").hidden = false;
  const body = $("phase-table").querySelector("tbody");
  body.replaceChildren();
  let words = status;
  if (reason) words += ` (${reason})`;
  if (n.phases === 2) words += `: β = ${full(n.beta)} of the moles in the CO2-rich fluid`;
  if (n.phases === 3) {
    words += `: β = ${full(n.beta)} of the moles in the CO2-rich fluid, ${full(n.beta_saline)} ` +
             `in the saline CO2-bearing phase, ${full(1 - n.beta - n.beta_saline)} in the brine`;
  }
  $("phase-status").textContent = words;
  $("verdict").textContent = n.phases === 1 ? "Stability: the model keeps this fluid one phase."
    : n.phases >= 2 ? `Stability: the model splits this fluid (${status}).`
    : `Stability: undecided${reason ? ` (${reason})` : ""}.`;
  // The Result's numbers are those of the fluid as one phase: say so where
  // the model does not hold it together.
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
  const salt = $("salt-note"), halite = $("halite-note");
  salt.hidden = status !== "salt split";
  salt.textContent = "A salt split: two phases of nearly equal x CO2 and different salinities. " +
                     "It is a property of the model (its Gibbs energy is concave along salinity " +
                     "here), not a known behaviour of nature.";
  halite.hidden = !(n.phases >= 2 && n.phase_beyond_cap);
  halite.textContent = "Halite: a phase is saltier than 50 wt% NaCl; in nature such a brine is " +
                       "halite-saturated, which the model does not know.";
  if (n.phases >= 2) {
    const names = status === "salt split"
      ? [["the less saline phase", "co2_rich"], ["the more saline phase", "brine"]]
      : [["brine", "brine"], ["CO2-rich fluid", "co2_rich"]];
    if (n.phases === 3) names.splice(1, 0, ["saline CO2-bearing phase", "saline"]);
    for (const [name, prefix] of names) {
      const values = ["x_CO2", "x_H2O", "x_NaCl", "wt_NaCl"].map((f) => full(n[`${prefix}_${f}`]));
      body.appendChild(cells(document.createElement("tr"), [name, ...values]));
    }
    $("certificate").textContent =
        `Checks: ln f equal to ${n.max_delta_ln_f.toExponential(1)}, mass balance to ` +
        `${n.mass_balance.toExponential(1)}, ΔG = ${eight(n.delta_G_RT)} RT, no trial phase ` +
        `below the tangent plane (smallest distance ${n.min_tpd.toExponential(1)}).`;
  } else {
    $("certificate").textContent = "";
  }
}

async function compute() {
  let state;
  try {
    state = readForm();
  } catch (error) {
    // Nothing of an earlier state stays on show beside the message.
    $("status").textContent = error.message;
    $("result").hidden = true;
    $("phases").hidden = true;
    return;
  }
  $("status").textContent = "Computing…";
  try {
    showState(state, await request("state", state));
    $("status").textContent = "";
  } catch (error) {
    $("status").textContent = error.stopped ? "Stopped." : error.message;
    $("result").hidden = true;
    $("phases").hidden = true;
  }
  const link = linkOf(state);
  $("link").href = link;
  $("link").textContent = new URL(link, location.href).href;
  history.replaceState(null, "", link);
}

// ---- A pasted list, its lines as they come ----

// The console report's column titles and dashes, over the result lines.
const HEADINGS = (() => {
  const titles = ["XCO2", "phiCO2", "fCO2", "XH2O", "phiH2O", "fH2O", "XNaCl", "phiNaCl", "fNaCl"];
  return titles.map((t) => "    " + t.padEnd(12)).join("").trimEnd() + "\n" +
         titles.map(() => "    ------      ").join("").trimEnd() + "\n";
})();

async function computeList() {
  const output = $("list-output");
  let state;
  try {
    state = readForm();
  } catch (error) {
    output.textContent = error.message;
    return;
  }
  // The list's T and P are the form's, read by the same rules.
  const answer = await request("state", state).catch((error) => ({error: error.message}));
  if (answer.refused || answer.error) {
    output.textContent = answer.refused ?? answer.error;
    return;
  }
  output.textContent = `A fluid that the model splits is marked "| splits"\n` + HEADINGS;
  busy("Computing the list…");
  try {
    const done = await request("list", {input: $("list").value, T: answer.T, P: answer.P,
                                        single: state.single}, ({lines, count}) => {
      output.append(lines);
      busy(`Computing the list: ${count} composition(s)…`);
    });
    output.append(`${done.count} composition(s)\n`);
  } catch (error) {
    output.append(error.stopped ? "Stopped.\n" : `${error.message}\n`);
  }
  busy(null);
}

// ---- ?bench=N, on request and bounded ----

const LARGEST_BENCH = 1e8;

async function benchmark() {
  const asked = Number($("bench-count").value);
  if (!(asked >= 1)) {
    $("bench").textContent = "bench: give a number of states, at least 1";
    return;
  }
  const count = Math.min(Math.floor(asked), LARGEST_BENCH);
  busy(`Benchmark: ${count} evaluations…`, 0);
  try {
    const done = await request("bench", {count}, (p) => busy(`Benchmark: ${p.done} of ${p.count}…`, p.done / p.count));
    $("bench").textContent = `${done.count} states in ${done.seconds.toFixed(3)} s: ` +
                             `${Math.round(done.count / done.seconds)} states/s (${done.faults} failed)` +
                             (asked > count ? `; ${asked} asked, at most ${LARGEST_BENCH} run` : "");
  } catch (error) {
    $("bench").textContent = error.stopped ? "Benchmark stopped." : error.message;
  }
  busy(null);
}

// ---- The figures ----

// What each figure's link asks for, once drawn: section=5,20, ternary=1,
// pt=x_CO2,wt with iso=P,P,... (isochores through 400 C at these pressures).
const figureLinks = {};
// The data of each figure drawn, for its CSV.
const figureData = {};

// One to `most` comma-separated numbers in [low, high) of a figure's field.
function figureNumbers(text, name, most, low, high) {
  const values = String(text).split(",").map((v) => v.trim()).filter((v) => v !== "");
  if (values.length < 1 || values.length > most) throw new Error(`${name}: one to ${most} values, comma-separated`);
  return values.map((v) => {
    const w = v.length <= 24 && /^[0-9.eE+-]+$/.test(v) ? Number(v) : NaN;
    if (!(w >= low && w < high)) throw new Error(`${name}: ${quoted(v)} is not a number in [${low}, ${high})`);
    return w;
  });
}

const linspace = (from, to, count) =>
  Array.from({length: count}, (_, k) => (k === count - 1 ? to : from + ((to - from) / (count - 1)) * k));

// T and P of the form, read as the Result reads them (in double precision
// unless the form keeps them single).
async function formConditions() {
  const answer = await request("state", readForm());
  if (answer.refused) throw new Error(`T and P: ${answer.refused}`);
  if (answer.error) throw new Error(answer.error);
  return answer;
}

async function drawFigure(name, make) {
  const status = $(`${name}-status`);
  status.textContent = "";
  let job;
  try {
    job = await make();
  } catch (error) {
    status.textContent = error.message;
    return;
  }
  busy(`Drawing the ${job.what}…`, 0);
  try {
    const data = await request(job.op, job.args, (p) =>
      busy(`Drawing the ${job.what}: ${p.done} of ${p.total} ${job.steps}…`, p.done / p.total));
    job.draw($(`${name}-figure`), data);
    figureData[name] = {data, csv: job.csv};
    figureLinks[name] = job.link;
    $(`${name}-save`).hidden = false;
    const q = new URLSearchParams(location.search);
    for (const [key, value] of Object.entries(job.link)) q.set(key, value);
    history.replaceState(null, "", `${location.pathname}?${q.toString()}`);
  } catch (error) {
    status.textContent = error.stopped ? "Stopped." : error.message;
  }
  busy(null);
}

const drawSectionFigure = () => drawFigure("section", async () => {
  const wt = figureNumbers($("section-wt").value, "section", 4, 0, 100);
  const {P} = await formConditions();
  // Python's grid (5 C by 0.01 in x CO2), or one of half the resolution.
  const coarse = $("section-coarse").checked;
  return {what: "section", steps: "temperatures", op: "section", draw: drawSection, csv: sectionCsv,
          link: {section: wt.join(",")},
          args: {P, wt, T: coarse ? linspace(350, 600, 26) : linspace(350, 600, 51),
                 x: coarse ? linspace(0.005, 0.885, 45) : linspace(0.005, 0.895, 90)}};
});

const drawTernaryFigure = () => drawFigure("ternary", async () => {
  const {T, P} = await formConditions();
  const wt = linspace(0, 1, 41).slice(1).map((s) => CAP_WT * s ** 2);
  return {what: "ternary", steps: "heights", op: "ternary", draw: drawTernary, csv: ternaryCsv,
          link: {ternary: "1"}, args: {T, P, heights: linspace(0.01, 0.97, 49), wt}};
});

const drawPtFigure = () => drawFigure("pt", async () => {
  const [xCO2] = figureNumbers($("pt-xco2").value, "x CO2", 1, 0, 1);
  const [wt] = figureNumbers($("pt-wt").value, "wt% NaCl", 1, 0, 100);
  const pressures = figureNumbers($("pt-iso").value, "isochores", 6, 1, 1e5);
  const T = linspace(350, 600, 51);
  return {what: "P-T figure", steps: "steps", op: "pt", draw: drawPt, csv: ptCsv,
          link: {pt: `${xCO2},${wt}`, iso: pressures.join(",")},
          args: {xCO2, wt, T, P: linspace(500, 6000, 56), starts: pressures.map((p) => [400, p]),
                 fineT: linspace(350, 600, 201)}};
});

function save(name, type, content) {
  const a = document.createElement("a");
  a.href = URL.createObjectURL(content instanceof Blob ? content : new Blob([content], {type}));
  a.download = name;
  a.hidden = true;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 60_000);
}

function savePng(name) {
  const svg = $(`${name}-figure`).querySelector("svg");
  const image = new Image();
  const {width, height} = svg.viewBox.baseVal;
  image.onload = () => {
    const canvas = document.createElement("canvas");
    canvas.width = 2 * width;
    canvas.height = 2 * height;
    const context = canvas.getContext("2d");
    context.fillStyle = "#fff";
    context.fillRect(0, 0, canvas.width, canvas.height);
    context.drawImage(image, 0, 0, canvas.width, canvas.height);
    canvas.toBlob((blob) => save(`quarn-${name}.png`, "image/png", blob));
  };
  image.src = "data:image/svg+xml;charset=utf-8," + encodeURIComponent(svgText(svg));
}

// ---- Wiring ----

document.querySelectorAll("input[name=mode]").forEach((radio) => {
  radio.addEventListener("change", () => setMode(radio.value));
});
$("state").addEventListener("submit", (event) => {
  event.preventDefault();
  compute();
});
$("list-go").addEventListener("click", computeList);
$("section-go").addEventListener("click", drawSectionFigure);
$("ternary-go").addEventListener("click", drawTernaryFigure);
$("pt-go").addEventListener("click", drawPtFigure);
$("bench-go").addEventListener("click", benchmark);
$("stop").addEventListener("click", stopWork);
for (const name of ["section", "ternary", "pt"]) {
  const saving = $(`${name}-save`);
  for (const [kind, words] of [["svg", "Save as SVG"], ["png", "Save as PNG"], ["csv", "Save its data (CSV)"]]) {
    const button = document.createElement("button");
    button.type = "button";
    button.className = `save-${kind}`;
    button.textContent = words;
    saving.append(button, " ");
  }
  saving.querySelector(".save-svg").addEventListener("click", () =>
    save(`quarn-${name}.svg`, "image/svg+xml", svgText($(`${name}-figure`).querySelector("svg"))));
  saving.querySelector(".save-png").addEventListener("click", () => savePng(name));
  saving.querySelector(".save-csv").addEventListener("click", () =>
    save(`quarn-${name}.csv`, "text/csv", figureData[name].csv(figureData[name].data)));
}

const params = new URLSearchParams(location.search);
fillFormFrom(params);
if (params.has("bench")) {
  // The benchmark runs when asked on the page, never on load.
  $("bench-panel").hidden = false;
  $("bench-count").value = String(params.get("bench")).slice(0, 30);
}

let started = false;
function workerReady() {
  if (started) return;  // a worker that replaces a stopped one
  started = true;
  $("status").textContent = "";
  if (params.has("T")) compute();
  if (params.has("section")) drawSectionFigure();
  if (params.has("ternary")) drawTernaryFigure();
  if (params.has("pt")) drawPtFigure();
}

startWorker();

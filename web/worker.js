// The calculator's computations, in a Web Worker so that the page never
// waits on them: the page posts {id, op, args}; the worker answers with
// {id, progress} as it goes and then {id, result} or {id, error}. A long
// computation is stopped by ending the worker (the page then starts another).
// Every number comes from the WebAssembly module.
"use strict";

// The one-file page hands the module over with this script; served, it is beside it.
if (typeof createQuarn === "undefined") importScripts("quarn.js");

let quarn = null;
const ready = createQuarn().then((module) => { quarn = module; });

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

function withText(value, call) {
  const length = quarn.lengthBytesUTF8(value);
  const pointer = quarn._malloc(length + 1);
  quarn.stringToUTF8(value, pointer, length + 1);
  try {
    return call(pointer, length);
  } finally {
    quarn._free(pointer);
  }
}

// Up to three values of one line read as the console reads a composition;
// {message, stop} when the reader refuses it.
function readValues(line) {
  const message = withText(line, (p, n) => quarn._quarn_read_values(p, n));
  if (message) return {message, stop: text()};
  const start = quarn._quarn_numbers() / 8;
  return {values: Array.from(quarn.HEAPF64.subarray(start, start + 3))};
}

// A field that the reader took but that holds more than one value (or none)
// would shift the values after it: the page names it rather than compute.
function misshapen(fields) {
  const names = {T: "T", P: "P", xCO2: "x CO2", xH2O: "x H2O", xNaCl: "x NaCl", wt: "wt% NaCl"};
  for (const [key, value] of Object.entries(fields)) {
    const shown = value.length > 40 ? `"${value.slice(0, 40)}…" (${value.length} characters)` : `"${value}"`;
    if (value.trim() === "") return `${names[key]} is empty`;
    if (/[\s,/;*]/.test(value.trim())) return `${names[key]}: ${shown} is not one number`;
  }
  return null;
}

// The state of the form: its fields read as the console reads its run file
// (the conditions line, then the composition line), then the model's numbers
// and the phases. A value the reader refuses gives the console's stop line.
function state({fields, mode, single}) {
  const composition = mode === "salinity" ? "0 0 0" : `${fields.xCO2} ${fields.xH2O} ${fields.xNaCl}`;
  const runFile = `${fields.T} ${fields.P}\n${composition}\n`;
  const refused = withText(runFile, (p, n) => quarn._quarn_read_run_file(p, n, single ? 1 : 0));
  if (refused) return {refused: text(), message: refused};
  const start = quarn._quarn_numbers() / 8;
  const read = Array.from(quarn.HEAPF64.subarray(start, start + 6));
  const [T, P] = read;
  let x = read.slice(2, 5), salinity = null;
  if (mode === "salinity") {
    const values = readValues(`${fields.xCO2} ${fields.wt}`);
    if (values.stop) return {refused: values.stop, message: values.message};
    const [xCO2, wt] = values.values;
    const wrong = misshapen(fields);
    if (wrong) return {error: wrong};
    if (!(wt >= 0 && wt < 100)) return {error: "wt% NaCl must lie in [0, 100)"};
    quarn._quarn_from_salinity(xCO2, wt);
    const n = named(quarn._quarn_composition_names);
    x = [n.x_CO2, n.x_H2O, n.x_NaCl];
    salinity = {xCO2, wt};
  } else {
    const wrong = misshapen(fields);
    if (wrong) return {error: wrong};
    if (!read[5]) return {error: "The composition line does not give three values"};
  }
  // T and P as typed (the module narrows them to single precision itself).
  const flag = single ? 1 : 0;
  const fault = quarn._quarn_evaluate(T, P, x[0], x[1], x[2], flag);
  const evaluation = named(quarn._quarn_evaluate_names);
  const line = text();
  quarn._quarn_properties(T, P, x[0], x[1], x[2], flag);
  const properties = named(quarn._quarn_properties_names);
  quarn._quarn_flash(T, P, x[0], x[1], x[2], flag);
  const phases = named(quarn._quarn_flash_names);
  const [status, reason] = text().split("\t");
  return {T, P, x, salinity, fault, evaluation, line, properties, phases, status, reason};
}

// A pasted list, its lines posted as they come, a few records at a time.
function list({input, T, P, single}, progress) {
  withText(input, (p, n) => quarn._quarn_list_begin(p, n, T, P, single ? 1 : 0));
  let more = 1;
  while (more) {
    more = quarn._quarn_list_next(200);
    progress({lines: text(), count: quarn.HEAPF64[quarn._quarn_numbers() / 8]});
  }
  return {count: quarn.HEAPF64[quarn._quarn_numbers() / 8]};
}

// Evaluations over a spread of states, in chunks with their progress.
function bench({count}, progress) {
  const started = performance.now();
  let faults = 0, done = 0;
  while (done < count) {
    const end = Math.min(count, done + 200000);
    for (let k = done; k < end; ++k) {
      const u = (k % 1000) / 1000;
      faults += quarn._quarn_evaluate(350 + 250 * u, 500 + 4500 * u, 0.9 * u,
                                      1 - 0.9 * u - 0.05 * u, 0.05 * u, 1) !== 0;
    }
    done = end;
    progress({done, count});
  }
  return {count, faults, seconds: (performance.now() - started) / 1000};
}

// A section of constant solvent salinity, one temperature a row: the flash's
// verdict in each cell and the one-phase limit.
function section({P, wt, T, x}, progress) {
  const rows = [], limit = [], limitStatus = [];
  const total = wt.length * T.length;
  for (const w of wt) {
    const classes = [], limits = [], statuses = [];
    for (const t of T) {
      const pointer = quarn._quarn_section_row(t, P, w, x[0], x[x.length - 1], x.length) / 8;
      const row = quarn.HEAPF64.subarray(pointer, pointer + x.length + 2);
      limits.push(row[0]);
      statuses.push(row[1]);
      classes.push(Array.from(row.subarray(2)));
      progress({done: rows.length * T.length + classes.length, total});
    }
    rows.push(classes);
    limit.push(limits);
    limitStatus.push(statuses);
  }
  return {P, wt, T, x, classes: rows, limit, limitStatus};
}

// The ternary at one T and P: the flash of each fluid of the grid (heights
// of x CO2 by salinities of the solvent), with its phases' compositions.
function ternary({T, P, heights, wt}, progress) {
  const rows = [];
  const pointer = quarn._malloc(8 * wt.length);
  try {
    quarn.HEAPF64.set(wt, pointer / 8);
    heights.forEach((x, i) => {
      const start = quarn._quarn_ternary_row(T, P, x, pointer, wt.length) / 8;
      rows.push(Array.from(quarn.HEAPF64.subarray(start, start + 10 * wt.length)));
      progress({done: i + 1, total: heights.length});
    });
  } finally {
    quarn._free(pointer);
  }
  return {T, P, heights, wt, rows};
}

// The P-T figure of a bulk fluid: the stability test over the grid, one
// temperature a column, then its isochores through the starts.
function pt({xCO2, wt, T, P, starts, fineT}, progress) {
  const total = T.length + starts.length;
  const verdicts = T.map((t, i) => {
    const start = quarn._quarn_pt_column(t, xCO2, wt, P[0], P[P.length - 1], P.length) / 8;
    const column = Array.from(quarn.HEAPF64.subarray(start, start + P.length));
    progress({done: i + 1, total});
    return column;
  });
  const isochores = starts.map(([t, p], k) => {
    const rho = quarn._quarn_density(t, p, xCO2, wt);
    const points = fineT.map((tf) => {
      quarn._quarn_isochore_point(tf, xCO2, wt, rho);
      const start = quarn._quarn_numbers() / 8;
      return [quarn.HEAPF64[start], quarn.HEAPF64[start + 1]];
    });
    progress({done: T.length + k + 1, total});
    return {rho, P: points.map((q) => q[0]), verdict: points.map((q) => q[1])};
  });
  return {xCO2, wt, T, P, verdicts, fineT, isochores};
}

const operations = {state, list, bench, section, ternary, pt};

self.onmessage = async (event) => {
  const {id, op, args} = event.data;
  try {
    await ready;
    const result = operations[op](args, (progress) => self.postMessage({id, progress}));
    self.postMessage({id, result});
  } catch (error) {
    self.postMessage({id, error: String(error && error.message ? error.message : error)});
  }
};
ready.then(() => self.postMessage({ready: true}),
           (error) => self.postMessage({failed: String(error && error.message ? error.message : error)}));

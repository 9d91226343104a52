// Evaluates states with the calculator's WebAssembly module under Node, for the
// web tests: reads records of 6 float64 (T_C, P_bar, x_CO2, x_H2O, x_NaCl,
// single precision 0 or 1) from the input file, writes records of 13 float64
// (phi x3, f x3, Z, V, ln phi x3, the fault's number and its function) to the
// output file and the report lines, one per state, to the text file. With "table", evaluates a list of
// compositions in the run file's format at one T and P and prints its lines.
//   node evaluate_states.cjs SITE states IN OUT LINES
//   node evaluate_states.cjs SITE table T_C P_BAR LIST_FILE
//   node evaluate_states.cjs SITE flash IN OUT  (the flash of each state)
"use strict";
const fs = require("fs");
const path = require("path");

const [site, mode, ...args] = process.argv.slice(2);
const createQuarn = require(path.resolve(site, "quarn.js"));
// Node's fetch cannot read a file path: the module gets the bytes.
createQuarn({wasmBinary: fs.readFileSync(path.resolve(site, "quarn.wasm"))}).then((quarn) => {
  // The numbers of the last call, by the names the module gives them.
  const names = quarn.UTF8ToString(quarn._quarn_evaluate_names()).split(",");
  const numbers = () => {
    const start = quarn._quarn_numbers() / 8;
    const values = quarn.HEAPF64.subarray(start, start + names.length);
    return Object.fromEntries(names.map((name, i) => [name, values[i]]));
  };
  const kept = ["phi_CO2", "phi_H2O", "phi_NaCl", "f_CO2", "f_H2O", "f_NaCl", "Z", "V",
                "ln_phi_CO2", "ln_phi_H2O", "ln_phi_NaCl", "fault", "fault_function"];
  if (mode === "states") {
    const [input, output, lines] = args;
    const bytes = fs.readFileSync(input);
    const states = new Float64Array(bytes.buffer, bytes.byteOffset, bytes.length / 8);
    const count = states.length / 6;
    const out = new Float64Array(count * 13);
    const text = [];
    const started = process.hrtime.bigint();
    for (let k = 0; k < count; ++k) {
      const s = states.subarray(6 * k, 6 * k + 6);
      quarn._quarn_evaluate(s[0], s[1], s[2], s[3], s[4], s[5]);
      const n = numbers();
      kept.forEach((name, j) => { out[13 * k + j] = n[name]; });
      text.push(quarn.UTF8ToString(quarn._quarn_text()));
    }
    const seconds = Number(process.hrtime.bigint() - started) / 1e9;
    fs.writeFileSync(output, Buffer.from(out.buffer));
    fs.writeFileSync(lines, text.join("\n") + "\n");
    process.stdout.write(`${count} states in ${seconds.toFixed(3)} s\n`);
  } else if (mode === "flash") {
    // Records of 6 float64 in as for "states"; out, the flash's numbers in the
    // order of their names, which go first to standard output.
    const [input, output] = args;
    const flashNames = quarn.UTF8ToString(quarn._quarn_flash_names()).split(",");
    const bytes = fs.readFileSync(input);
    const states = new Float64Array(bytes.buffer, bytes.byteOffset, bytes.length / 8);
    const count = states.length / 6;
    const out = new Float64Array(count * flashNames.length);
    const statuses = [];
    for (let k = 0; k < count; ++k) {
      const s = states.subarray(6 * k, 6 * k + 6);
      quarn._quarn_flash(s[0], s[1], s[2], s[3], s[4], s[5]);
      const start = quarn._quarn_numbers() / 8;
      out.set(quarn.HEAPF64.subarray(start, start + flashNames.length), k * flashNames.length);
      statuses.push(quarn.UTF8ToString(quarn._quarn_text()).split("\t")[0]);
    }
    fs.writeFileSync(output, Buffer.from(out.buffer));
    process.stdout.write(flashNames.join(",") + "\n" + statuses.join("\n") + "\n");
  } else if (mode === "table") {
    const [T, P, file] = args;
    const list = fs.readFileSync(file, "utf8");
    const length = quarn.lengthBytesUTF8(list);
    const pointer = quarn._malloc(length + 1);
    quarn.stringToUTF8(list, pointer, length + 1);
    quarn._quarn_table(pointer, length, Number(T), Number(P), 1);
    quarn._free(pointer);
    process.stdout.write(quarn.UTF8ToString(quarn._quarn_text()));
  } else {
    throw new Error(`unknown mode ${mode}`);
  }
});

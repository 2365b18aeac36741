// Runs quorvex/Quorvex.js under node with a recording host: onStart must set
// one int parameter per declared output switch, in the order of the param(...)
// lines, from its check box, then the threshold and the task, and leave the
// host's param alone.   node DialogScriptCheck.js path/to/Quorvex.js
"use strict";
const fs = require("fs");
const vm = require("vm");
const assert = require("assert");

const declared = [];
const calls = [];
const context = {
    param: function (name, value) { declared.push(name); },
    dialog: {
        isChecked: (control) => control !== "check_tSNR2" && control !== "check_residuals1",
        setIntParameter: (name, value) => calls.push(["int", name, value]),
        setFloatParameter: (name, value) => calls.push(["float", name, value]),
        setStringParameter: (name, value) => calls.push(["string", name, value]),
        getText: (control) => (control === "edit_fmr_threshold" ? "250.5" : ""),
        executePlugin: () => calls.push(["execute"]),
    },
};
vm.createContext(context);
vm.runInContext(fs.readFileSync(process.argv[2], "utf8"), context);
vm.runInContext("declareParameters()", context);
const hostParam = context.param;
const declaredByHost = declared.length;
vm.runInContext("onStart()", context);

assert.strictEqual(context.param, hostParam, "onStart must give the host's param back");
assert.strictEqual(declared.length, declaredByHost, "onStart must not declare parameters");
const notSwitches = ["fmr_threshold", "sdmfile1", "sdmfile2"];
const expected = declared.filter((name) => !notSwitches.includes(name)).map(
    (name) => ["int", name, name === "tSNR2" || name === "residuals1" ? 0 : 1]);
assert.ok(expected.length >= 9, "the seven maps and two residual outputs at least");
expected.push(["float", "fmr_threshold", 250.5], ["string", "task", "start"], ["execute"]);
assert.deepStrictEqual(calls, expected);
console.log("onStart set " + (expected.length - 3) + " switches in declaration order");

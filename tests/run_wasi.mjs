// Runs a WASI (preview 1) program under Node's built-in WASI, as a WebAssembly
// host would: the current folder is the program's only folder, its arguments
// follow, and its exit status becomes this process's.
// Usage: node run_wasi.mjs PROGRAM.wasm [ARG...]
import { readFile } from "node:fs/promises";
import { argv, cwd, exit } from "node:process";
import { WASI } from "node:wasi";

const [program, ...args] = argv.slice(2);
const wasi = new WASI({
    version: "preview1",
    args: [program, ...args],
    preopens: { ".": cwd() },
    returnOnExit: true,
});
const module = await WebAssembly.compile(await readFile(program));
// wasiImport, not getImportObject(), which Debian 12's Node 18 lacks.
const instance = await WebAssembly.instantiate(module, { wasi_snapshot_preview1: wasi.wasiImport });
exit(wasi.start(instance));

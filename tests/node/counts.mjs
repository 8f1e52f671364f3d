// Prints the row count of every user table the independent reader mdb-reader sees in an
// Access file, as JSON {"table": rows}. Exits non-zero with the reader's message on stderr
// when it cannot open the file (a wrong password, an encryption it does not know).
//
// usage: node tests/node/counts.mjs FILE [--password P]
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
let MDBReader;
try {
  const require = createRequire(join(here, "package.json"));
  MDBReader = (await import(require.resolve("mdb-reader"))).default;
} catch (e) {
  console.error(`counts.mjs: cannot load mdb-reader (run "npm ci" in ${here}): ${e.message}`);
  process.exit(3);
}

function usage() {
  console.error("usage: node counts.mjs FILE [--password P]");
  process.exit(2);
}

const args = process.argv.slice(2);
let file = null;
let password;
for (let i = 0; i < args.length; ++i) {
  if (args[i] === "--password" && i + 1 < args.length) password = args[++i];
  else if (file === null) file = args[i];
  else usage();
}
if (file === null) usage();

try {
  const reader = new MDBReader(readFileSync(file), password === undefined ? {} : { password });
  const counts = {};
  // getTableNames() leaves out system and linked tables by default.
  for (const name of reader.getTableNames()) counts[name] = reader.getTable(name).rowCount;
  process.stdout.write(JSON.stringify(counts) + "\n");
} catch (e) {
  console.error(`counts.mjs: ${file}: ${e.message}`);
  process.exit(1);
}

// Prints what the independent reader mdb-reader sees in an Access file, as JSON:
// catalog objects, tables with columns, properties, indexes and every row value.
//
// usage: node tests/node/dump.mjs FILE [--password P] [--system] [--no-rows]
//
// Values: text as strings, dates as ISO 8601 UTC strings, binary/OLE as {"hex": "..."},
// big integers as strings, currency/decimal as the reader's decimal strings.
// Properties and index definitions are decoded here from the raw file (mdb-reader does not
// expose them); the table layout follows the Jet 4 / ACE page format.
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
let MDBReader;
let Database;
try {
  const require = createRequire(join(here, "package.json"));
  const entry = require.resolve("mdb-reader");
  MDBReader = (await import(entry)).default;
  // The reader's own page access, so that raw decoding below also sees decrypted pages.
  Database = (await import(join(dirname(entry), "Database.js"))).Database;
} catch (e) {
  console.error(`dump.mjs: cannot load mdb-reader (run "npm ci" in ${here}): ${e.message}`);
  process.exit(3);
}

const args = process.argv.slice(2);
let file = null;
let password;
let withSystem = false;
let withRows = true;
for (let i = 0; i < args.length; ++i) {
  if (args[i] === "--password") password = args[++i];
  else if (args[i] === "--system") withSystem = true;
  else if (args[i] === "--no-rows") withRows = false;
  else if (file === null) file = args[i];
  else {
    console.error("usage: node dump.mjs FILE [--password P] [--system] [--no-rows]");
    process.exit(2);
  }
}
if (file === null) {
  console.error("usage: node dump.mjs FILE [--password P] [--system] [--no-rows]");
  process.exit(2);
}

const buffer = readFileSync(file);
const reader = new MDBReader(buffer, password === undefined ? {} : { password });
const pageSize = buffer[0x14] === 0 ? 2048 : 4096;
const jet3 = pageSize === 2048;

function jsonValue(v) {
  if (v === null || v === undefined) return null;
  if (Buffer.isBuffer(v)) return { hex: v.toString("hex") };
  if (v instanceof Date) return isNaN(v.getTime()) ? String(v) : v.toISOString();
  if (typeof v === "bigint") return v.toString();
  return v;
}

function decodeText(buf) {
  if (buf.length >= 2 && buf[0] === 0xff && buf[1] === 0xfe) {
    let compressed = true;
    let out = [];
    for (let i = 2; i < buf.length; ) {
      if (buf[i] === 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        out.push(buf[i++], 0);
      } else if (i + 1 < buf.length) {
        out.push(buf[i++], buf[i++]);
      } else break;
    }
    return Buffer.from(out).toString("utf16le");
  }
  return buf.toString("utf16le");
}

// Property blobs ("MR2\0"): a name list chunk, then one value block per object.
function parseProperties(blob) {
  const result = { table: {}, columns: {} };
  if (!blob || blob.length < 4) return result;
  const magic = blob.subarray(0, 3).toString("latin1");
  if (magic !== "MR2" && magic !== "KKD") return result;
  let names = [];
  let pos = 4;
  while (pos + 6 <= blob.length) {
    const len = blob.readUInt32LE(pos);
    const type = blob.readUInt16LE(pos + 4);
    const body = blob.subarray(pos + 6, pos + len);
    if (len < 6) break;
    if (type === 0x80) {
      names = [];
      for (let p = 0; p + 2 <= body.length; ) {
        const n = body.readUInt16LE(p);
        names.push(body.subarray(p + 2, p + 2 + n).toString("utf16le"));
        p += 2 + n;
      }
    } else if (type <= 0x02) {
      const nameLen = body.readUInt16LE(4);
      const blockName = body.subarray(6, 6 + nameLen).toString("utf16le");
      const props = {};
      for (let p = 6 + nameLen; p + 8 <= body.length; ) {
        const entryLen = body.readUInt16LE(p);
        const dtype = body[p + 3];
        const nameIndex = body.readUInt16LE(p + 4);
        const size = body.readUInt16LE(p + 6);
        const v = body.subarray(p + 8, p + 8 + size);
        let value;
        switch (dtype) {
          case 0x01:
            value = v[0] !== 0;
            break;
          case 0x02:
            value = v[0];
            break;
          case 0x03:
            value = v.readInt16LE(0);
            break;
          case 0x04:
            value = v.readInt32LE(0);
            break;
          case 0x0a:
          case 0x0c:
            value = decodeText(v);
            break;
          default:
            value = { hex: v.toString("hex") };
        }
        props[names[nameIndex] ?? `#${nameIndex}`] = value;
        if (entryLen < 8) break;
        p += entryLen;
      }
      if (blockName === "") Object.assign(result.table, props);
      else result.columns[blockName] = props;
    }
    pos += len;
  }
  return result;
}

const pages = new Database(buffer, password ?? "");
function page(n) {
  return n === 0 ? buffer.subarray(0, pageSize) : pages.getPage(n);
}

function tableDefinition(first) {
  let buf = Buffer.from(page(first));
  let next = buf.readUInt32LE(4);
  while (next) {
    const p = page(next);
    buf = Buffer.concat([buf, p.subarray(8)]);
    next = p.readUInt32LE(4);
  }
  return buf;
}

// Index definitions from the table definition (Jet 4 layout).
function parseIndexes(tdefPage, columnNames) {
  if (jet3) return [];
  const b = tableDefinition(tdefPage);
  const numCols = b.readUInt16LE(45);
  const numIdx = b.readUInt32LE(47);
  const numReal = b.readUInt32LE(51);
  let pos = 63 + numReal * 12 + numCols * 25;
  for (let i = 0; i < numCols; ++i) pos += 2 + b.readUInt16LE(pos);
  const reals = [];
  for (let i = 0; i < numReal; ++i) {
    const cols = [];
    for (let k = 0; k < 10; ++k) {
      const c = b.readUInt16LE(pos + 4 + k * 3);
      if (c !== 0xffff) cols.push({ name: columnNames[c] ?? c, descending: b[pos + 6 + k * 3] === 0 });
    }
    reals.push({ columns: cols, flags: b[pos + 46] });
    pos += 52;
  }
  const logicals = [];
  for (let i = 0; i < numIdx; ++i) {
    logicals.push({
      number: b.readUInt32LE(pos + 4),
      real: b.readUInt32LE(pos + 8),
      relIndex: b.readInt32LE(pos + 13),
      relTablePage: b.readUInt32LE(pos + 17),
      cascadeUpdates: b[pos + 21] === 1,
      cascadeDeletes: b[pos + 22] === 1,
      type: b[pos + 23],
    });
    pos += 28;
  }
  for (const li of logicals) {
    const n = b.readUInt16LE(pos);
    li.name = b.subarray(pos + 2, pos + 2 + n).toString("utf16le");
    pos += 2 + n;
  }
  return logicals.map((li) => {
    const r = reals[li.real] ?? { columns: [], flags: 0 };
    const out = {
      name: li.name,
      columns: r.columns,
      primaryKey: li.type === 1,
      foreignKey: li.type === 2,
      unique: (r.flags & 0x01) !== 0,
      ignoreNulls: (r.flags & 0x02) !== 0,
      required: (r.flags & 0x08) !== 0,
    };
    if (li.type === 2) {
      out.referencedTablePage = li.relTablePage;
      out.cascadeUpdates = li.cascadeUpdates;
      out.cascadeDeletes = li.cascadeDeletes;
    }
    return out;
  });
}

const catalog = reader.getTable("MSysObjects").getData();
const objects = catalog.map((o) => ({
  id: o.Id,
  parentId: o.ParentId,
  name: o.Name,
  type: o.Type,
  flags: o.Flags,
  database: o.Database ?? null,
  connect: o.Connect ?? null,
  foreignName: o.ForeignName ?? null,
}));

const names = reader.getTableNames({ normalTables: true, systemTables: withSystem });
const tables = [];
for (const name of names) {
  const table = reader.getTable(name);
  const entry = catalog.find((o) => o.Name === name && (o.Type & 0x7f) === 1);
  const props = parseProperties(entry?.LvProp ?? null);
  const columns = table.getColumns().map((c) => {
    const col = {
      name: c.name,
      type: c.type,
      size: c.size,
      fixedLength: c.fixedLength,
      nullable: c.nullable,
      autoLong: c.autoLong,
      autoUUID: c.autoUUID,
      properties: props.columns[c.name] ?? {},
    };
    if (c.precision !== undefined) col.precision = c.precision;
    if (c.scale !== undefined) col.scale = c.scale;
    return col;
  });
  const out = {
    name,
    rowCount: table.rowCount,
    properties: props.table,
    columns,
    indexes: entry ? parseIndexes(entry.Id & 0xffffff, table.getColumns().map((c) => c.name)) : [],
  };
  if (withRows) {
    out.rows = table.getData().map((row) => {
      const r = {};
      for (const c of columns) r[c.name] = jsonValue(row[c.name]);
      return r;
    });
  }
  tables.push(out);
}

let relationships = [];
if (reader.getTableNames({ normalTables: false, systemTables: true }).includes("MSysRelationships")) {
  relationships = reader.getTable("MSysRelationships").getData();
}

const result = {
  version: buffer[0x14],
  password: reader.getPassword(),
  creationDate: jsonValue(reader.getCreationDate()),
  objects,
  tables,
  linkedTables: reader.getTableNames({ normalTables: false, linkedTables: true }),
  relationships,
};
process.stdout.write(JSON.stringify(result, (k, v) => (typeof v === "bigint" ? v.toString() : v), 1));
process.stdout.write("\n");

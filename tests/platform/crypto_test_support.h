// Helpers shared by the password and encryption tests: the real Access files and a view of
// what libmdb reads from a file image.
#pragma once

#include <glib.h>
// glib must come first: mdbtools.h uses its types without including it.
#include <mdbtools.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/crypto_errors.h"
#include "platform/decrypted_file.h"
#include "support/errors.h"

namespace ferrolyte::testing {

// The folder of real Access files beside the work tree; empty when it is missing.
inline std::string RealAccessFolder() {
  std::string folder = std::string(FERROLYTE_SOURCE_DIR) + "/../shared/access";
  std::ifstream probe(folder + "/README.md");
  return probe ? folder : "";
}

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Everything a stream gives from its current position, read in pieces that do not line up
// with pages.
inline std::vector<uint8_t> ReadToEnd(std::FILE* stream, size_t piece = 1000) {
  std::vector<uint8_t> all;
  std::vector<uint8_t> buffer(piece);
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), stream)) > 0)
    all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
  return all;
}

// The error a call raises; a default Error with number 0 when it raises none.
template <typename F>
Error CaughtError(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error raised");
}

// User tables (no MSys objects) with their row counts, as libmdb reads them from a file
// image through mdb_open_buffer; {"<open failed>", -1} or {"<no catalog>", -1} otherwise.
inline std::map<std::string, long> LibmdbTablesFromImage(std::vector<uint8_t>& image) {
  MdbHandle* mdb = mdb_open_buffer(image.data(), image.size(), MDB_NOFLAGS);
  if (!mdb) return {{"<open failed>", -1}};
  std::map<std::string, long> tables;
  if (!mdb_read_catalog(mdb, MDB_TABLE)) {
    mdb_close(mdb);
    return {{"<no catalog>", -1}};
  }
  for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    std::string name = entry->object_name;
    if (entry->object_type != MDB_TABLE || name.rfind("MSys", 0) == 0) continue;
    MdbTableDef* table = mdb_read_table(entry);
    if (!table) {
      tables[name] = -1;
      continue;
    }
    mdb_read_columns(table);
    mdb_rewind_table(table);
    long rows = 0;
    while (mdb_fetch_row(table)) ++rows;
    tables[name] = rows;
    mdb_free_tabledef(table);
  }
  mdb_close(mdb);
  return tables;
}

}  // namespace ferrolyte::testing

// What Access stores for attachments and saved queries: the FileData form of a file, and the
// MSysQueries rows of a query.
#include <zlib.h>

#include "accesswriter/writer.h"
#include "encoding.h"

namespace accesswriter {
namespace {

using internal::Bytes;
using internal::Put32;

constexpr int kAttributeStart = 0;
constexpr int kAttributeKind = 1;
constexpr int kAttributeParameter = 2;
constexpr int kAttributeFlags = 3;
constexpr int kAttributeRemote = 4;
constexpr int kAttributeTable = 5;
constexpr int kAttributeColumn = 6;
constexpr int kAttributeJoin = 7;
constexpr int kAttributeWhere = 8;
constexpr int kAttributeGroupBy = 9;
constexpr int kAttributeHaving = 10;
constexpr int kAttributeOrderBy = 11;
constexpr int kAttributeEnd = 255;

Bytes Deflate(const Bytes& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, plain.data(), static_cast<uLong>(plain.size()),
                Z_DEFAULT_COMPRESSION) != Z_OK)
    throw WriteError("cannot deflate an attachment");
  out.resize(size);
  return out;
}

}  // namespace

std::vector<std::uint8_t> AttachmentFileData(const Attachment& file) {
  const std::size_t dot = file.file_name.rfind('.');
  std::u16string type =
      internal::Utf8ToUtf16(dot == std::string::npos ? "" : file.file_name.substr(dot + 1));
  type.push_back(u'\0');
  Bytes inner;
  Put32(inner, static_cast<std::uint32_t>(12 + 2 * type.size()));
  Put32(inner, 1);
  Put32(inner, static_cast<std::uint32_t>(type.size()));
  Bytes type_bytes = internal::Utf16Le(type);
  inner.insert(inner.end(), type_bytes.begin(), type_bytes.end());
  inner.insert(inner.end(), file.data.begin(), file.data.end());
  Bytes stored;
  Put32(stored, file.compress ? 1 : 0);
  Put32(stored, static_cast<std::uint32_t>(inner.size()));
  const Bytes body = file.compress ? Deflate(inner) : inner;
  stored.insert(stored.end(), body.begin(), body.end());
  return stored;
}

int QueryObjectFlags(QueryKind kind) {
  switch (kind) {
    case QueryKind::kSelect:
      return 0;
    case QueryKind::kCrosstab:
      return 16;
    case QueryKind::kDelete:
      return 32;
    case QueryKind::kUpdate:
      return 48;
    case QueryKind::kAppend:
      return 64;
    case QueryKind::kMakeTable:
      return 80;
    case QueryKind::kDataDefinition:
      return 96;
    case QueryKind::kPassThrough:
      return 112;
    case QueryKind::kUnion:
      return 128;
  }
  return 0;
}

std::vector<QueryRow> QueryRows(const Query& q) {
  std::vector<QueryRow> rows;
  auto add = [&](int attribute, int flag, std::string name1 = "", std::string name2 = "",
                 std::string expression = "") {
    rows.push_back({attribute, flag, std::move(name1), std::move(name2), std::move(expression)});
  };
  add(kAttributeStart, 0);
  const bool statement = q.kind == QueryKind::kPassThrough || q.kind == QueryKind::kDataDefinition;
  add(kAttributeKind, static_cast<int>(q.kind), q.target, "", statement ? q.sql : "");
  for (const QueryParameter& p : q.parameters) add(kAttributeParameter, p.type, p.name);
  if (q.kind == QueryKind::kUnion) {
    add(kAttributeFlags, q.union_all ? 1 : 3);
  } else if (!statement) {
    int flags = q.columns.empty() ? 1 : 0;
    if (q.distinct) flags |= 2;
    if (q.distinct_row) flags |= 8;
    if (!q.top.empty()) flags |= 16;
    if (q.top_percent) flags |= 32;
    add(kAttributeFlags, flags, q.top);
  }
  if (q.kind == QueryKind::kPassThrough) add(kAttributeRemote, 0, "", "", q.connect);
  if (q.kind == QueryKind::kUnion) {
    for (std::size_t i = 0; i < q.union_parts.size(); ++i)
      add(kAttributeTable, 0, "", "[%$##@_Alias" + std::to_string(i) + "]", q.union_parts[i]);
  }
  for (const QueryTable& t : q.tables) add(kAttributeTable, 0, t.name, t.alias);
  for (const QueryColumn& c : q.columns) add(kAttributeColumn, c.flag, c.alias, "", c.expression);
  for (const QueryJoin& j : q.joins)
    add(kAttributeJoin, static_cast<int>(j.kind), j.left, j.right, j.on);
  if (!q.where.empty()) add(kAttributeWhere, 0, "", "", q.where);
  for (const std::string& g : q.group_by) add(kAttributeGroupBy, 0, "", "", g);
  if (!q.having.empty()) add(kAttributeHaving, 0, "", "", q.having);
  for (const QueryOrder& o : q.order_by)
    add(kAttributeOrderBy, 0, o.descending ? "D" : "", "", o.expression);
  rows.insert(rows.end(), q.extra_rows.begin(), q.extra_rows.end());
  add(kAttributeEnd, 0);
  return rows;
}

}  // namespace accesswriter

// Attachment files as Access stores them: read back whole from both stored forms, and every
// damaged form refused with its reason rather than read as a shorter or wrong file.
#include "platform/attachments.h"

#include <gtest/gtest.h>

#include "accesswriter/writer.h"
#include "platform/access_provider.h"
#include "platform/access_rows.h"
#include "platform/ado.h"
#include "support/safe.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;

Bytes Stored(const std::string& name, const Bytes& data, bool compress) {
  return aw::AttachmentFileData({name, data, compress});
}

TEST(AttachmentsTest, BothStoredFormsGiveTheFileBack) {
  Bytes every_byte(256);
  for (int i = 0; i < 256; ++i) every_byte[i] = static_cast<uint8_t>(i);
  for (bool compress : {true, false})
    for (const Bytes& data : {Bytes{}, Bytes{'a'}, every_byte, Bytes(100000, 'z')}) {
      SCOPED_TRACE(std::to_string(data.size()) + (compress ? " deflated" : " plain"));
      EXPECT_EQ(AttachmentFileBytes(Stored("f.bin", data, compress)), data);
    }
}

TEST(AttachmentsTest, DamagedFormsAreRefusedWithTheirReason) {
  const Bytes good = Stored("f.txt", Bytes(500, 'q'), true);
  const Bytes plain = Stored("f.txt", Bytes(10, 'q'), false);
  auto with = [](Bytes b, size_t at, uint8_t value) {
    b.at(at) = value;
    return b;
  };
  const std::pair<Bytes, const char*> cases[] = {
      {Bytes{1, 0, 0}, "no header"},
      {with(good, 0, 7), "unknown form"},
      {with(good, 4, 0xff), "stored length"},            // inflates to less than it says
      {Bytes(good.begin(), good.end() - 4), "damaged"},  // the deflated stream is cut
      {with(good, 10, 0), "the attachment"},             // a changed deflated byte
      {Bytes(plain.begin(), plain.end() - 1), "stored length"},
      {with(plain, 8, 0xf0), "header runs past"},  // the file header's own length
  };
  for (const auto& [stored, reason] : cases) {
    SCOPED_TRACE(reason);
    try {
      AttachmentFileBytes(stored);
      ADD_FAILURE() << "read";
    } catch (const DamagedStructure& e) {
      EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
    }
  }
}

// The provider's [table].[column] source: a row per file, the owner's columns beside it.
TEST(AttachmentsTest, ProviderReadsEachFileWithItsOwnersKey) {
  testing::TempDir dir;
  const std::string path = dir.File("files.accdb");
  {
    aw::DatabaseWriter w(path, {.format = aw::Format::kAce12});
    aw::Table t{.name = "Docs"};
    t.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
                 {.name = "Files",
                  .type = aw::ColumnType::kComplex,
                  .complex = aw::ComplexKind::kAttachment}};
    auto& rows = w.AddTable(t);
    rows.AddRow(
        {7, aw::Value::Attachments({{"a.txt", {'A'}, true}, {"b.txt", {'B', 'B'}, false}})});
    rows.AddRow({8, aw::Value::Attachments({})});
    rows.AddRow({9, aw::Value::Attachments({{"c.txt", {}, true}})});
    w.Finish();
  }
  auto backend = OpenAccessBackend("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path);
  SourceRows asked{.table = "Docs",
                   .complex_column = "Files",
                   .columns = {{"Id", false}, {"FileName", true}, {"FileData", true}}};
  EXPECT_EQ(backend->CountRows(asked), 3);
  auto files = backend->OpenRows(asked);
  EXPECT_EQ(files->FieldType(2), kAdLongVarBinary);
  std::vector<std::tuple<int64_t, std::string, Bytes>> read;
  for (; !files->Eof(); files->MoveNext())
    read.emplace_back(SafeLng(files->FieldValue(0)), SafeStr(files->FieldValue(1)),
                      files->FieldValue(2).AsBytes());
  const std::vector<std::tuple<int64_t, std::string, Bytes>> expected = {
      {7, "a.txt", {'A'}}, {7, "b.txt", {'B', 'B'}}, {9, "c.txt", {}}};
  EXPECT_EQ(read, expected);
  asked.complex_column = "Id";
  EXPECT_THROW(backend->OpenRows(asked), Error);
}

}  // namespace
}  // namespace ferrolyte

#include "conversion/copy_chunks.h"

#include <algorithm>

#include "support/errors.h"

namespace ferrolyte {
CopyChunks::~CopyChunks() {
  Discard();
}

std::string CopyChunks::Insert(size_t row) {
  const std::vector<Value> row_values = held_.Row(row);
  std::vector<const Value*> values;
  for (const Value& value : row_values) values.push_back(&value);
  std::string insert;
  AppendInsertRow(insert, insert_prefix_, {columns_, values});
  ++inserts_rendered_;
  return insert;
}

void CopyChunks::Clear() {
  held_.Clear();
  pending_.clear();
  streamed_rows_ = 0;
}

void CopyChunks::StartTable(std::string copy_statement, std::string insert_prefix,
                            const std::string& columns_query) {
  copy_statement_ = std::move(copy_statement);
  insert_prefix_ = std::move(insert_prefix);
  rejected_row_.clear();
  streamed_at_ = clock_.Now();
  format_chosen_ = false;
  binary_ = false;
  server_types_.clear();
  if (!binary_allowed_ || columns_query.empty() || session_.in_copy()) return;
  try {
    server_types_ = session_.ResultTypes(columns_query);
  } catch (const Error&) {
    // Text then: its COPY meets the same refusal and reports it as it always has.
    server_types_.clear();
  }
}

void CopyChunks::ChooseFormat(const TypedRow& row) {
  format_chosen_ = true;
  binary_ = false;
  // One COPY has one format: a single column without a binary form takes the table to text.
  if (server_types_.size() != row.columns.size()) return;
  fields_.clear();
  for (size_t i = 0; i < row.columns.size(); ++i) {
    fields_.push_back(BinaryFieldFor(row.columns[i], server_types_[i]));
    if (fields_.back() == BinaryField::kNone) return;
  }
  binary_ = true;
}

void CopyChunks::SwitchToText() {
  binary_ = false;
  if (held_.rows() == 0) return;
  if (session_.in_copy()) session_.AbandonCopy();
  const size_t streamed = streamed_rows_;
  pending_.clear();
  streamed_rows_ = 0;
  auto render = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      const std::vector<Value> row_values = held_.Row(i);
      std::vector<const Value*> values;
      for (const Value& value : row_values) values.push_back(&value);
      AppendCopyRow(pending_, {columns_, values});
      pending_ += '\n';
    }
  };
  // The rows streamed before are sent again at once: a stop keeps what the progress showed.
  render(0, streamed);
  if (streamed > 0) {
    try {
      Send(streamed);
    } catch (const Error& e) {
      if (session_.IsLost()) RaiseLost(e);
      Replay();
      return;
    }
  }
  render(streamed, held_.rows());
}

void CopyChunks::Add(const TypedRow& row) {
  if (!format_chosen_) ChooseFormat(row);
  if (!binary_ || !AppendBinaryRow(pending_, fields_, row)) {
    if (binary_) SwitchToText();
    const size_t line_start = pending_.size();
    try {
      AppendCopyRow(pending_, row);
    } catch (...) {
      pending_.resize(line_start);
      throw;
    }
    pending_ += '\n';
  }
  if (held_.rows() == 0) {
    chunk_start_ = clock_.Now();
    rejected_row_.clear();
    columns_.assign(row.columns.begin(), row.columns.end());
    // Room for a whole chunk at once: a buffer grown step by step would be copied each time
    // and, while it moves, take twice its size.
    held_.Reserve(kChunkBytes + kChunkBytes / 8);
  }
  held_.Add(row.values);
}

bool CopyChunks::ChunkDue() const {
  const size_t rows = held_.rows();
  return rows > 0 && ((max_rows_ && rows >= max_rows_) || held_.bytes() >= kChunkBytes ||
                      clock_.Now() - chunk_start_ >= kChunkTime);
}

bool CopyChunks::StreamDue() const {
  return held_.rows() > streamed_rows_ &&
         (pending_.size() >= kStreamBytes || clock_.Now() - streamed_at_ >= kStreamTime);
}

void CopyChunks::Send(size_t rows) {
  if (!session_.in_copy()) {
    session_.BeginCopy(binary_ ? copy_statement_ + " (FORMAT binary)" : copy_statement_);
    if (binary_) session_.PutCopyData(kBinaryCopyHeader);
  }
  session_.PutCopyData(pending_);
  pending_.clear();
  streamed_rows_ = rows;
  streamed_at_ = clock_.Now();
}

void CopyChunks::Stream() {
  if (held_.rows() == streamed_rows_) return;
  try {
    Send(held_.rows());
  } catch (const Error& e) {
    if (session_.IsLost()) RaiseLost(e);
    Replay();
  }
}

void CopyChunks::Commit() {
  if (held_.rows() == 0) return;
  rejected_row_.clear();
  try {
    Send(held_.rows());
    if (binary_) session_.PutCopyData(kBinaryCopyTrailer);
    session_.EndCopy();
  } catch (const Error& e) {
    if (session_.IsLost()) RaiseLost(e);
    Replay();
    return;
  }
  committed_ += static_cast<int64_t>(held_.rows());
  if (binary_) binary_rows_ += static_cast<int64_t>(held_.rows());
  Clear();
}

size_t CopyChunks::DropUnstreamed() {
  const size_t dropped = held_.rows() - streamed_rows_;
  held_.Truncate(streamed_rows_);
  pending_.clear();
  return dropped;
}

void CopyChunks::Discard() {
  if (session_.in_copy()) session_.AbandonCopy();
  Clear();
}

void CopyChunks::RaiseLost(const Error& e) {
  // Nothing of the chunk is on the server; its first row is where the work stopped.
  rejected_row_ = Insert(0);
  Discard();
  throw e;
}

void CopyChunks::Replay() {
  if (session_.in_copy()) session_.AbandonCopy();
  pending_.clear();
  const size_t n = held_.rows();
  // Sends rows [from, to) one by one, each committed alone; raises at the first refused.
  auto send_alone = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      std::string insert = Insert(i);
      try {
        single_row_(insert);
      } catch (...) {
        rejected_row_ = std::move(insert);
        Clear();
        throw;
      }
      ++committed_;
      if (while_waiting_ && (i - from) % 10 == 9) while_waiting_();
    }
  };
  size_t start = 0;
  while (start < n) {
    // Inside one transaction the search costs no commit per row.
    size_t k = start;
    bool refused = false;
    try {
      session_.Execute("BEGIN");
      for (; k < n; ++k) {
        session_.Execute(Insert(k));
        if (while_waiting_ && (k - start) % 10 == 9) while_waiting_();
      }
      session_.Execute("COMMIT");
    } catch (const Error& e) {
      if (session_.IsLost()) {
        rejected_row_ = Insert(std::min(k, n - 1));
        Clear();
        throw;
      }
      refused = true;
    }
    if (!refused) {
      committed_ += static_cast<int64_t>(n - start);
      Clear();
      return;
    }
    if (session_.InTransaction()) session_.Execute("ROLLBACK");
    if (k == n) {
      // Only the commit was refused (a deferred check): no row is known to be at fault.
      send_alone(start, n);
      break;
    }
    // The rows before the refused one went in: keep them, in one round trip.
    if (k > start) {
      std::string before;
      for (size_t i = start; i < k; ++i) {
        before += Insert(i);
        before += ';';
      }
      try {
        session_.Execute(before);
        committed_ += static_cast<int64_t>(k - start);
      } catch (const Error& e) {
        if (session_.IsLost()) {
          rejected_row_ = Insert(start);
          Clear();
          throw;
        }
        send_alone(start, k);
      }
    }
    // The refused row alone, sent as a single row always is: its error is the one reported.
    send_alone(k, k + 1);
    start = k + 1;
  }
  Clear();
}

}  // namespace ferrolyte

#include "conversion/copy_chunks.h"

#include <algorithm>

#include "support/errors.h"

namespace ferrolyte {

CopyChunks::~CopyChunks() {
  Discard();
}

std::string_view CopyChunks::Insert(size_t row) const {
  const size_t begin = row == 0 ? 0 : ends_[row - 1];
  return std::string_view(inserts_).substr(begin, ends_[row] - begin);
}

void CopyChunks::Clear() {
  inserts_.clear();
  ends_.clear();
  pending_.clear();
}

void CopyChunks::Add(const std::string& insert, std::string_view copy_line) {
  if (ends_.empty()) {
    chunk_start_ = clock_.Now();
    rejected_row_.clear();
  }
  inserts_ += insert;
  ends_.push_back(inserts_.size());
  pending_ += copy_line;
  pending_ += '\n';
  if (pending_.size() >= kSendBytes) Send();
}

bool CopyChunks::ChunkDue() const {
  return !ends_.empty() &&
         ((max_rows_ && ends_.size() >= max_rows_) || inserts_.size() >= kChunkBytes ||
          clock_.Now() - chunk_start_ >= kChunkTime);
}

void CopyChunks::Send() {
  try {
    if (!session_.in_copy()) session_.BeginCopy(copy_statement_);
    session_.PutCopyData(pending_);
    pending_.clear();
  } catch (const Error& e) {
    if (session_.IsLost()) RaiseLost(e);
    Replay();
  }
}

void CopyChunks::Commit() {
  if (ends_.empty()) return;
  rejected_row_.clear();
  try {
    if (!session_.in_copy()) session_.BeginCopy(copy_statement_);
    session_.PutCopyData(pending_);
    pending_.clear();
    session_.EndCopy();
  } catch (const Error& e) {
    if (session_.IsLost()) RaiseLost(e);
    Replay();
    return;
  }
  committed_ += static_cast<int64_t>(ends_.size());
  Clear();
}

void CopyChunks::Discard() {
  if (session_.in_copy()) session_.AbandonCopy();
  Clear();
}

void CopyChunks::RaiseLost(const Error& e) {
  // Nothing of the chunk is on the server; its first row is where the work stopped.
  rejected_row_ = std::string(Insert(0));
  Discard();
  throw e;
}

void CopyChunks::Replay() {
  if (session_.in_copy()) session_.AbandonCopy();
  pending_.clear();
  const size_t n = ends_.size();
  // Sends rows [from, to) one by one, each committed alone; raises at the first refused.
  auto send_alone = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      try {
        single_row_(std::string(Insert(i)));
      } catch (...) {
        rejected_row_ = std::string(Insert(i));
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
        session_.Execute(std::string(Insert(k)));
        if (while_waiting_ && (k - start) % 10 == 9) while_waiting_();
      }
      session_.Execute("COMMIT");
    } catch (const Error& e) {
      if (session_.IsLost()) {
        rejected_row_ = std::string(Insert(std::min(k, n - 1)));
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
          rejected_row_ = std::string(Insert(start));
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

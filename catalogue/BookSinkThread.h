// A book sink that does its target's work on a thread of its own.
//
// Staging a book (author numbers, the record image, the table writes) costs
// about as much as reading it from the index file; with the two on different
// cores the reading no longer waits for the staging. The reader's thread
// copies each book into a batch; a full batch goes to the worker, which
// hands its books to the target in the order read. At most two batches are
// waiting at a time, so the reader never runs far ahead.
//
// Whatever the target raises ends the worker; the reader's next hand-off (or
// Finish) raises it on the reader's thread, and no book after it reaches
// the target. The worker never touches the job host.
#pragma once

#include <memory>

#include "catalogue/BookSink.h"

namespace catalogue {

class TBookSinkThread final : public TBookSink {
 public:
  explicit TBookSinkThread(TBookSink& target);
  // Joins the worker. Books not yet handed to the target are dropped: only
  // a reading that ended by an exception gets here without Finish.
  ~TBookSinkThread() override;
  TBookSinkThread(const TBookSinkThread&) = delete;
  TBookSinkThread& operator=(const TBookSinkThread&) = delete;

  void appendBook(const TBOOK& book, const AnsiString& file) override;
  void readError() override;

  // Hands every book and read error delivered so far to the target and
  // joins the worker; raises what the target raised. Then the target is
  // the caller's again. No call may follow.
  void Finish();

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

}  // namespace catalogue

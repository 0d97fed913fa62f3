// The staging thread: books reach the target in reading order, a target's
// failure comes back to the reader and ends the delivery, and a reading that
// ends by an exception leaves without waiting for the books it dropped.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/BookSinkThread.h"

using namespace catalogue;

namespace {

// Notes what it is given ("E" for a read error) and fails at the book
// numbered `failAt` (from 1; 0: never).
struct TNotingSink : TBookSink {
  void appendBook(const TBOOK& book, const AnsiString& file) override {
    if (++books == failAt) throw std::runtime_error("disk full");
    got.push_back(book.bookName + "/" + file);
  }
  void readError() override { got.push_back("E"); }
  long failAt = 0, books = 0;
  std::vector<std::string> got;
};

// Delivers `count` books named by their number, a read error after every
// 1,000th, and then finishes; the number of books delivered when the
// exception came (-1: none came) and whether it came from Finish.
struct TDelivery {
  long delivered = -1;
  bool fromFinish = false;
};
TDelivery Deliver(TNotingSink& target, long count) {
  TBookSinkThread sink(target);
  TBOOK book;
  long k = 0;
  try {
    for (; k < count; ++k) {
      book.bookName = std::to_string(k);
      sink.appendBook(book, "f" + std::to_string(k));
      if (k % 1000 == 999) sink.readError();
    }
  } catch (const std::runtime_error&) {
    return {k, false};
  }
  try {
    sink.Finish();
  } catch (const std::runtime_error&) {
    return {k, true};
  }
  return {};
}

TEST(BookSinkThread, DeliversInOrderAndHandsBackTheTargetsFailure) {
  struct TCase {
    long books, failAt;
  };
  for (const TCase c : {TCase{0, 0}, TCase{1, 0}, TCase{100000, 0}, TCase{10, 5}, TCase{100000, 3},
                        TCase{100000, 60000}, TCase{100000, 100000}}) {
    SCOPED_TRACE(testing::Message() << c.books << " books, failing at " << c.failAt);
    TNotingSink target;
    target.failAt = c.failAt;
    const TDelivery d = Deliver(target, c.books);
    std::vector<std::string> want;
    const long kept = c.failAt > 0 ? c.failAt - 1 : c.books;
    for (long k = 0; k < kept; ++k) {
      want.push_back(std::to_string(k) + "/f" + std::to_string(k));
      if (k % 1000 == 999) want.push_back("E");
    }
    EXPECT_EQ(target.got, want) << "nothing after the failed book reaches the target";
    if (c.failAt == 0) {
      EXPECT_EQ(d.delivered, -1);
    } else {
      EXPECT_GE(d.delivered, c.failAt) << "the failure comes back after its book";
      // Two batches at most are waiting, so the reader learns of it soon.
      if (!d.fromFinish) {
        EXPECT_LT(d.delivered, c.failAt + 3 * 2048);
      }
    }
  }
}

TEST(BookSinkThread, AReadingThatEndsByAnExceptionDropsWhatIsWaiting) {
  TNotingSink target;
  {
    TBookSinkThread sink(target);
    TBOOK book;
    for (int k = 0; k < 50000; ++k) sink.appendBook(book, "f");
  }  // no Finish: the worker is joined without staging everything
  EXPECT_LE(target.got.size(), 50000u);
}

}  // namespace

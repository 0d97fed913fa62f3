#include "catalogue/BookSinkThread.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace catalogue {

namespace {

constexpr size_t kBatchEntries = 2048;

// A book, or a read error where `error` is set. Entries are reused from
// batch to batch, so their strings keep their storage.
struct TEntry {
  TBOOK book;
  AnsiString file;
  bool error = false;
};

struct TBatch {
  std::vector<TEntry> entries = std::vector<TEntry>(kBatchEntries);
  size_t used = 0;
};

}  // namespace

struct TBookSinkThread::Rep {
  explicit Rep(TBookSink& t) : target(t) {}

  TBookSink& target;
  TBatch filling;  // the reader's

  std::mutex mutex;
  std::condition_variable changed;
  TBatch handed;        // waiting for the worker when `full`
  bool full = false;
  bool closing = false;           // no batch follows
  std::exception_ptr failure;     // what the target raised
  std::atomic<bool> abandon{false};  // drop what is left

  std::thread worker;

  // The worker: takes each handed batch and gives its entries to the target.
  void Work() {
    TBatch working;
    for (;;) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return full || closing; });
        if (!full || abandon) return;
        std::swap(working, handed);
        full = false;
      }
      changed.notify_all();
      try {
        for (size_t i = 0; i < working.used && !abandon; ++i) {
          TEntry& e = working.entries[i];
          if (e.error)
            target.readError();
          else
            target.appendBook(e.book, e.file);
        }
      } catch (...) {
        {
          std::lock_guard lock(mutex);
          failure = std::current_exception();
        }
        changed.notify_all();
        return;
      }
      working.used = 0;
    }
  }

  // Hands the filled batch to the worker, waiting while the one before is
  // still waiting; raises the target's failure.
  void Hand() {
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return !full || failure; });
      if (failure) std::rethrow_exception(failure);
      std::swap(filling, handed);
      full = true;
    }
    changed.notify_all();
    filling.used = 0;
  }

  TEntry& Next() {
    if (!worker.joinable()) throw std::logic_error("TBookSinkThread used after Finish");
    if (filling.used == filling.entries.size()) Hand();
    return filling.entries[filling.used++];
  }

  void Stop() {
    {
      std::lock_guard lock(mutex);
      closing = true;
    }
    changed.notify_all();
    worker.join();
  }
};

TBookSinkThread::TBookSinkThread(TBookSink& target) : rep_(std::make_unique<Rep>(target)) {
  rep_->worker = std::thread([rep = rep_.get()] { rep->Work(); });
}

TBookSinkThread::~TBookSinkThread() {
  if (!rep_->worker.joinable()) return;
  rep_->abandon = true;
  rep_->Stop();
}

void TBookSinkThread::appendBook(const TBOOK& book, const AnsiString& file) {
  TEntry& e = rep_->Next();
  e.book = book;
  e.file = file;
  e.error = false;
}

void TBookSinkThread::readError() { rep_->Next().error = true; }

void TBookSinkThread::Finish() {
  if (!rep_->worker.joinable()) throw std::logic_error("TBookSinkThread::Finish twice");
  try {
    if (rep_->filling.used > 0) rep_->Hand();
  } catch (...) {
    rep_->Stop();
    throw;
  }
  rep_->Stop();
  if (rep_->failure) std::rethrow_exception(rep_->failure);
}

}  // namespace catalogue

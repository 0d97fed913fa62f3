// The table sort's key sorter: it holds (key, record number) pairs of one
// table and writes that table's records into another in key order.
//
// Not thread-safe; one sort uses it at a time.
#pragma once

#include <string>

#include "xbase/base/key_sorter.h"
#include "xbase/handler/table_handler.h"

namespace xbase {

class XBobjSortDB : public TxbSort {
 public:
  // A sorter of keys up to 240 bytes, equal keys kept, upwards or
  // downwards; runs spill into `tempDir` (the system's folder when empty).
  XBobjSortDB(bool ascending, const std::string& tempDir);

  // The table the keys come from and the one the records go to (not owned).
  void SetFiles(XBO_dBHandler* source, XBO_dBHandler* target);
  XBO_dBHandler* curFile() const { return curFile_; }
  XBO_dBHandler* newFile() const { return newFile_; }
  // Records written by OutputWord.
  int KeyCnt() const { return KeyCnt_; }

  // Reads each record the sorter holds, in key order, from curFile and
  // appends it with its memos to newFile (XBO_dBHandler::xbCopyRecord),
  // reporting each through curFile's xbStatusUpdate (2, 1, records done).
  void OutputWord();

 private:
  XBO_dBHandler* curFile_ = nullptr;
  XBO_dBHandler* newFile_ = nullptr;
  int KeyCnt_ = 0;
};

}  // namespace xbase

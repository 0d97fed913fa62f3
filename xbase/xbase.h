// The xBase engine.
//
// What this layer does: it reads and writes dBase, FoxPro and Clipper tables
// (.dbf) with their memo files (.dbt, .fpt) and index files (.ndx, .ntx,
// .mdx, .cdx, and indexes in memory), locks them for use by several
// programs at once, scrambles tables that have a password, evaluates the
// xBase expression language for keys and filters, and serves one table at
// a time through the table handler and the data-access dataset.
//
// What it relies on below: platform/ for every file-system call (TFile with
// its share and byte-range locks, TReplaceFile for whole-file rewrites, the
// one temporary-name maker), for code pages, the one ANSI case table, the
// fixed 1251 collation, locale-free numbers, the clock; dataaccess/ for the
// dataset framework. It knows nothing of the archiver, the catalogue or Qt.
//
// What it promises above:
//  - Engine text (field values, keys, expressions) is Windows-1251 bytes;
//    file names are UTF-8 paths. Nothing depends on the process locale.
//  - Every failure raises EXBaseError, EXBaseEncryption or EXBaseExpression
//    with a numbered message naming the file by its full path
//    (base/errors.h); the engine never shows a message itself.
//  - All file work goes through XBO_DiskFile (base/disk_file.h): a shared file
//    coordinates with other programs only through byte-range locks, which
//    belong to the open file; an exclusive file takes none. A file rewritten
//    whole is replaced only once the new one is complete.
//  - Index keys compare as unsigned bytes (TxbVariant::Compare), and bulk
//    index builds take their keys in order from the key sorter.
//  - The engine runs on its caller's thread and takes no locks inside the
//    process; an engine object has one user at a time.
//
// One folder per layer, lowest first; each folder's README.md says what
// the layer does, what it relies on and what it promises.
//
// The foundation every part of the engine builds on (base/):
//   base/errors.h              the three exception classes and the message table
//   base/scrambling.h          table scrambling by password
//   base/system.h              text services, soundex and wildcards
//   base/disk_file.h           XBO_DiskFile: the base of every engine file
//   base/variant.h             TxbVariant: every key and intermediate value
//   base/dates.h               TxbDBFDate: Julian day numbers and their text forms
//   base/utilities.h           TxbCollection, TxbHugeSet, Boyer-Moore, file names
//   base/key_sorter.h          TxbSort: keys in order for bulk index builds
//   base/byte_order.h          integers and doubles in the files' byte orders
//
// The expression language (expr/):
//   expr/expression.h          TxbExpHandler: compiled key, FOR and filter expressions,
//                              and the registries their names bind to
//   expr/functions.h           the expression function library (UPPER, STR, DTOS, ...)
//
// Tables and memo files (table/):
//   table/lock_protocols.h     the lock protocols' byte ranges
//   table/memo_files.h         XBobjMemo, XBobjMemo4, XBobjFXMemo20: .dbt and .fpt files
//   table/table_file.h         XBO_dBaseDBF: the table file, whole records
//   table/table_builders.h     XBO_DBFBuild and kin, CreateDBF: new empty tables
//   table/fields.h             XBO_dBaseFld: typed field access on the current record
//   table/field_names.h        the table's field variables and table-bound functions
//
// Indexes (index/):
//   index/index_framework.h    the framework every format shares: keys, pages, tags,
//                              index files, the index lock, the block cache
//   index/ndx_format.h         XBobjNDXFile, XBobjNDXTag: .ndx files
//
// The table handler (handler/):
//   handler/table_handler.h    XBO_dBHandler: a table with its index files, active
//                              order, record cache and filter, and its maintenance
//                              (copy, sort, pack, zap, password)
//   handler/table_sort.h       XBobjSortDB: the table sort's key sorter
//
// The dataset component and table creation (dataset/):
//   dataset/dataset.h          TXBaseDataSet: one table behind the data-access
//                              framework's dataset, with the xBase operations
//   dataset/create_table.h     CreateTableFromFieldList: a new table from field lines
//   dataset/aliases.h          the alias list: database names that stand for folders
//   dataset/dataset_handler.h  DBFObject, the handler that belongs to a dataset;
//                              THCBlobStream for memo and blob fields; the hooks the
//                              dataset implements for them (TXBaseDataSetBase)
#pragma once

#include "xbase/base/byte_order.h"
#include "xbase/base/dates.h"
#include "xbase/base/disk_file.h"
#include "xbase/base/errors.h"
#include "xbase/base/key_sorter.h"
#include "xbase/base/scrambling.h"
#include "xbase/base/system.h"
#include "xbase/base/utilities.h"
#include "xbase/base/variant.h"
#include "xbase/dataset/aliases.h"
#include "xbase/dataset/create_table.h"
#include "xbase/dataset/dataset.h"
#include "xbase/dataset/dataset_handler.h"
#include "xbase/expr/expression.h"
#include "xbase/expr/functions.h"
#include "xbase/handler/table_handler.h"
#include "xbase/handler/table_sort.h"
#include "xbase/index/index_framework.h"
#include "xbase/index/ndx_format.h"
#include "xbase/table/field_names.h"
#include "xbase/table/fields.h"
#include "xbase/table/lock_protocols.h"
#include "xbase/table/memo_files.h"
#include "xbase/table/table_builders.h"
#include "xbase/table/table_file.h"

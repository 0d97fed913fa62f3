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
//    (xb_error.h); the engine never shows a message itself.
//  - All file work goes through XBO_DiskFile (xb_disk.h): a shared file
//    coordinates with other programs only through byte-range locks, which
//    belong to the open file; an exclusive file takes none. A file rewritten
//    whole is replaced only once the new one is complete.
//  - Index keys compare as unsigned bytes (TxbVariant::Compare), and bulk
//    index builds take their keys in order from the key sorter.
//  - The engine runs on its caller's thread and takes no locks inside the
//    process; an engine object has one user at a time.
//
// The foundation every part of the engine builds on:
//   xb_error.h    the three exception classes and the message table
//   xb_crypt.h    table scrambling by password
//   SysHalc.h     text services, soundex and wildcards
//   xb_disk.h     XBO_DiskFile: the base of every engine file
//   xb_variant.h  TxbVariant: every key and intermediate value
//   xb_date.h     TxbDBFDate: Julian day numbers and their text forms
//   xb_util.h     TxbCollection, TxbHugeSet, Boyer-Moore, file names
//   xb_sort.h     TxbSort: keys in order for bulk index builds
//   xb_exp.h      TxbExpHandler: compiled key, FOR and filter expressions,
//                 and the registries their names bind to
//   xb_expfn.h    the expression function library (UPPER, STR, DTOS, ...)
//   xb_bytes.h    integers and doubles in the files' byte orders
//
// Tables and memo files:
//   xb_lock.h     the lock protocols' byte ranges
//   xb_memo.h     XBobjMemo, XBobjMemo4, XBobjFXMemo20: .dbt and .fpt files
//   xb_dbf.h      XBO_dBaseDBF: the table file, whole records
//   xb_build.h    XBO_DBFBuild and kin, CreateDBF: new empty tables
//   xb_fld.h      XBO_dBaseFld: typed field access on the current record
//   xb_fldexp.h   the table's field variables and table-bound functions
//
// Indexes:
//   xb_indx.h     the framework every format shares: keys, pages, tags,
//                 index files, the index lock, the block cache
//   xb_ndx.h      XBobjNDXFile, XBobjNDXTag: .ndx files
//
// The table handler:
//   xb_dbsy.h     XBO_dBHandler: a table with its index files, active
//                 order, record cache and filter, and its maintenance
//                 (copy, sort, pack, zap, password)
//   xb_dbsort.h   XBobjSortDB: the table sort's key sorter
//
// The dataset component and table creation:
//   xb_dataset.h  TXBaseDataSet: one table behind the data-access
//                 framework's dataset, with the xBase operations
//   xb_create.h   CreateTableFromFieldList: a new table from field lines
//   xb_alias.h    the alias list: database names that stand for folders
//   xb_dsobj.h    DBFObject, the handler that belongs to a dataset;
//                 THCBlobStream for memo and blob fields; the hooks the
//                 dataset implements for them (TXBaseDataSetBase)
#pragma once

#include "xbase/SysHalc.h"
#include "xbase/xb_alias.h"
#include "xbase/xb_build.h"
#include "xbase/xb_bytes.h"
#include "xbase/xb_create.h"
#include "xbase/xb_crypt.h"
#include "xbase/xb_dataset.h"
#include "xbase/xb_date.h"
#include "xbase/xb_dbf.h"
#include "xbase/xb_dbsort.h"
#include "xbase/xb_dbsy.h"
#include "xbase/xb_dsobj.h"
#include "xbase/xb_disk.h"
#include "xbase/xb_error.h"
#include "xbase/xb_exp.h"
#include "xbase/xb_expfn.h"
#include "xbase/xb_fld.h"
#include "xbase/xb_fldexp.h"
#include "xbase/xb_indx.h"
#include "xbase/xb_lock.h"
#include "xbase/xb_memo.h"
#include "xbase/xb_ndx.h"
#include "xbase/xb_sort.h"
#include "xbase/xb_util.h"
#include "xbase/xb_variant.h"

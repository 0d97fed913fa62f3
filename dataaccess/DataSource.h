// Data sources and data links: how one party learns what happens to a
// dataset it does not own.
//
// A TDataSource stands for one dataset (borrowed); TDataLink objects attach
// to a data source and receive the dataset's events through their virtual
// hooks. TMasterDataLink is the link a detail dataset keeps to its master:
// it knows the master's key fields and calls the detail's handlers when the
// master's record or state changes.
//
// Lifetimes are independent: destroying a dataset, a data source or a link
// detaches it from the others. Everything runs on the datasets' thread.
#pragma once

#include <functional>
#include <vector>

#include "dataaccess/DBValues.h"

namespace dataaccess {

class TDataSet;
class TDataSource;
class TField;

// What happened to a dataset (TDataSet::DataEvent).
enum TDataEvent {
  deFieldChange,     // a field of the current record changed (the field is passed)
  deRecordChange,    // the current record's values changed as a whole
  deDataSetChange,   // the record buffers were filled anew
  deDataSetScroll,   // the dataset moved to another record
  deUpdateState,     // the state changed (opened, closed, edit, insert, ...)
  dePropertyChange,  // a property that defines the cursor changed
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  // Attaches the link to `source` (nullptr detaches it).
  virtual void SetDataSource(TDataSource* source);
  // The data source's dataset, or nullptr.
  TDataSet* DataSet() const;
  // The data source has a dataset and it is open.
  bool Active() const { return active_; }

  // Delivery of the dataset's events; called by the data source.
  void DataEvent(TDataEvent event, TField* field);

 protected:
  // Active() changed.
  virtual void ActiveChanged() {}
  // The dataset was refilled; by default RecordChanged(nullptr).
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  // The dataset moved; by default DataSetChanged().
  virtual void DataSetScrolled() { DataSetChanged(); }
  // `field` of the current record changed, or the whole record (nullptr).
  virtual void RecordChanged(TField*) {}

 private:
  void UpdateActive();

  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
};

class TDataSource {
 public:
  // Detaches the dataset and every link.
  TDataSource() = default;
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  // Raises EDatabaseError SCircularDataLink when a detail linked through
  // this source would become its own master.
  void SetDataSet(TDataSet* dataSet);

  // --- Bookkeeping between sources, links and datasets ------------------------
  // Called by TDataLink::SetDataSource.
  void AddDataLink(TDataLink& link);
  void RemoveDataLink(TDataLink& link);
  // Called by the dataset: passes the event to every link.
  void DataEvent(TDataEvent event, TField* field);

 private:
  TDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
};

class TMasterDataLink : public TDataLink {
 public:
  // `detail` is the dataset that keeps this link (borrowed).
  explicit TMasterDataLink(TDataSet& detail) : detail_(detail) {}
  TDataSet& Detail() const { return detail_; }

  // Raises EDatabaseError SCircularDataLink when the new master is the
  // detail itself or is, through its own masters, linked to it.
  void SetDataSource(TDataSource* source) override;
  // The master's key fields, separated by ";".
  const AnsiString& FieldNames() const { return fieldNames_; }
  void SetFieldNames(const AnsiString& v);
  // The master's fields named by FieldNames, in order; empty while the
  // link is inactive.
  const std::vector<TField*>& Fields() const { return fields_; }

  // The detail's handlers: OnMasterChange when the master has moved, was
  // refilled or changed a key field (not in its set-key state) and when
  // the link becomes active with key fields; OnMasterDisable when it
  // becomes inactive or has no key fields. Neither runs while the detail
  // is closed (it applies the link when it opens).
  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void RecordChanged(TField* field) override;

 private:
  TDataSet& detail_;
  AnsiString fieldNames_;
  std::vector<TField*> fields_;
};

}  // namespace dataaccess

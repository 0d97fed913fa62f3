#include "dataaccess/DataSource.h"

#include <algorithm>

#include "dataaccess/DataSet.h"

namespace dataaccess {

namespace {

// True when `master`, or a master it is linked to in turn, is `detail`.
bool LeadsTo(TDataSet* master, const TDataSet& detail) {
  for (int guard = 0; master && guard < 1000; ++guard) {
    if (master == &detail) return true;
    TDataSource* source = master->DataSource();
    master = source ? source->DataSet() : nullptr;
  }
  return master != nullptr;  // a chain that long is a loop elsewhere
}

}  // namespace

// --- TDataLink --------------------------------------------------------------------

TDataLink::~TDataLink() {
  if (dataSource_) dataSource_->RemoveDataLink(*this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_) dataSource_->RemoveDataLink(*this);
  dataSource_ = source;
  if (dataSource_) dataSource_->AddDataLink(*this);
  UpdateActive();
}

TDataSet* TDataLink::DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }

void TDataLink::UpdateActive() {
  const bool active = DataSet() && DataSet()->Active();
  if (active == active_) return;
  active_ = active;
  ActiveChanged();
}

void TDataLink::DataEvent(TDataEvent event, TField* field) {
  if (event == deUpdateState) {
    UpdateActive();
    return;
  }
  if (!active_) return;
  switch (event) {
    case deDataSetChange: DataSetChanged(); break;
    case deDataSetScroll: DataSetScrolled(); break;
    case deRecordChange: RecordChanged(nullptr); break;
    case deFieldChange: RecordChanged(field); break;
    default: break;
  }
}

// --- TDataSource ------------------------------------------------------------------

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* l : links) l->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  for (TDataLink* l : links_)
    if (auto* m = dynamic_cast<TMasterDataLink*>(l); m && dataSet && LeadsTo(dataSet, m->Detail()))
      DatabaseError(SCircularDataLink);
  if (dataSet_) dataSet_->RemoveDataSource(*this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddDataSource(*this);
  DataEvent(deUpdateState, nullptr);
}

void TDataSource::AddDataLink(TDataLink& link) {
  if (std::find(links_.begin(), links_.end(), &link) == links_.end()) links_.push_back(&link);
}

void TDataSource::RemoveDataLink(TDataLink& link) {
  links_.erase(std::remove(links_.begin(), links_.end(), &link), links_.end());
}

void TDataSource::DataEvent(TDataEvent event, TField* field) {
  // A handler may attach or detach links.
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* l : links)
    if (std::find(links_.begin(), links_.end(), l) != links_.end()) l->DataEvent(event, field);
}

// --- TMasterDataLink --------------------------------------------------------------

void TMasterDataLink::SetDataSource(TDataSource* source) {
  if (source && LeadsTo(source->DataSet(), detail_)) DatabaseError(SCircularDataLink);
  TDataLink::SetDataSource(source);
}

void TMasterDataLink::SetFieldNames(const AnsiString& v) {
  if (v == fieldNames_) return;
  fieldNames_ = v;
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) fields_ = DataSet()->GetFieldList(fieldNames_);
  if (!detail_.Active()) return;
  if (Active() && !fields_.empty()) {
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (!detail_.Active() || !OnMasterChange || DataSet()->State() == dsSetKey) return;
  if (field && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
  OnMasterChange();
}

}  // namespace dataaccess

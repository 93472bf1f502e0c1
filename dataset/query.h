// TQuery, TParams and TParam exist so that forms holding them load: a query never opens ("Error
// creating cursor handle"), its parameters are always empty, and their stored "Data" is checked and
// dropped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/data/data_link.h"
#include "classlib/data/streams.h"
#include "classlib/data/string_list.h"
#include "dataset/db_data_set.h"

namespace kavrin::dataset {

class TParam {
 public:
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
};

class TParams {
 public:
  int Count() const { return 0; }
  void AddParam(TParam*) {}
  void RemoveParam(TParam*) {}
  void Clear() {}
  // Reads the binary form property "Data" from the stream's position: every length is checked against
  // the bytes left ("Unable to load bind parameters"); a bound parameter cannot be loaded ("Field '%s'
  // is of unknown type"). Nothing read is kept.
  void ReadData(classlib::TStream& stream);
};

// Ignores every notification of the query's data source.
class TQueryDataLink : public classlib::TDataLink {};

class TQuery : public TDBDataSet {
 public:
  explicit TQuery(classlib::TComponent* owner = nullptr) : TDBDataSet(owner) {}
  ~TQuery() override;

  classlib::TStringList& SQL() { return sql_; }
  void SetSQL(const classlib::TStringList&) {}
  TParams& Params() { return params_; }
  void SetParams(const TParams&) {}
  classlib::TDataSource* DataSource() const { return nullptr; }
  void SetDataSource(classlib::TDataSource*) {}
  bool RequestLive() const { return requestLive_; }
  void SetRequestLive(bool live) { requestLive_ = live; }
  bool ParamCheck() const { return paramCheck_; }
  void SetParamCheck(bool check) { paramCheck_ = check; }
  void Prepare() {}
  void UnPrepare() {}

  // The binary form property "Data": kept whole when a form is read, written back unchanged.
  void ReadBinaryData(classlib::TStream& stream);
  void WriteBinaryData(classlib::TStream& stream) const;
  bool HasBinaryData() const { return hasData_; }

 private:
  classlib::TStringList sql_;
  TParams params_;
  TQueryDataLink dataLink_;
  bool requestLive_ = false;
  bool paramCheck_ = true;
  std::vector<std::uint8_t> data_;
  bool hasData_ = false;
};

}  // namespace kavrin::dataset

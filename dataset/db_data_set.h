// TDBDataSet: a dataset on a database of a session; the database is found or made on open and left
// on close.
#pragma once

#include <string>

#include "classlib/data/data_set.h"
#include "classlib/data/session.h"

namespace kavrin::dataset {

enum class TUpdateMode { upWhereAll, upWhereChanged, upWhereKeyOnly };

class TDBDataSet : public classlib::TDataSet {
 public:
  explicit TDBDataSet(classlib::TComponent* owner = nullptr) : TDataSet(owner) {}
  ~TDBDataSet() override;

  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(std::string name);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(std::string name);
  TUpdateMode UpdateMode() const { return updateMode_; }
  void SetUpdateMode(TUpdateMode mode) { updateMode_ = mode; }
  // The database while open, else null.
  classlib::TDatabase* Database() const { return database_; }
  // "Invalid session name %s" for an unknown name; the default session for an empty one.
  classlib::TSession& DBSession() const;

 protected:
  void OpenCursor(bool infoQuery) override;
  void CloseCursor() override;
  // Runs work with the database of this dataset, connected for the time of the call when closed.
  template <class Work>
  void WithDatabase(Work work) {
    if (database_) {
      work(*database_);
      return;
    }
    classlib::TSession& session = DBSession();
    classlib::TDatabase* database = session.OpenDatabase(databaseName_);
    try {
      work(*database);
    } catch (...) {
      session.CloseDatabase(database);
      throw;
    }
    session.CloseDatabase(database);
  }

 private:
  std::string databaseName_;
  std::string sessionName_;
  TUpdateMode updateMode_ = TUpdateMode::upWhereAll;
  classlib::TDatabase* database_ = nullptr;
};

}  // namespace kavrin::dataset

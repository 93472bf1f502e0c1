#include "dataset/db_data_set.h"

namespace kavrin::dataset {

using classlib::DatabaseError;
using classlib::FormatMessage;

TDBDataSet::~TDBDataSet() {
  // Closed here, while this class's close still runs, so the database is left as it should be.
  try {
    Close();
  } catch (...) {
    try {
      CloseWithoutWriting();
    } catch (...) {
    }
  }
}

void TDBDataSet::SetDatabaseName(std::string name) {
  CheckInactive();
  if (name == databaseName_) return;
  databaseName_ = std::move(name);
  DataEvent(classlib::TDataEvent::dePropertyChange, 0);
}

void TDBDataSet::SetSessionName(std::string name) {
  CheckInactive();
  sessionName_ = std::move(name);
  DataEvent(classlib::TDataEvent::dePropertyChange, 0);
}

classlib::TSession& TDBDataSet::DBSession() const {
  classlib::TSession* session = classlib::Sessions().FindSession(sessionName_);
  if (!session) DatabaseError(FormatMessage("Invalid session name %s", {sessionName_}));
  return *session;
}

void TDBDataSet::OpenCursor(bool infoQuery) {
  classlib::TSession& session = DBSession();
  database_ = session.OpenDatabase(databaseName_);
  database_->AddDataSet(this);
  try {
    TDataSet::OpenCursor(infoQuery);
  } catch (...) {
    TDataSet::CloseCursor();
    database_->RemoveDataSet(this);
    session.CloseDatabase(database_);
    database_ = nullptr;
    throw;
  }
}

void TDBDataSet::CloseCursor() {
  TDataSet::CloseCursor();
  if (!database_) return;
  classlib::TDatabase* database = database_;
  database_ = nullptr;
  database->RemoveDataSet(this);
  if (classlib::TSession* session = database->Session()) session->CloseDatabase(database);
}

}  // namespace kavrin::dataset

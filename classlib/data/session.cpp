#include "classlib/data/session.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "classlib/data/data_set.h"
#include "classlib/data/exceptions.h"
#include "classlib/data/text_compare.h"
#include "engine/data_file.h"
#include "engine/password_list.h"
#include "runtime/code_pages.h"
#include "runtime/conversions.h"

namespace kavrin::classlib {
namespace {

std::unique_ptr<TSessionList>& SessionListSlot() {
  static std::unique_ptr<TSessionList> list;
  return list;
}

std::function<bool(TSession&)>& PasswordDialog() {
  static std::function<bool(TSession&)> dialog;
  return dialog;
}

// The list being built: sessions created while it starts join it without recursion.
TSessionList* building = nullptr;

TSessionList* CurrentList() { return building ? building : SessionListSlot().get(); }

constexpr std::size_t kPasswordLimit = 255;

}  // namespace

TSessionList& Sessions() {
  if (!SessionListSlot()) SessionListSlot() = std::make_unique<TSessionList>();
  return *SessionListSlot();
}

TSession& Session() { return Sessions().DefaultSession(); }

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = AsciiUpper(c);
  return text;
}

// Sessions have one lock for all of them; the programs run one thread, so it only has to nest.
class TSessionLock {
 public:
  explicit TSessionLock(TSession& session) {
    if (depth_++ == 0) session.MakeCurrent();
  }
  ~TSessionLock() { --depth_; }
  TSessionLock(const TSessionLock&) = delete;
  TSessionLock& operator=(const TSessionLock&) = delete;

 private:
  static inline int depth_ = 0;
};

}  // namespace

void DBFinalization() { SessionListSlot().reset(); }

void SetPasswordDialog(std::function<bool(TSession&)> dialog) { PasswordDialog() = std::move(dialog); }

TSessionList::TSessionList() {
  building = this;
  try {
    default_ = new TSession();
    default_->isDefault_ = true;
    default_->sessionName_ = "Default";
  } catch (...) {
    building = nullptr;
    throw;
  }
  building = nullptr;
}

TSessionList::~TSessionList() {
  // Sessions freed from here no longer find the list, so they are taken out of it first.
  std::vector<TSession*> sessions = std::move(sessions_);
  sessions_.clear();
  for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) delete *it;
}

TSession* TSessionList::FindSession(std::string_view name) const {
  if (name.empty()) return default_;
  for (TSession* session : sessions_) {
    if (SameText(session->SessionName(), name)) return session;
  }
  return nullptr;
}

// --- TSession ------------------------------------------------------------------------------------

TSession::TSession(TComponent* owner) : TComponent(owner) {
  TSessionList* list = CurrentList();
  if (!list) list = &Sessions();
  list->sessions_.push_back(this);
}

TSession::~TSession() {
  MarkDestroying();
  for (TDatabase* database : std::vector<TDatabase*>(databases_)) {
    try {
      database->Close();
    } catch (...) {
    }
    database->session_ = nullptr;
  }
  databases_.clear();
  // The databases this session owns go now, while the session is whole.
  DestroyComponents();
  if (TSessionList* list = CurrentList()) {
    auto found = std::find(list->sessions_.begin(), list->sessions_.end(), this);
    if (found != list->sessions_.end()) list->sessions_.erase(found);
    if (list->default_ == this) list->default_ = nullptr;
    if (list->current_ == this) list->current_ = nullptr;
  }
}

void TSession::SetSessionName(std::string name) {
  if (Active()) DatabaseError("Cannot perform this operation on an active session");
  if (TSessionList* list = CurrentList()) {
    for (TSession* other : list->sessions_) {
      if (other != this && SameText(other->sessionName_, name)) {
        DatabaseError(FormatMessage("Duplicate session name '%s'", {name}));
      }
    }
  }
  sessionName_ = std::move(name);
}

void TSession::SetActive(bool active) {
  if (Loading()) return;
  if (active || Active()) StartSession(active);
}

void TSession::MakeCurrent() {
  if (handle_) {
    if (TSessionList* list = CurrentList()) list->current_ = this;
  } else {
    SetActive(true);
  }
}

std::string TSession::NetFileDir() const { return Upper(netFileDir_); }
std::string TSession::PrivateDir() const { return Upper(privateDir_); }

void TSession::SetNetFileDir(std::string directory) {
  if (Active() && !directory.empty() && ::chdir(directory.c_str()) != 0) {
    const int error = errno;
    throw EInOutError(std::string("I/O error ") + std::to_string(error) + ": " + std::strerror(error), error);
  }
  netFileDir_ = std::move(directory);
}

void TSession::StartSession(bool start) {
  TSessionList* list = CurrentList();
  if (start) {
    if (OnStartup) OnStartup(*this);
    if (sessionName_.empty()) DatabaseError("Session name missing");
    if (!isDefault_ && list && list->default_) list->default_->SetActive(true);
    if (!isDefault_) handle_ = this;
    if (list) list->current_ = this;
    try {
      if (!netFileDir_.empty()) SetNetFileDir(netFileDir_);
      if (!privateDir_.empty()) SetPrivateDir(privateDir_);
    } catch (...) {
      StartSession(false);
      throw;
    }
    return;
  }
  if (list) list->current_ = this;
  const std::vector<TDatabase*> databases = databases_;
  for (auto it = databases.rbegin(); it != databases.rend(); ++it) {
    if (std::find(databases_.begin(), databases_.end(), *it) == databases_.end()) continue;
    if ((*it)->Temporary()) {
      delete *it;
    } else {
      (*it)->Close();
    }
  }
  if (!isDefault_ && list && list->default_) list->current_ = list->default_;
  handle_ = nullptr;
}

TDatabase* TSession::FindDatabase(std::string_view name) const {
  for (TDatabase* database : databases_) {
    if (SameText(database->DatabaseName(), name)) return database;
  }
  return nullptr;
}

TDatabase* TSession::OpenDatabase(std::string_view name) {
  TDatabase* database = FindDatabase(name);
  if (!database) {
    database = new TDatabase(this);
    database->SetTemporary(true);
    database->SetKeepConnection(false);
    try {
      database->SetDatabaseName(std::string(name));
    } catch (...) {
      delete database;
      throw;
    }
  }
  database->Open();
  return database;
}

void TSession::CloseDatabase(TDatabase* database) {
  if (!database || database->DataSetCount() > 0 || database->Closing()) return;
  if (database->Temporary() && !database->KeepConnection()) delete database;
}

void TSession::RemoveDatabase(TDatabase* database) {
  auto found = std::find(databases_.begin(), databases_.end(), database);
  if (found != databases_.end()) databases_.erase(found);
}

void TSession::AddPassword(std::string_view password) {
  if (password.empty()) return;
  // Table passwords are stored in Windows-1252; the text is never quoted in the refusal.
  const std::string stored = runtime::Utf8ToDescriptorText(password, "The password", false);
  TSessionLock lock(*this);
  engine::TablePasswords().Add(std::string_view(stored).substr(0, kPasswordLimit));
}

void TSession::RemovePassword(std::string_view password) {
  if (password.empty()) return;
  std::string stored;
  try {
    stored = runtime::Utf8ToDescriptorText(password, "The password", false);
  } catch (const runtime::EConvertError&) {
    return;  // a password Windows-1252 cannot hold was never added
  }
  TSessionLock lock(*this);
  engine::TablePasswords().Remove(std::string_view(stored).substr(0, kPasswordLimit));
}

void TSession::RemoveAllPasswords() {
  TSessionLock lock(*this);
  engine::TablePasswords().Clear();
}

bool TSession::AskPassword() {
  if (OnPassword) {
    bool continueOpen = false;
    OnPassword(*this, continueOpen);
    return continueOpen;
  }
  return PasswordDialog() ? PasswordDialog()(*this) : false;
}

// --- TDatabase -----------------------------------------------------------------------------------

TDatabase::TDatabase(TComponent* owner) : TComponent(owner) {
  auto* session = dynamic_cast<TSession*>(owner);
  session_ = session ? session : &Sessions().DefaultSession();
  session_->AddDatabase(this);
}

TDatabase::~TDatabase() {
  MarkDestroying();
  try {
    Close();
  } catch (...) {
  }
  for (TDataSet* dataSet : std::vector<TDataSet*>(dataSets_)) RemoveDataSet(dataSet);
  if (session_) session_->RemoveDatabase(this);
}

void TDatabase::SetDatabaseName(std::string name) {
  if (connected_) DatabaseError("Cannot perform this operation on an open database");
  if (session_) {
    TDatabase* other = session_->FindDatabase(name);
    if (other && other != this) DatabaseError(FormatMessage("Duplicate database name '%s'", {name}));
  }
  databaseName_ = std::move(name);
}

void TDatabase::SetSessionName(std::string name) {
  CheckInactive();
  sessionName_ = std::move(name);
}

void TDatabase::CheckActive() const {
  if (!connected_) DatabaseError("Cannot perform this operation on a closed database");
}

void TDatabase::CheckInactive() const {
  if (connected_) DatabaseError("Cannot perform this operation on an open database");
}

void TDatabase::SetParams(const TStringList& params) {
  CheckInactive();
  params_.Assign(params);
}

void TDatabase::Open() {
  if (connected_) return;
  if (databaseName_.empty() && !temporary_) DatabaseError("Database name missing");
  // Without a session name the database stays in the session that made it.
  TSession* target = sessionName_.empty() && session_ ? session_ : Sessions().FindSession(sessionName_);
  if (!target) DatabaseError(FormatMessage("Invalid session name %s", {sessionName_}));
  if (target != session_) {
    TDatabase* other = target->FindDatabase(databaseName_);
    if (other && other != this) DatabaseError(FormatMessage("Duplicate database name '%s'", {databaseName_}));
    if (session_) session_->RemoveDatabase(this);
    session_ = target;
    target->AddDatabase(this);
  }
  target->SetActive(true);
  connected_ = true;
}

void TDatabase::StartTransaction() {
  CheckActive();
  if (inTransaction_) DatabaseError(FormatMessage("Database %s already has an active transaction", {databaseName_}));
  std::vector<TDataSet*> started;
  try {
    for (TDataSet* dataSet : dataSets_) {
      if (!dataSet->Handle()) continue;
      dataSet->Handle()->StartTransaction();
      started.push_back(dataSet);
    }
  } catch (...) {
    // The ones already started go back, so no cursor is left in a transaction nobody will end.
    for (auto it = started.rbegin(); it != started.rend(); ++it) {
      try {
        (*it)->Handle()->Rollback();
      } catch (...) {
      }
    }
    throw;
  }
  transactionSets_ = std::move(started);
  inTransaction_ = true;
}

void TDatabase::Commit() {
  CheckActive();
  EndTransaction(true);
}

void TDatabase::Rollback() {
  CheckActive();
  EndTransaction(false);
}

void TDatabase::EndTransaction(bool commit) {
  if (!inTransaction_) DatabaseError(FormatMessage("Database %s has no active transaction", {databaseName_}));
  const std::vector<TDataSet*> sets = transactionSets_;
  auto inList = [&](TDataSet* dataSet) {
    return std::find(dataSets_.begin(), dataSets_.end(), dataSet) != dataSets_.end() && dataSet->Handle();
  };
  for (TDataSet* dataSet : sets) {
    if (!inList(dataSet)) continue;
    if (commit) {
      dataSet->CheckBrowseMode();
      dataSet->Handle()->Commit();
    } else {
      dataSet->Cancel();
      dataSet->Handle()->Rollback();
      dataSet->Refresh();
    }
  }
  transactionSets_.clear();
  inTransaction_ = false;
}

void TDatabase::Close() {
  if (!connected_) return;
  closing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{closing_};
  for (auto it = dataSets_.rbegin(); it != dataSets_.rend(); it = dataSets_.rbegin()) {
    TDataSet* dataSet = *it;
    try {
      dataSet->Close();
    } catch (...) {
      // A database being freed lets go of a dataset that cannot write, which would otherwise outlive it
      // pointing here; an explicit close reports the failure with the dataset still open.
      if (!Destroying()) throw;
      dataSet->CloseWithoutWriting();
    }
    // A dataset that stayed in the list after closing would be closed forever.
    RemoveDataSet(dataSet);
    if (dataSets_.empty()) break;
  }
  connected_ = false;
  inTransaction_ = false;
  transactionSets_.clear();
}

std::string TDatabase::GetDirectory() const {
  if (databaseName_.empty() || databaseName_.find_first_of("/:\\") != std::string::npos) return databaseName_;
  for (int i = 0; i < params_.Count(); ++i) {
    const std::string& line = params_[i];
    std::string upper = line;
    for (char& c : upper) c = AsciiUpper(c);
    const std::size_t at = upper.find("PATH=");
    if (at != std::string::npos) return line.substr(at + 5);
  }
  return {};
}

void TDatabase::AddDataSet(TDataSet* dataSet) {
  if (std::find(dataSets_.begin(), dataSets_.end(), dataSet) == dataSets_.end()) dataSets_.push_back(dataSet);
}

void TDatabase::RemoveDataSet(TDataSet* dataSet) {
  auto found = std::find(dataSets_.begin(), dataSets_.end(), dataSet);
  if (found != dataSets_.end()) dataSets_.erase(found);
  auto inTransaction = std::find(transactionSets_.begin(), transactionSets_.end(), dataSet);
  if (inTransaction != transactionSets_.end()) transactionSets_.erase(inTransaction);
}

}  // namespace kavrin::classlib

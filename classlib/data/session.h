// TSession and TDatabase as the engine needs them: a database is a directory, a session a named set of
// databases whose password methods feed the engine's process-wide password list. The session list, with
// the default session "Default", lives from its first use to DBFinalization.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/data/component.h"
#include "classlib/data/string_list.h"

namespace kavrin::engine {
class TDataFile;
}

namespace kavrin::classlib {

class TDataSet;
class TDatabase;

class TSession : public TComponent {
 public:
  using TPasswordEvent = std::function<void(TSession&, bool& continueOpen)>;
  using TSessionEvent = std::function<void(TSession&)>;

  explicit TSession(TComponent* owner = nullptr);
  ~TSession() override;

  const std::string& SessionName() const { return sessionName_; }
  // "Duplicate session name '%s'" when another session has it.
  void SetSessionName(std::string name);
  bool IsDefault() const { return isDefault_; }

  // A session is active while it has a handle; the default session never keeps one, so each activation
  // of it runs the start steps again.
  bool Active() const { return handle_ != nullptr; }
  void SetActive(bool active);
  // Starts (OnStartup, name check, default session first, directories applied) or stops (databases
  // freed or closed, last first) the session.
  void StartSession(bool start);
  void MakeCurrent();
  // Stored as given; read upper-cased. Setting NetFileDir on an active session changes the process's
  // current directory ("I/O error" EInOutError when it cannot).
  std::string NetFileDir() const;
  void SetNetFileDir(std::string directory);
  std::string PrivateDir() const;
  void SetPrivateDir(std::string directory) { privateDir_ = std::move(directory); }
  bool KeepConnections() const { return keepConnections_; }
  void SetKeepConnections(bool keep) { keepConnections_ = keep; }

  int DatabaseCount() const { return static_cast<int>(databases_.size()); }
  TDatabase* Databases(int index) const { return databases_.at(static_cast<std::size_t>(index)); }
  // Without regard to case; null when none has the name.
  TDatabase* FindDatabase(std::string_view name) const;
  // The named database, made as a temporary one when the session has none, and connected.
  TDatabase* OpenDatabase(std::string_view name);
  // A temporary database that no dataset uses any more is freed unless it keeps its connection.
  void CloseDatabase(TDatabase* database);

  // The engine's password list: an empty password changes nothing.
  void AddPassword(std::string_view password);
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();
  // The callback the engine calls while a table's password is unknown: true to try again. OnPassword
  // when set, else the password dialog.
  bool AskPassword();
  // AskPassword as a cursor's password handler, for programs that call the engine directly.
  std::function<bool(engine::TDataFile&)> PasswordHandler() {
    return [this](engine::TDataFile&) { return AskPassword(); };
  }

  TPasswordEvent OnPassword;
  TSessionEvent OnStartup;

 private:
  friend class TDatabase;
  friend class TSessionList;
  void AddDatabase(TDatabase* database) { databases_.push_back(database); }
  void RemoveDatabase(TDatabase* database);

  std::string sessionName_;
  bool isDefault_ = false;
  TSession* handle_ = nullptr;
  std::string netFileDir_;
  std::string privateDir_;
  bool keepConnections_ = true;
  std::vector<TDatabase*> databases_;
};

enum class TTransIsolation { tiDirtyRead, tiReadCommitted, tiRepeatableRead };

class TDatabase : public TComponent {
 public:
  // Joins the owner when that is a session, else the default session.
  explicit TDatabase(TComponent* owner = nullptr);
  ~TDatabase() override;

  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(std::string name);
  // The session the database moves to when it connects; empty for the default session.
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(std::string name);
  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool prompt) { loginPrompt_ = prompt; }
  TTransIsolation TransIsolation() const { return transIsolation_; }
  void SetTransIsolation(TTransIsolation isolation) { transIsolation_ = isolation; }
  TStringList& Params() { return params_; }
  const TStringList& Params() const { return params_; }
  bool Connected() const { return connected_; }
  void SetConnected(bool connected) { connected ? Open() : Close(); }
  // "Database name missing" without a name (unless temporary); moves to the session named by
  // SessionName ("Invalid session name %s" when none has it) and activates it. Touches no file.
  void Open();
  // Closes every dataset of the database, last first.
  void Close();
  // "Cannot perform this operation on a closed database" / "... on an open database".
  void CheckActive() const;
  void CheckInactive() const;
  // "Params" edited through this call: refused while connected.
  void SetParams(const TStringList& params);

  // One transaction over the engine cursors of the datasets open on the database. A start that fails
  // on one dataset rolls back those it already started, and the database stays out of a transaction.
  bool InTransaction() const { return inTransaction_; }
  void StartTransaction();
  // Posts or cancels pending edits, then commits each cursor.
  void Commit();
  // Cancels pending edits, rolls each cursor back and re-reads each dataset's window.
  void Rollback();
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool temporary) { temporary_ = temporary; }
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool keep) { keepConnection_ = keep; }
  TSession* Session() const { return session_; }
  // Set while Close closes the datasets, so that none of them frees the database under it.
  bool Closing() const { return closing_; }

  // The directory that holds the database's tables: the name itself when it is a directory name
  // (empty, or holding "/", ":" or "\"), else the text after "PATH=" in the first parameter line that
  // holds it, else empty (the current directory).
  std::string GetDirectory() const;

  int DataSetCount() const { return static_cast<int>(dataSets_.size()); }
  TDataSet* DataSets(int index) const { return dataSets_.at(static_cast<std::size_t>(index)); }
  void AddDataSet(TDataSet* dataSet);
  void RemoveDataSet(TDataSet* dataSet);

 private:
  void EndTransaction(bool commit);

  std::string databaseName_;
  std::string sessionName_;
  TStringList params_;
  bool connected_ = false;
  bool inTransaction_ = false;
  bool loginPrompt_ = true;
  TTransIsolation transIsolation_ = TTransIsolation::tiReadCommitted;
  // Datasets in the transaction: those open on the database when it started.
  std::vector<TDataSet*> transactionSets_;
  bool closing_ = false;
  bool temporary_ = false;
  bool keepConnection_ = true;
  TSession* session_ = nullptr;
  std::vector<TDataSet*> dataSets_;
  friend class TSession;
};

class TSessionList {
 public:
  TSessionList();
  ~TSessionList();
  int Count() const { return static_cast<int>(sessions_.size()); }
  TSession* Sessions(int index) const { return sessions_.at(static_cast<std::size_t>(index)); }
  TSession* FindSession(std::string_view name) const;
  TSession& DefaultSession() const { return *default_; }
  // The session made current last (MakeCurrent, StartSession); the default session at first.
  TSession& CurrentSession() const { return current_ ? *current_ : *default_; }
  void SetCurrentSession(TSession* session) { current_ = session; }

 private:
  friend class TSession;
  std::vector<TSession*> sessions_;
  TSession* default_ = nullptr;
  TSession* current_ = nullptr;
};

// The process-wide list, made with the default session on first use.
TSessionList& Sessions();
TSession& Session();
// Frees the session list and its sessions; nothing else is shut down.
void DBFinalization();

// The password dialog of the desktop layer: asks for passwords, adds them to the session and answers
// whether to try again. Without one the answer is no.
void SetPasswordDialog(std::function<bool(TSession&)> dialog);

}  // namespace kavrin::classlib

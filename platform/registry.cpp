#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/registry_text.h"
#include "platform/unique_fd.h"

namespace kavrin::platform {

namespace {

using detail::RegistryDocument;
using detail::RegistryKey;
using detail::RegistryValue;
using detail::UniqueFd;

// A root file larger than this is not one we wrote; it is refused rather than read whole.
constexpr off_t kLargestRootFile = 64 * 1024 * 1024;

struct RootName {
  HKEY key;
  const char* name;
};

constexpr RootName kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},     {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},   {HKEY_USERS, "HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
};

const char* NameOfRoot(HKEY root) {
  for (const RootName& r : kRoots) {
    if (r.key == root) return r.name;
  }
  return nullptr;
}

struct KeyHandle {
  HKEY root = 0;
  std::string path;
  REGSAM access = 0;
  // The value a size query measured, for the read that follows it.
  std::optional<RegistryValue> measured;
};

class KeyHandles {
 public:
  static KeyHandles& Instance() {
    static KeyHandles handles;
    return handles;
  }

  // A copy of the handle's state; predefined roots are handles with all access to their root.
  std::optional<KeyHandle> Get(HKEY key) {
    if (NameOfRoot(key) != nullptr) return KeyHandle{key, "", KEY_ALL_ACCESS, std::nullopt};
    std::lock_guard<std::mutex> guard(mutex_);
    const auto it = handles_.find(key);
    if (it == handles_.end()) return std::nullopt;
    return it->second;
  }

  HKEY Add(KeyHandle handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    do {
      ++last_;
      if (last_ >= HKEY_CLASSES_ROOT) last_ = 1;
    } while (handles_.count(last_) != 0);
    handles_.emplace(last_, std::move(handle));
    return last_;
  }

  void SetMeasured(HKEY key, std::optional<RegistryValue> value) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto it = handles_.find(key);
    if (it != handles_.end()) it->second.measured = std::move(value);
  }

  bool Remove(HKEY key) {
    std::lock_guard<std::mutex> guard(mutex_);
    return handles_.erase(key) != 0;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HKEY, KeyHandle> handles_;
  HKEY last_ = 0;
};

std::string RootFile(const std::string& directory, HKEY root) { return directory + "/" + NameOfRoot(root) + ".reg"; }

LONG CodeFromErrno(int err) { return static_cast<LONG>(Win32ErrorFromErrno(err)); }

// The root's document; an empty one when its file or folder does not exist yet.
LONG LoadRoot(const std::string& file, HKEY root, RegistryDocument* document) {
  UniqueFd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT || errno == ENOTDIR) {
      *document = RegistryDocument{};
      return ERROR_SUCCESS;
    }
    return CodeFromErrno(errno);
  }
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0) return CodeFromErrno(errno);
  if (!S_ISREG(st.st_mode) || st.st_size > kLargestRootFile) return ERROR_REGISTRY_CORRUPT;
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t done = 0;
  while (true) {
    // One byte more than the size says shows a file that grew meanwhile.
    if (done == text.size()) text.resize(done + 4096);
    const ssize_t got = read(fd.Get(), text.data() + done, text.size() - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return CodeFromErrno(errno);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
    if (done > static_cast<std::size_t>(kLargestRootFile)) return ERROR_REGISTRY_CORRUPT;
  }
  text.resize(done);
  auto parsed = detail::ParseRegistryText(text, NameOfRoot(root));
  if (!parsed) return ERROR_REGISTRY_CORRUPT;
  *document = std::move(*parsed);
  return ERROR_SUCCESS;
}

LONG MakeDirectories(const std::string& directory) {
  if (directory.empty()) return ERROR_PATH_NOT_FOUND;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = directory.find('/', pos + 1);
    const std::string part = directory.substr(0, pos);
    if (part.empty() || part == "/") continue;
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return CodeFromErrno(errno);
  }
  struct stat st {};
  if (stat(directory.c_str(), &st) != 0) return CodeFromErrno(errno);
  return S_ISDIR(st.st_mode) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

LONG ReplaceFile(const std::string& file, const std::string& text) {
  const std::string temporary = file + ".tmp";
  // What a writer that died left behind goes first, so the new file gets the umask's mode.
  unlink(temporary.c_str());
  UniqueFd fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd.Valid()) return CodeFromErrno(errno);
  // A rewritten file keeps its own mode.
  struct stat st {};
  if (stat(file.c_str(), &st) == 0) fchmod(fd.Get(), st.st_mode & 07777);
  if (!WriteAll(fd.Get(), text) || fsync(fd.Get()) != 0) {
    const int err = errno;
    unlink(temporary.c_str());
    return CodeFromErrno(err);
  }
  fd.Reset();
  if (rename(temporary.c_str(), file.c_str()) != 0) {
    const int err = errno;
    unlink(temporary.c_str());
    return CodeFromErrno(err);
  }
  return ERROR_SUCCESS;
}

// Runs change on the root's document under the root's lock and writes the result when it says so.
template <typename Change>
LONG ChangeRoot(HKEY root, Change change) {
  const std::string directory = RegistryDirectory();
  if (LONG made = MakeDirectories(directory); made != ERROR_SUCCESS) return made;
  const std::string file = RootFile(directory, root);
  UniqueFd lock(open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!lock.Valid()) return CodeFromErrno(errno);
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  while (fcntl(lock.Get(), F_OFD_SETLKW, &range) != 0) {
    if (errno != EINTR) return CodeFromErrno(errno);
  }
  // Closing the descriptor releases the lock, after the rename.
  RegistryDocument document;
  if (LONG loaded = LoadRoot(file, root, &document); loaded != ERROR_SUCCESS) return loaded;
  bool modified = false;
  if (LONG changed = change(document, &modified); changed != ERROR_SUCCESS || !modified) return changed;
  return ReplaceFile(file, detail::WriteRegistryText(document, NameOfRoot(root)));
}

std::string JoinPath(const std::string& base, const std::string& sub_key) {
  std::string path;
  for (const std::string* part_of : {&base, &sub_key}) {
    for (std::string_view part : detail::SplitRegistryPath(*part_of)) {
      if (!path.empty()) path += '\\';
      path += part;
    }
  }
  return path;
}

bool StorableName(const std::string& name) {
  return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos;
}

RegistryKey* KeyToChange(RegistryDocument& document, const std::string& path) {
  if (path.empty()) {
    bool created = false;
    return &document.CreateKey("", &created);
  }
  return document.FindKey(path);
}

LONG OpenOrCreate(HKEY key, const std::string& sub_key, REGSAM desired, bool create, HKEY* result, DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  const std::optional<KeyHandle> parent = KeyHandles::Instance().Get(key);
  if (!parent) return ERROR_INVALID_HANDLE;
  const std::string path = JoinPath(parent->path, sub_key);
  if (!StorableName(path)) return ERROR_INVALID_PARAMETER;

  RegistryDocument document;
  if (LONG loaded = LoadRoot(RootFile(RegistryDirectory(), parent->root), parent->root, &document);
      loaded != ERROR_SUCCESS) {
    return loaded;
  }
  std::string stored_path = path;
  DWORD outcome = REG_OPENED_EXISTING_KEY;
  if (!path.empty()) {
    if (const RegistryKey* found = document.FindKey(path); found != nullptr) {
      stored_path = found->path;
    } else if (!create) {
      return ERROR_FILE_NOT_FOUND;
    } else {
      bool made = false;
      const LONG changed = ChangeRoot(parent->root, [&](RegistryDocument& doc, bool* modified) {
        stored_path = doc.CreateKey(path, modified).path;
        made = *modified;
        return ERROR_SUCCESS;
      });
      if (changed != ERROR_SUCCESS) return changed;
      // Another process may have made it between the first look and the lock.
      if (made) outcome = REG_CREATED_NEW_KEY;
    }
  }
  *result = KeyHandles::Instance().Add(KeyHandle{parent->root, stored_path, desired, std::nullopt});
  if (disposition != nullptr) *disposition = outcome;
  return ERROR_SUCCESS;
}

}  // namespace

std::string RegistryDirectory() {
  const char* own = std::getenv("KAVRIN_REGISTRY_DIR");
  if (own != nullptr && *own != '\0') return own;
  // The base directory standard ignores a relative XDG_CONFIG_HOME.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/kavrin/registry";
  const char* home = std::getenv("HOME");
  std::string home_dir = home != nullptr ? home : "";
  if (home_dir.empty()) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
      home_dir = found->pw_dir;
    }
  }
  if (home_dir.empty()) return {};
  return home_dir + "/.config/kavrin/registry";
}

LONG RegOpenKeyExA(HKEY key, const std::string& sub_key, DWORD /*options*/, REGSAM desired, HKEY* result) {
  return OpenOrCreate(key, sub_key, desired, false, result, nullptr);
}

LONG RegCreateKeyExA(HKEY key, const std::string& sub_key, DWORD options, REGSAM desired, HKEY* result,
                     DWORD* disposition) {
  if (options != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
  return OpenOrCreate(key, sub_key, desired, true, result, disposition);
}

LONG RegQueryValueExA(HKEY key, const std::string& value_name, DWORD* type, std::uint8_t* data, DWORD* size) {
  const std::optional<KeyHandle> handle = KeyHandles::Instance().Get(key);
  if (!handle) return ERROR_INVALID_HANDLE;
  if ((handle->access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;

  RegistryValue value;
  if (data != nullptr && handle->measured && detail::RegistryNamesEqual(handle->measured->name, value_name)) {
    value = *handle->measured;
  } else {
    RegistryDocument document;
    if (LONG loaded = LoadRoot(RootFile(RegistryDirectory(), handle->root), handle->root, &document);
        loaded != ERROR_SUCCESS) {
      return loaded;
    }
    RegistryKey* found = handle->path.empty() ? document.FindKey("") : document.FindKey(handle->path);
    if (found == nullptr && !handle->path.empty()) return ERROR_KEY_DELETED;
    const RegistryValue* stored = found != nullptr ? found->FindValue(value_name) : nullptr;
    if (stored == nullptr) return ERROR_FILE_NOT_FOUND;
    value = *stored;
  }
  if (value.data.size() > 0xFFFFFFFFu) return ERROR_REGISTRY_CORRUPT;
  const auto needed = static_cast<DWORD>(value.data.size());
  if (type != nullptr) *type = value.type;
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    KeyHandles::Instance().SetMeasured(key, std::move(value));
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed > 0) std::memcpy(data, value.data.data(), needed);
  *size = needed;
  KeyHandles::Instance().SetMeasured(key, std::nullopt);
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const std::string& value_name, DWORD type, const std::uint8_t* data, DWORD size) {
  const std::optional<KeyHandle> handle = KeyHandles::Instance().Get(key);
  if (!handle) return ERROR_INVALID_HANDLE;
  if ((handle->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (!StorableName(value_name) || (data == nullptr && size > 0)) return ERROR_INVALID_PARAMETER;
  KeyHandles::Instance().SetMeasured(key, std::nullopt);
  return ChangeRoot(handle->root, [&](RegistryDocument& document, bool* modified) -> LONG {
    RegistryKey* found = KeyToChange(document, handle->path);
    if (found == nullptr) return ERROR_KEY_DELETED;
    RegistryKey& target = document.MakeWritten(*found);
    std::vector<std::uint8_t> bytes(data, data + size);
    if (RegistryValue* existing = target.FindValue(value_name); existing != nullptr) {
      existing->type = type;
      existing->data = std::move(bytes);
    } else {
      target.values.push_back(RegistryValue{value_name, type, std::move(bytes)});
    }
    *modified = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueA(HKEY key, const std::string& value_name) {
  const std::optional<KeyHandle> handle = KeyHandles::Instance().Get(key);
  if (!handle) return ERROR_INVALID_HANDLE;
  if ((handle->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  KeyHandles::Instance().SetMeasured(key, std::nullopt);
  return ChangeRoot(handle->root, [&](RegistryDocument& document, bool* modified) -> LONG {
    RegistryKey* found = KeyToChange(document, handle->path);
    if (found == nullptr) return ERROR_KEY_DELETED;
    RegistryValue* existing = found->FindValue(value_name);
    if (existing == nullptr) return ERROR_FILE_NOT_FOUND;
    found->values.erase(found->values.begin() + (existing - found->values.data()));
    *modified = true;
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY key) {
  if (NameOfRoot(key) != nullptr) return ERROR_SUCCESS;
  return KeyHandles::Instance().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace kavrin::platform

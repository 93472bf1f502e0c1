#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/registry_text.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/registry_folder.h"
#include "tests/helpers/temp_dir.h"
#include "tests/helpers/unprivileged.h"

namespace kavrin::platform {
namespace {

using testing::ReadWholeFile;
using testing::RegistryFolder;
using testing::WriteWholeFile;

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

// A key handle closed at the end of the scope.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_ != 0) RegCloseKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &handle_; }
  HKEY Get() const { return handle_; }

 private:
  HKEY handle_ = 0;
};

struct Read {
  LONG code = 0;
  DWORD type = 0;
  std::vector<std::uint8_t> data;
};

Read Query(HKEY key, const std::string& name) {
  Read r;
  DWORD size = 0;
  r.code = RegQueryValueExA(key, name, &r.type, nullptr, &size);
  if (r.code != ERROR_SUCCESS) return r;
  r.data.resize(size);
  r.code = RegQueryValueExA(key, name, &r.type, r.data.data(), &size);
  r.data.resize(size);
  return r;
}

LONG SetString(HKEY key, const std::string& name, const std::string& text) {
  std::vector<std::uint8_t> data = Bytes(text);
  data.push_back(0);
  return RegSetValueExA(key, name, REG_SZ, data.data(), static_cast<DWORD>(data.size()));
}

LONG SetDword(HKEY key, const std::string& name, std::uint32_t v) {
  const std::uint8_t data[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  return RegSetValueExA(key, name, REG_DWORD, data, 4);
}

const char* const kUtilityKey = "SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility";

const std::string kStoredForms =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility]\n"
    "\"Working Directory\"=\"C:\\\\Data\\\\\\\"Quoted\\\"\"\n"
    "\"Empty\"=\"\"\n"
    "\"Gr\xC3\xBC\xC3\x9F\x65\"=\"\xC3\x84rger \xC3\xBC\x62\x65r \xE2\x82\xAC\"\n"
    "\"Lock Retry Count\"=dword:0000000f\n"
    "\"Lock Wait\"=hex:05,00,00,00,00,00,00,00,00,00,00,00,00,00,04,40\n"
    "\"Temp Path\"=hex(2):25,00,54,00,00,00\n"
    "@=\"unnamed\"\n"
    "\"a\\\\\\\\b\"=\"pair\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility\\MainForm]\n"
    "\"Left\"=\"0x10\"\n"
    "\n";

TEST(RegistryTest, StoredFormsReadInAnyCaseAndWriteBackByteForByte) {
  RegistryFolder folder;
  const std::string file = folder.RootFile("HKEY_LOCAL_MACHINE");
  WriteWholeFile(file, kStoredForms);

  Key key;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\TREVANE SOFTWARE\\kavrin database system\\database system utility",
                    0, KEY_ALL_ACCESS, key.Out()),
      ERROR_SUCCESS);
  const struct {
    const char* lookup;
    DWORD type;
    std::vector<std::uint8_t> data;
  } cases[] = {
      {"working directory", REG_SZ, Bytes(std::string("C:\\Data\\\"Quoted\"") + '\0')},
      {"EMPTY", REG_SZ, {0}},
      {"GR\xC3\x9C\xC3\x9F\x45", REG_SZ, Bytes(std::string("\xC3\x84rger \xC3\xBC\x62\x65r \xE2\x82\xAC") + '\0')},
      {"LOCK RETRY COUNT", REG_DWORD, {15, 0, 0, 0}},
      {"lock wait", REG_BINARY, {5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0x40}},
      {"Temp path", REG_EXPAND_SZ, {0x25, 0, 0x54, 0, 0, 0}},
      {"", REG_SZ, Bytes(std::string("unnamed") + '\0')},
      {"A\\\\B", REG_SZ, Bytes(std::string("pair") + '\0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lookup);
    const Read r = Query(key.Get(), c.lookup);
    ASSERT_EQ(r.code, ERROR_SUCCESS);
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.data, c.data);
    // Writing the same value back under the other spelling changes nothing in the file.
    ASSERT_EQ(RegSetValueExA(key.Get(), c.lookup, r.type, r.data.data(), static_cast<DWORD>(r.data.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(file), kStoredForms);
  }
  EXPECT_EQ(Query(key.Get(), "a\\b").code, ERROR_FILE_NOT_FOUND) << "a backslash pair is two characters";
}

TEST(RegistryTest, CreateMakesEveryLevelAndKeepsTheCaseFirstWritten) {
  RegistryFolder folder;
  const std::string file = folder.RootFile("HKEY_CURRENT_USER");
  {
    Key key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Maker", 0, KEY_ALL_ACCESS, key.Out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(SetDword(key.Get(), "Value", 1), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key.Get(), "VALUE", 2), ERROR_SUCCESS);
  }
  {
    Key key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\MAKER\\Sub", 0, KEY_ALL_ACCESS, key.Out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(SetString(key.Get(), "Text", "x"), ERROR_SUCCESS);
  }
  {
    Key key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\maker", 0, KEY_ALL_ACCESS, key.Out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    Key sub;
    EXPECT_EQ(RegOpenKeyExA(key.Get(), "SUB", 0, KEY_READ, sub.Out()), ERROR_SUCCESS);
    EXPECT_EQ(Query(sub.Get(), "text").data, Bytes(std::string("x") + '\0'));
  }
  EXPECT_EQ(ReadWholeFile(file),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Maker]\n\"Value\"=dword:00000002\n\n"
            "[HKEY_CURRENT_USER\\Software\\Maker\\Sub]\n\"Text\"=\"x\"\n\n");
}

TEST(RegistryTest, EachRootHasItsOwnFileAndTheRootItselfHoldsValues) {
  RegistryFolder folder;
  EXPECT_EQ(SetString(HKEY_LOCAL_MACHINE, "", "machine"), ERROR_SUCCESS);
  EXPECT_EQ(SetString(HKEY_USERS, "Name", "users"), ERROR_SUCCESS);
  EXPECT_EQ(ReadWholeFile(folder.RootFile("HKEY_LOCAL_MACHINE")),
            "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n@=\"machine\"\n\n");
  EXPECT_EQ(ReadWholeFile(folder.RootFile("HKEY_USERS")),
            "Windows Registry Editor Version 5.00\n\n[HKEY_USERS]\n\"Name\"=\"users\"\n\n");
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "name").code, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Query(HKEY_USERS, "name").data, Bytes(std::string("users") + '\0'));
}

TEST(RegistryTest, Win32CodesForMissingThingsAndWrongUse) {
  RegistryFolder folder;
  Key key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Missing", 0, KEY_READ, key.Out()), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(::access(folder.RootFile("HKEY_CURRENT_USER").c_str(), F_OK) == 0) << "reading writes nothing";
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, key.Out()), ERROR_SUCCESS) << "the root always exists";
  EXPECT_EQ(Query(key.Get(), "x").code, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetString(key.Get(), "x", "y"), ERROR_ACCESS_DENIED) << "opened for reading only";

  Key writable;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "\\K\\\\L\\", 0, KEY_ALL_ACCESS, writable.Out(), nullptr),
            ERROR_SUCCESS);
  Key same;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K\\L", 0, KEY_READ, same.Out()), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(writable.Get(), "x"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetString(writable.Get(), "a\nb", "y"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(writable.Get(), "x", REG_BINARY, nullptr, 3), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "V", 1, KEY_ALL_ACCESS, key.Out(), nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(writable.Get(), "empty", REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(Query(writable.Get(), "empty").data.size(), 0u);

  ASSERT_EQ(SetString(writable.Get(), "x", "long text"), ERROR_SUCCESS);
  std::uint8_t small[4];
  DWORD size = sizeof small;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(writable.Get(), "x", &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(RegQueryValueExA(writable.Get(), "x", &type, small, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteValueA(writable.Get(), "X"), ERROR_SUCCESS);
  EXPECT_EQ(Query(writable.Get(), "x").code, ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegCloseKey(0x1234567u), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Query(0x1234567u, "x").code, ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST(RegistryTest, SizeQueryAndReadThroughOneHandleSeeOneValue) {
  RegistryFolder folder;
  Key reader;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, reader.Out(), nullptr), ERROR_SUCCESS);
  ASSERT_EQ(SetString(reader.Get(), "V", "short"), ERROR_SUCCESS);
  DWORD size = 0;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(reader.Get(), "V", &type, nullptr, &size), ERROR_SUCCESS);
  ASSERT_EQ(size, 6u);
  {
    Key writer;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, writer.Out()), ERROR_SUCCESS);
    ASSERT_EQ(SetString(writer.Get(), "V", "a much longer text"), ERROR_SUCCESS);
  }
  std::vector<std::uint8_t> data(size);
  ASSERT_EQ(RegQueryValueExA(reader.Get(), "V", &type, data.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(data, Bytes(std::string("short") + '\0'));
  // The next measurement sees the new value.
  EXPECT_EQ(Query(reader.Get(), "V").data, Bytes(std::string("a much longer text") + '\0'));
}

TEST(RegistryTest, DamagedFileIsRefusedAndNeverOverwritten) {
  RegistryFolder folder;
  const std::string file = folder.RootFile("HKEY_CURRENT_USER");
  Key opened;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, opened.Out(), nullptr), ERROR_SUCCESS);
  const std::string damaged = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"a\"=dword:xyz\n";
  WriteWholeFile(file, damaged);

  Key key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, key.Out()), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_ALL_ACCESS, key.Out()), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "New", 0, KEY_ALL_ACCESS, key.Out(), nullptr), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(SetString(opened.Get(), "b", "c"), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegDeleteValueA(opened.Get(), "a"), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(Query(opened.Get(), "a").code, ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(SetString(HKEY_CURRENT_USER, "b", "c"), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(ReadWholeFile(file), damaged);
  // Other roots are not touched by it.
  EXPECT_EQ(SetString(HKEY_LOCAL_MACHINE, "b", "c"), ERROR_SUCCESS);
}

TEST(RegistryTest, KeyRemovedFromTheFileUnderAnOpenHandle) {
  RegistryFolder folder;
  Key opened;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, opened.Out(), nullptr), ERROR_SUCCESS);
  WriteWholeFile(folder.RootFile("HKEY_CURRENT_USER"), "Windows Registry Editor Version 5.00\n\n");
  EXPECT_EQ(SetString(opened.Get(), "b", "c"), ERROR_KEY_DELETED);
  EXPECT_EQ(Query(opened.Get(), "b").code, ERROR_KEY_DELETED);
}

TEST(RegistryTest, FolderWithoutWritePermissionGivesAccessDenied) {
  testing::TempDir top;
  chmod(top.Path().c_str(), 0755);
  const std::string folder = top.PathOf("registry");
  ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
  setenv("KAVRIN_REGISTRY_DIR", folder.c_str(), 1);
  const std::optional<int> code = testing::RunUnprivileged([] {
    HKEY key = 0;
    const LONG created = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_ALL_ACCESS, &key, nullptr);
    return static_cast<int>(created);
  });
  unsetenv("KAVRIN_REGISTRY_DIR");
  if (!code) GTEST_SKIP() << "running as root and cannot change to another user to make permissions bite";
  EXPECT_EQ(*code, static_cast<int>(ERROR_ACCESS_DENIED));
}

TEST(RegistryTest, FolderUnderAFileCannotBeMade) {
  testing::TempDir top;
  WriteWholeFile(top.PathOf("file"), "x");
  setenv("KAVRIN_REGISTRY_DIR", top.PathOf("file/registry").c_str(), 1);
  Key key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, key.Out()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, key.Out(), nullptr), ERROR_PATH_NOT_FOUND);
  unsetenv("KAVRIN_REGISTRY_DIR");
}

TEST(RegistryTest, FolderComesFromTheEnvironment) {
  const auto keep = [](const char* name) -> std::optional<std::string> {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  };
  const auto own = keep("KAVRIN_REGISTRY_DIR");
  const auto xdg = keep("XDG_CONFIG_HOME");
  const auto home = keep("HOME");
  const struct {
    const char* own;
    const char* xdg;
    const char* home;
    const char* expected;
  } cases[] = {
      {"/r", "/x", "/h", "/r"},
      {"", "/x", "/h", "/x/kavrin/registry"},
      {nullptr, "/x", "/h", "/x/kavrin/registry"},
      {nullptr, "relative", "/h", "/h/.config/kavrin/registry"},
      {nullptr, nullptr, "/h", "/h/.config/kavrin/registry"},
  };
  const auto put = [](const char* name, const char* value) {
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  };
  for (const auto& c : cases) {
    put("KAVRIN_REGISTRY_DIR", c.own);
    put("XDG_CONFIG_HOME", c.xdg);
    put("HOME", c.home);
    EXPECT_EQ(RegistryDirectory(), c.expected);
  }
  put("KAVRIN_REGISTRY_DIR", own ? own->c_str() : nullptr);
  put("XDG_CONFIG_HOME", xdg ? xdg->c_str() : nullptr);
  put("HOME", home ? home->c_str() : nullptr);
}

// A registry folder in memory where the system has one: the test is about the lock, and 400 flushes to
// a busy disk would make it slow.
class MemoryRegistryFolder {
 public:
  MemoryRegistryFolder() {
    std::string pattern = "/dev/shm/kavrin-registry-XXXXXX";
    if (::access("/dev/shm", W_OK) == 0 && mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
      setenv("KAVRIN_REGISTRY_DIR", path_.c_str(), 1);
    } else {
      fallback_.emplace();
      path_ = fallback_->Path();
    }
  }
  ~MemoryRegistryFolder() {
    if (fallback_) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    unsetenv("KAVRIN_REGISTRY_DIR");
  }
  std::string RootFile(const std::string& root) const { return path_ + "/" + root + ".reg"; }

 private:
  std::string path_;
  std::optional<RegistryFolder> fallback_;
};

TEST(RegistryTest, TwoProcessesWritingOneRootLoseNothing) {
  MemoryRegistryFolder folder;
  constexpr int kValues = 200;
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    if (children[p] == 0) {
      int failures = 0;
      HKEY key = 0;
      if (RegCreateKeyExA(HKEY_CURRENT_USER, kUtilityKey, 0, KEY_ALL_ACCESS, &key, nullptr) != ERROR_SUCCESS) _exit(1);
      for (int n = 0; n < kValues; ++n) {
        if (SetDword(key, "P" + std::to_string(p) + "_" + std::to_string(n), static_cast<std::uint32_t>(n)) !=
            ERROR_SUCCESS) {
          ++failures;
        }
      }
      _exit(failures == 0 ? 0 : 2);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // One read of the file checks every value; a query per value would read it 400 times.
  auto document = detail::ParseRegistryText(ReadWholeFile(folder.RootFile("HKEY_CURRENT_USER")), "HKEY_CURRENT_USER");
  ASSERT_TRUE(document);
  detail::RegistryKey* key = document->FindKey(kUtilityKey);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->values.size(), 2u * kValues);
  for (int p = 0; p < 2; ++p) {
    for (int n = 0; n < kValues; ++n) {
      const detail::RegistryValue* value = key->FindValue("P" + std::to_string(p) + "_" + std::to_string(n));
      ASSERT_NE(value, nullptr) << p << " " << n;
      EXPECT_EQ(value->type, REG_DWORD);
      EXPECT_EQ(value->data, (std::vector<std::uint8_t>{static_cast<std::uint8_t>(n), 0, 0, 0}));
    }
  }
  EXPECT_FALSE(::access((folder.RootFile("HKEY_CURRENT_USER") + ".tmp").c_str(), F_OK) == 0);
}

}  // namespace
}  // namespace kavrin::platform

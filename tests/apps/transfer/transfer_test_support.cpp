#include "tests/apps/transfer/transfer_test_support.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "engine/bcd.h"
#include "engine/data_file.h"

extern char** environ;

namespace kavrin::transfer::testing {

int RunProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
    throw std::runtime_error("cannot start " + argv[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ScriptPath(const std::string& name) { return std::string(KAVRIN_TRANSFER_TEST_DIR) + "/" + name; }

void WriteParadoxFixture(const std::string& kind, const std::string& path, const std::string& blobPath,
                         const std::string& indexPath) {
  std::vector<std::string> argv{KAVRIN_PARADOX_WRITER, kind, path, blobPath};
  if (!indexPath.empty()) argv.push_back(indexPath);
  if (RunProgram(argv) != 0) throw std::runtime_error("the pxlib writer failed on " + kind);
}

void RunPythonDbf(const std::string& directory, const std::string& kind) {
  if (RunProgram({"/usr/bin/python3", ScriptPath("dbf_writer.py"), kind, directory}) != 0)
    throw std::runtime_error("python3-dbf failed on " + kind);
}

void RunPerlXBase(const std::string& script, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"/usr/bin/perl", ScriptPath(script)};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  if (RunProgram(argv) != 0) throw std::runtime_error("Perl XBase failed on " + script);
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> TRecordingUi::Messages() const {
  std::vector<std::string> out;
  for (const std::string& e : Events)
    if (e.rfind("message: ", 0) == 0) out.push_back(e.substr(9));
  return out;
}

namespace {

std::string Hex(const std::uint8_t* p, std::size_t n) {
  std::string out;
  char buffer[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buffer, sizeof buffer, "%02x", p[i]);
    out += buffer;
  }
  return out;
}

std::string Number(double value) {
  std::ostringstream out;
  out.precision(17);
  out << value;
  return out.str();
}

template <typename T>
T Load(const std::uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

TReadTable ReadEngineTable(const std::string& path) {
  namespace e = engine;
  TReadTable result;
  e::TDataFile table;
  table.SetFileName(path);
  table.Open();
  result.LastUniqueID = table.Header().LastUniqueID;
  std::vector<e::TFieldDescriptor> fields;
  for (std::uint16_t i = 1; i <= table.FieldCount(); ++i) {
    e::TFieldDescriptor f;
    table.FieldDefByIndex(i, f);
    fields.push_back(f);
    result.Fields.push_back({f.Name, f.Type, f.Subtype, f.Size, f.Decimals, f.Required});
  }
  for (int n = 0; n <= table.IndexCount(); ++n) {
    const e::TIndexDescriptor d = table.GetIndexDef(static_cast<std::uint8_t>(n));
    if (d.KeyLength == 0) continue;
    TReadIndex index{d.Name, {}, d.Unique != 0, d.CaseInsensitive != 0, d.Descending != 0};
    for (int k = 0; k < d.KeyFieldCount; ++k) index.Fields.push_back(d.KeyFields[k]);
    result.Indexes.push_back(index);
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(table.RecordSize()));
  std::vector<std::uint8_t> value(300);
  table.GotoBOF();
  while (table.Next(buffer.data()) == e::ec::Success) {
    std::vector<std::string> record;
    for (const e::TFieldDescriptor& f : fields) {
      bool isNull = false;
      table.GetField(f.FieldNumber, buffer.data(), isNull, value.data());
      if (isNull) {
        record.push_back("null");
        continue;
      }
      const std::uint8_t* p = value.data();
      switch (f.Type) {
        case e::ftString: record.push_back(reinterpret_cast<const char*>(p)); break;
        case e::ftDate:
        case e::ftTime:
        case e::ftInteger: record.push_back(std::to_string(Load<std::int32_t>(p))); break;
        case e::ftSmallInt:
        case e::ftBoolean: record.push_back(std::to_string(Load<std::int16_t>(p))); break;
        case e::ftFloat:
        case e::ftTimeStamp: record.push_back(Number(Load<double>(p))); break;
        case e::ftBCD: record.push_back(std::to_string(e::BCDToCurrency(Load<std::int64_t>(p)).Raw())); break;
        case e::ftBytes: record.push_back(Hex(p, f.Size)); break;
        case e::ftBlob: {
          if (table.OpenBlob(f.FieldNumber, buffer.data()) != 0) throw std::runtime_error("blob open");
          std::int32_t size = 0;
          table.BlobSize(f.FieldNumber, buffer.data(), size);
          std::vector<std::uint8_t> blob(static_cast<std::size_t>(size) + 1);
          std::int32_t got = 0;
          if (size > 0) table.ReadBlob(f.FieldNumber, buffer.data(), 0, size, blob.data(), got);
          table.CloseBlob(f.FieldNumber, buffer.data());
          record.push_back(f.Subtype == e::fstMemo || f.Subtype == e::fstFormattedMemo
                               ? std::string(blob.begin(), blob.begin() + got)
                               : Hex(blob.data(), static_cast<std::size_t>(got)));
          break;
        }
        default: record.push_back("?"); break;
      }
    }
    result.Records.push_back(record);
  }
  table.Close();
  return result;
}

}  // namespace kavrin::transfer::testing

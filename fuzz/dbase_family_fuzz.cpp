// Arbitrary bytes as a dBase table's files: reading it must end in the table or an error naming a
// file, never in a crash, a hang, a read past a buffer or an allocation the files do not justify.
//
// Input: u32 length of the ".DBF", u32 length of the ".MDX", the two files, and the rest as the ".DBT".
#include "fuzz/transfer_fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kavrin::fuzzing::WriteFuzzFiles(data, size, {"T.DBF", "T.MDX", "T.DBT"});
  kavrin::fuzzing::ReadFuzzTable("T.DBF");
  return 0;
}

// Arbitrary bytes as a Paradox table's files: reading it must end in the table or an error naming a
// file, never in a crash, a hang, a read past a buffer or an allocation the files do not justify.
//
// Input: u32 length of the ".DB", u32 length of the ".VAL", u32 length of the ".X02", the three files,
// and the rest as the ".MB".
#include "fuzz/transfer_fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kavrin::fuzzing::WriteFuzzFiles(data, size, {"T.DB", "T.VAL", "T.X02", "T.MB"});
  kavrin::fuzzing::ReadFuzzTable("T.DB");
  return 0;
}

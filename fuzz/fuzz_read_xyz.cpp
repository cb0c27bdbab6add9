// Reader harness: any bytes as an XYZ, TXT or CSV text file.
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ici3d_fuzz::fuzz_reader(data, size, ici3d::host::Format::Xyz);
  return 0;
}

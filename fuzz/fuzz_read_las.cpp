// Reader harness: any bytes as a LAS file.
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ici3d_fuzz::fuzz_reader(data, size, ici3d::host::Format::Las);
  return 0;
}

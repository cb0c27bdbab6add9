// Prints the table behind fit_calibration (fit_calibration_table.inc): the
// simulated calibration for every fit size it covers. Build and run
//   cmake --build build --target ici3d_fit_calibration_table
//   build/host/ici3d_fit_calibration_table > host/src/neighbors/fit_calibration_table.inc
#include <cstdio>

#include "fit_noise.h"

int main() {
  using namespace ici3d::host::detail;
  constexpr int kTrials = 8001;
  constexpr uint64_t kTableSeed = 0xf17ca11b5eedull;
  std::printf("// simulated_fit_calibration(n, %d, 0x%llx + n), n = %zu ... %zu\n", kTrials,
              static_cast<unsigned long long>(kTableSeed), kMinFitPoints, kCalibratedFitPoints);
  for (size_t n = kMinFitPoints; n <= kCalibratedFitPoints; ++n)
    std::printf("%.6f,%s", simulated_fit_calibration(n, kTrials, kTableSeed + n),
                (n - kMinFitPoints) % 8 == 7 || n == kCalibratedFitPoints ? "\n" : " ");
  return 0;
}

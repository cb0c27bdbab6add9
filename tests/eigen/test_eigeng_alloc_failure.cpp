// eigeng when one of its work allocations fails: it returns 0 and leaves
// every caller array as it was. This executable replaces malloc and calloc
// (forwarding to glibc) so that the k-th allocation can be made to fail; the
// replacement is left out under the address and thread sanitizers, which own
// the allocator.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "ici3d.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define EIGEN_TEST_UNDER_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define EIGEN_TEST_UNDER_SANITIZER 1
#endif

#if defined(EIGEN_TEST_UNDER_SANITIZER)
#define EIGEN_TEST_CAN_FAIL_ALLOCATIONS 0
#else
#define EIGEN_TEST_CAN_FAIL_ALLOCATIONS 1

extern "C" void *__libc_malloc(std::size_t size);
extern "C" void *__libc_calloc(std::size_t count, std::size_t size);

namespace {
// Number of allocations still to succeed before one fails; -1: none fails.
int g_allocations_before_failure = -1;

bool next_allocation_fails() {
  if (g_allocations_before_failure < 0) return false;
  return g_allocations_before_failure-- == 0;
}
}  // namespace

extern "C" void *malloc(std::size_t size) {
  return next_allocation_fails() ? nullptr : __libc_malloc(size);
}

extern "C" void *calloc(std::size_t count, std::size_t size) {
  return next_allocation_fails() ? nullptr : __libc_calloc(count, size);
}
#endif

namespace {

TEST(EigengAllocationFailure, LeavesCallerArraysUntouched) {
#if EIGEN_TEST_CAN_FAIL_ALLOCATIONS
  const std::vector<float> input{4, 1, 2, 3, 5, 1, 0, 2, 6};
  const std::vector<float> sentinel(9, -42.0f);
  // eigeng allocates at most four work arrays (two row tables, the pivot
  // record and the balancing record); failing any of them changes nothing.
  for (int k = 0; k < 4; ++k) {
    std::vector<float> m = input, re(3, -42.0f), im(3, -42.0f), v = sentinel;
    g_allocations_before_failure = k;
    const int32_t status = eigeng(m.data(), 3, re.data(), im.data(), v.data());
    g_allocations_before_failure = -1;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(m, input) << "allocation " << k;
    EXPECT_EQ(re, std::vector<float>(3, -42.0f)) << "allocation " << k;
    EXPECT_EQ(im, std::vector<float>(3, -42.0f)) << "allocation " << k;
    EXPECT_EQ(v, sentinel) << "allocation " << k;
  }
  // With every allocation granted the same call decomposes.
  std::vector<float> m = input, re(3, -42.0f), im(3, -42.0f), v = sentinel;
  g_allocations_before_failure = 4;
  eigeng(m.data(), 3, re.data(), im.data(), v.data());
  g_allocations_before_failure = -1;
  EXPECT_NE(re, std::vector<float>(3, -42.0f));
#else
  GTEST_SKIP() << "the allocator belongs to AddressSanitizer";
#endif
}

}  // namespace

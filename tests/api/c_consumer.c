/* The public header compiles as C and the library links from C. */
#include <stdio.h>

#include "ici3d.h"

int main(void) {
  float m[4] = {2.0f, 0.0f, 0.0f, 3.0f};
  float re[2], im[2], v[4];
  int32_t status = eigeng(m, 2, re, im, v);
  if (status != 0 || re[0] != 2.0f || re[1] != 3.0f) {
    fprintf(stderr, "unexpected eigenvalues %g %g\n", (double)re[0], (double)re[1]);
    return 1;
  }
  if (ici3d_check_arguments(NULL, -1, NULL, 0, 0, NULL, 0, 0, 0, NULL, 0, 0, NULL, 0, NULL) !=
      ICI3D_ARGS_NEGATIVE_N) {
    return 1;
  }
  printf("1 passed, 0 failed\n");
  return 0;
}

#include "ici3d.h"

extern "C" const char *ici3d_describe_argument_error(int32_t code) {
  switch (code) {
    case ICI3D_ARGS_OK: return "arguments are valid";
    case ICI3D_ARGS_NEGATIVE_N: return "the number of points n is negative";
    case ICI3D_ARGS_NULL_ARRAY: return "a required array is null";
    case ICI3D_ARGS_BAD_PARAMETER_SET: return "parameter_set must be 0 or 1";
    case ICI3D_ARGS_NEGATIVE_K: return "the number of frame neighbours K is negative";
    case ICI3D_ARGS_BAD_NEIGHBOR_INDEX: return "a neighbor_table entry is outside 0..n-1";
    case ICI3D_ARGS_BAD_CANDIDATE_LIST:
      return "a candidate list is null or has a negative length";
    case ICI3D_ARGS_BAD_CANDIDATE_INDEX: return "a candidate index is outside 0..n-1";
    case ICI3D_ARGS_MAX_SELECTED_SMALL:
      return "max_selected is smaller than 1 or than the longest candidate list";
    default: return "unknown argument error";
  }
}

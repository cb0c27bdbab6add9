# Sources of the core library, for the main build and the fuzz build.
# Exported functions: one per source file, named after it.
set(ICI3D_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/driver/square_neigh_ici_denoi_recur_pure_c_parallel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver/ici3d_denoise_with_progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver/main_loop3_parallel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver/second_loop_no_omp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver/ici3d_check_arguments.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver/ici3d_describe_argument_error.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver/progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/geometry/local_coordinate_for_ici_c.cpp
  ${CMAKE_CURRENT_LIST_DIR}/geometry/find_index_square4.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ici/polynomkernel_single_est_ord1.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ici/first_loop_omp.cpp
  # The eigen solver: only eigeng is exported.
  ${CMAKE_CURRENT_LIST_DIR}/eigen/eigeng.cpp
  ${CMAKE_CURRENT_LIST_DIR}/eigen/balance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/eigen/hessenberg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/eigen/back_substitution.cpp
  ${CMAKE_CURRENT_LIST_DIR}/eigen/complex_divide.cpp)

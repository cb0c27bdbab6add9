# Neighbour search (nanoflann, confined to point_index.cpp) and the spacing and
# noise estimates.
target_sources(ici3d_host PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/point_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/neighbors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/plane_fit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/robust_stats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/estimate.cpp)
# Distances decide orderings and ties: keep them free of fused multiply-adds.
set_source_files_properties(
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/point_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/neighbors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/estimate.cpp
  PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
find_path(NANOFLANN_INCLUDE_DIR nanoflann.hpp REQUIRED)
if(NOT NANOFLANN_INCLUDE_DIR IN_LIST CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/src/neighbors/point_index.cpp
    PROPERTIES INCLUDE_DIRECTORIES ${NANOFLANN_INCLUDE_DIR})
endif()

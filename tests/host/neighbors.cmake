ici3d_add_gtest(test_host_neighbors
  ${CMAKE_CURRENT_LIST_DIR}/test_neighbors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_estimate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_surface_estimate.cpp
  LIBS ici3d::host)

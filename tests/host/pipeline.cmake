ici3d_add_gtest(test_host_pipeline ${CMAKE_CURRENT_LIST_DIR}/test_denoise.cpp
  LIBS ici3d::host)

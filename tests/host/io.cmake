ici3d_add_gtest(test_host_io
  test_io_roundtrip.cpp
  LIBS ici3d::host)

ici3d_add_gtest(test_host_io
  test_io_roundtrip.cpp
  test_io_text.cpp
  test_io_errors.cpp
  LIBS ici3d::host)

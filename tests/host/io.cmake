# The independent-reader tests skip themselves when pcl-tools is missing.
ici3d_add_gtest(test_host_io
  test_io_roundtrip.cpp
  test_io_text.cpp
  test_io_errors.cpp
  test_io_external.cpp
  test_io_mutation.cpp
  LIBS ici3d::host)
ici3d_add_gtest(test_host_las test_las.cpp LIBS ici3d::host)

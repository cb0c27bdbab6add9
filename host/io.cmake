# Point cloud container and file formats (PLY, XYZ/TXT/CSV, PCD).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LZF REQUIRED IMPORTED_TARGET GLOBAL liblzf)
target_sources(ici3d_host PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/io/point_cloud.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/scalar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/input_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/slots.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/records.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/ply_elements.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/ply_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/ply_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/pcd_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/pcd_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/pcd_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/text_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/text_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/io.cpp)
target_link_libraries(ici3d_host PRIVATE PkgConfig::LZF)

# Point cloud container and file formats (PLY, XYZ/TXT/CSV, PCD, LAS).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LZF REQUIRED IMPORTED_TARGET GLOBAL liblzf)
set(_ici3d_io_sources
  point_cloud scalar input_source slots records
  ply_elements ply_reader ply_writer
  pcd_format pcd_reader pcd_writer
  text_reader text_writer
  las_format las_reader las_writer
  io)
list(TRANSFORM _ici3d_io_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/src/io/)
list(TRANSFORM _ici3d_io_sources APPEND .cpp)
target_sources(ici3d_host PRIVATE ${_ici3d_io_sources})
target_link_libraries(ici3d_host PRIVATE PkgConfig::LZF)

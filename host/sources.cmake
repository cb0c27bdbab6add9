# Sources of the host library, for the main build and the fuzz build.
set(ICI3D_HOST_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/src/version.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/points.cpp
  # Point cloud container and file formats (PLY, XYZ/TXT/CSV, PCD, LAS).
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
  ${CMAKE_CURRENT_LIST_DIR}/src/io/las_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/las_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/las_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/io/record_file.cpp
  # Neighbour search (nanoflann, confined to point_index.cpp) and the
  # spacing and noise estimates.
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/point_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/neighbors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/plane_fit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/robust_stats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/fit_noise.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/neighbors/estimate.cpp
  # The pipeline.
  ${CMAKE_CURRENT_LIST_DIR}/src/pipeline/denoise_tile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/pipeline/tiled_pass.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/pipeline/denoise.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/pipeline/denoise_file.cpp)

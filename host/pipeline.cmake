target_sources(ici3d_host PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/pipeline/denoise.cpp)

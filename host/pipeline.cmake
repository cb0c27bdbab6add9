target_sources(ici3d_host PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/pipeline/denoise.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/pipeline/library_output.cpp)
find_package(Threads REQUIRED)
target_link_libraries(ici3d_host PRIVATE Threads::Threads)

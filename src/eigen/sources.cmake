target_sources(ici3d PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/eigeng.cpp)

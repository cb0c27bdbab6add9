# Sources of the eigen solver; only eigeng is exported.
target_sources(ici3d PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/eigeng.cpp
  ${CMAKE_CURRENT_LIST_DIR}/balance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hessenberg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/back_substitution.cpp
  ${CMAKE_CURRENT_LIST_DIR}/complex_divide.cpp)

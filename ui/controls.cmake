# Controls of our own: the panel and the multi-thumb slider built on it.
add_library(ostrel_ui_controls STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/GuiThread.h
  ${CMAKE_CURRENT_SOURCE_DIR}/GuiThread.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Panel.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Panel.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Trislider.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Trislider.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/TrisliderGeometry.h
  ${CMAKE_CURRENT_SOURCE_DIR}/TrisliderGeometry.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/TrisliderPaint.cpp
)
target_include_directories(ostrel_ui_controls PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ostrel_ui_controls PUBLIC Qt6::Widgets)
ostrel_target_defaults(ostrel_ui_controls)

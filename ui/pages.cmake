# Settings pages (common, GSM, keys, ADC) and the key entry dialog.
add_library(ostrel_ui_pages STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/Page.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Page.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/RadioButton.h
  ${CMAKE_CURRENT_SOURCE_DIR}/RadioButton.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Marks.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Marks.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SettingNames.h
  ${CMAKE_CURRENT_SOURCE_DIR}/SettingNames.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/f_common.h
  ${CMAKE_CURRENT_SOURCE_DIR}/f_common.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/f_gsm.h
  ${CMAKE_CURRENT_SOURCE_DIR}/f_gsm.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/KeyDialog.h
  ${CMAKE_CURRENT_SOURCE_DIR}/KeyDialog.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/f_keys.h
  ${CMAKE_CURRENT_SOURCE_DIR}/f_keys.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/f_ACP.h
  ${CMAKE_CURRENT_SOURCE_DIR}/f_ACP.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AdcPlot.h
  ${CMAKE_CURRENT_SOURCE_DIR}/AdcPlot.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AdcCalibrate.h
  ${CMAKE_CURRENT_SOURCE_DIR}/AdcCalibrate.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AdcMonitor.h
  ${CMAKE_CURRENT_SOURCE_DIR}/AdcMonitor.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SettingsModel.h
  ${CMAKE_CURRENT_SOURCE_DIR}/SettingsModel.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/PageSettings.h
  ${CMAKE_CURRENT_SOURCE_DIR}/PageSettings.cpp
)
target_include_directories(ostrel_ui_pages PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ostrel_ui_pages PUBLIC Qt6::Widgets ostrel_ui_controls ostrel_persist ostrel_model)
ostrel_target_defaults(ostrel_ui_pages)

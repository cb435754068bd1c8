# The main window, its dialogs, the navigation bar and the appliers.
add_library(ostrel_ui STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/Appliers.h ${CMAKE_CURRENT_SOURCE_DIR}/Appliers.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ConnectDlg.h ${CMAKE_CURRENT_SOURCE_DIR}/ConnectDlg.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MainForm.h ${CMAKE_CURRENT_SOURCE_DIR}/MainForm.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MessageBox.h ${CMAKE_CURRENT_SOURCE_DIR}/MessageBox.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/NavBar.h ${CMAKE_CURRENT_SOURCE_DIR}/NavBar.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/NavIcons.h ${CMAKE_CURRENT_SOURCE_DIR}/NavIcons.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SplashDlg.h ${CMAKE_CURRENT_SOURCE_DIR}/SplashDlg.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/StatusPane.h ${CMAKE_CURRENT_SOURCE_DIR}/StatusPane.cpp
)
target_include_directories(ostrel_ui PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ostrel_ui PUBLIC ostrel_ui_pages ostrel_ui_controls ostrel_protocol
                      Qt6::Widgets Qt6::SerialPort)
ostrel_target_defaults(ostrel_ui)
target_link_libraries(ostrel_ui PUBLIC ostrel_persist_ui)

# What the window program sets up on its application, and its icon.
target_sources(ostrel_ui PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/AppSetup.h ${CMAKE_CURRENT_SOURCE_DIR}/AppSetup.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Accessibility.h ${CMAKE_CURRENT_SOURCE_DIR}/Accessibility.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MainFormDesktop.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MainFormLink.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MainFormMonitor.cpp ${CMAKE_CURRENT_SOURCE_DIR}/MainFormFiles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/OperationProgress.h ${CMAKE_CURRENT_SOURCE_DIR}/OperationProgress.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/WheelGuard.h ${CMAKE_CURRENT_SOURCE_DIR}/WheelGuard.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/WindowTexts.h ${CMAKE_CURRENT_SOURCE_DIR}/WindowTexts.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/RecentFiles.h ${CMAKE_CURRENT_SOURCE_DIR}/RecentFiles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Unsaved.h ${CMAKE_CURRENT_SOURCE_DIR}/Unsaved.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/FileNames.h ${CMAKE_CURRENT_SOURCE_DIR}/FileNames.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MainFormMenus.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SingleInstance.h ${CMAKE_CURRENT_SOURCE_DIR}/SingleInstance.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SerialWords.h ${CMAKE_CURRENT_SOURCE_DIR}/SerialWords.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MemoLines.h ${CMAKE_CURRENT_SOURCE_DIR}/MemoLines.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/FocusReturn.h ${CMAKE_CURRENT_SOURCE_DIR}/FocusReturn.cpp
)
qt_add_resources(ostrel_ui ostrel_icons PREFIX / BASE ${CMAKE_CURRENT_SOURCE_DIR} FILES
                 ${CMAKE_CURRENT_SOURCE_DIR}/icons/ostrelgsm4.svg)

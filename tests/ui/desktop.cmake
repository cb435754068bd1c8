ostrel_add_qtest(tst_desktop ${CMAKE_CURRENT_SOURCE_DIR}/tst_desktop.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_desktop PRIVATE ostrel_ui)

ostrel_add_qtest(tst_keyboard_walk ${CMAKE_CURRENT_SOURCE_DIR}/tst_keyboard_walk.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_keyboard_walk PRIVATE ostrel_ui ostrel_panelsim)

ostrel_add_qtest(tst_window ${CMAKE_CURRENT_SOURCE_DIR}/tst_window.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_window PRIVATE ostrel_ui ostrel_panelsim)

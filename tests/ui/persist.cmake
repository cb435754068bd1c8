ostrel_add_qtest(tst_persist_gui ${CMAKE_CURRENT_SOURCE_DIR}/tst_persist_gui.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_persist_gui PRIVATE ostrel_ui ostrel_panelsim)
ostrel_add_qtest(tst_safe_input ${CMAKE_CURRENT_SOURCE_DIR}/tst_safe_input.cpp)
target_link_libraries(tst_safe_input PRIVATE ostrel_ui)

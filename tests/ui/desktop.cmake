ostrel_add_qtest(tst_desktop ${CMAKE_CURRENT_SOURCE_DIR}/tst_desktop.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_desktop PRIVATE ostrel_ui)

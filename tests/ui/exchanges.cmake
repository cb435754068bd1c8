ostrel_add_qtest(tst_exchange_gui ${CMAKE_CURRENT_SOURCE_DIR}/tst_exchange_gui.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_exchange_gui PRIVATE ostrel_ui ostrel_panelsim)

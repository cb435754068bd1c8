ostrel_add_qtest(tst_exchange_gui ${CMAKE_CURRENT_SOURCE_DIR}/tst_exchange_gui.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_exchange_gui PRIVATE ostrel_ui ostrel_panelsim)
ostrel_add_qtest(tst_adc_monitor ${CMAKE_CURRENT_SOURCE_DIR}/tst_adc_monitor.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_adc_monitor PRIVATE ostrel_ui ostrel_panelsim)

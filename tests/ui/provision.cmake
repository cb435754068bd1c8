ostrel_add_qtest(tst_provision ${CMAKE_CURRENT_SOURCE_DIR}/tst_provision.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_provision PRIVATE ostrel_ui ostrel_panelsim)

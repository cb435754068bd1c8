ostrel_add_qtest(tst_call ${CMAKE_CURRENT_SOURCE_DIR}/tst_call.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_call PRIVATE ostrel_ui ostrel_ops ostrel_panelsim)

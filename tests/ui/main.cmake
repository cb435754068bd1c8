ostrel_add_qtest(tst_mainform ${CMAKE_CURRENT_SOURCE_DIR}/tst_mainform.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_mainform PRIVATE ostrel_ui ostrel_panelsim)

ostrel_add_qtest(tst_appliers ${CMAKE_CURRENT_SOURCE_DIR}/tst_appliers.cpp)
target_link_libraries(tst_appliers PRIVATE ostrel_ui)

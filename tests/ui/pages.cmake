# Tests of the settings pages and the key entry dialog (Qt Test, offscreen).
ostrel_add_qtest(tst_pages_common ${CMAKE_CURRENT_SOURCE_DIR}/tst_pages_common.cpp)
target_link_libraries(tst_pages_common PRIVATE ostrel_ui_pages)
ostrel_add_qtest(tst_keydialog ${CMAKE_CURRENT_SOURCE_DIR}/tst_keydialog.cpp)
target_link_libraries(tst_keydialog PRIVATE ostrel_ui_pages)
ostrel_add_qtest(tst_pages_acp ${CMAKE_CURRENT_SOURCE_DIR}/tst_pages_acp.cpp)
target_link_libraries(tst_pages_acp PRIVATE ostrel_ui_pages)
ostrel_add_qtest(tst_pages_layout ${CMAKE_CURRENT_SOURCE_DIR}/tst_pages_layout.cpp)
target_link_libraries(tst_pages_layout PRIVATE ostrel_ui_pages)

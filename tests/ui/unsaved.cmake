# Changes not yet written: marks, the question before replacing the pages,
# the undo of a load, compare with a file, the settings' names.
ostrel_add_qtest(tst_unsaved ${CMAKE_CURRENT_SOURCE_DIR}/tst_unsaved.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_unsaved PRIVATE ostrel_ui ostrel_panelsim)

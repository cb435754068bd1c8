ostrel_add_qtest(tst_provision ${CMAKE_CURRENT_SOURCE_DIR}/tst_provision.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_provision PRIVATE ostrel_ui ostrel_panelsim)
# Read all, Save, Load, Write all for panel states drawn by RapidCheck.
ostrel_add_qtest(tst_round_trips_gui ${CMAKE_CURRENT_SOURCE_DIR}/tst_round_trips_gui.cpp
                 ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h ${PROJECT_SOURCE_DIR}/tests/common/PanelStates.h)
target_link_libraries(tst_round_trips_gui PRIVATE ostrel_ui ostrel_panelsim rapidcheck)

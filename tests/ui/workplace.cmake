ostrel_add_qtest(tst_workplace ${CMAKE_CURRENT_SOURCE_DIR}/tst_workplace.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h)
target_link_libraries(tst_workplace PRIVATE ostrel_ui ostrel_panelsim)

ostrel_add_qtest(tst_single_instance ${CMAKE_CURRENT_SOURCE_DIR}/tst_single_instance.cpp)
target_link_libraries(tst_single_instance PRIVATE ostrel_ui)
target_compile_definitions(tst_single_instance PRIVATE OSTRELGSM4_WINDOW_BINARY="$<TARGET_FILE:ostrelgsm4-window>")
add_dependencies(tst_single_instance ostrelgsm4-window)

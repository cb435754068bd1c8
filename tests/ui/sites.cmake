ostrel_add_qtest(tst_sites ${CMAKE_CURRENT_SOURCE_DIR}/tst_sites.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GuiFixture.h
  ${CMAKE_CURRENT_SOURCE_DIR}/SitesFixture.h)
target_link_libraries(tst_sites PRIVATE ostrel_ui ostrel_panelsim)
ostrel_add_qtest(tst_sites_page ${CMAKE_CURRENT_SOURCE_DIR}/tst_sites_page.cpp ${CMAKE_CURRENT_SOURCE_DIR}/SitesFixture.h)
target_link_libraries(tst_sites_page PRIVATE ostrel_ui ostrel_panelsim)

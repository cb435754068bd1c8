# The "Объекты" group: the site library on its own thread, its page and
# dialogs, the recording of the window's operations.
target_sources(ostrel_ui PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/OperationEnd.h
  ${CMAKE_CURRENT_SOURCE_DIR}/SiteLibrary.h ${CMAKE_CURRENT_SOURCE_DIR}/SiteLibrary.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Sites.h ${CMAKE_CURRENT_SOURCE_DIR}/Sites.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SitesRecording.cpp ${CMAKE_CURRENT_SOURCE_DIR}/SitesRecords.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SitesPage.h ${CMAKE_CURRENT_SOURCE_DIR}/SitesPage.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SiteDialogs.h ${CMAKE_CURRENT_SOURCE_DIR}/SiteDialogs.cpp
)
target_link_libraries(ostrel_ui PUBLIC ostrel_library_use)

# Compare with the panel, backups before and checks after Write all.
target_sources(ostrel_ui PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/Provision.h ${CMAKE_CURRENT_SOURCE_DIR}/Provision.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CompareDlg.h ${CMAKE_CURRENT_SOURCE_DIR}/CompareDlg.cpp
)
# The order of the steps is the command line's too.
target_link_libraries(ostrel_ui PUBLIC ostrel_ops)

# The window's figures (offscreen platform): log pane latency under a flood
# of lines, status bar redraws under a flood of byte counts, start-up with a
# large profile. A plain program that prints its figures against the
# targets; exits 1 when one is missed.
if(QB_BUILD_UI)
  add_executable(bench_window bench_window.cpp)
  target_include_directories(bench_window PRIVATE ${PROJECT_SOURCE_DIR}/ui)
  target_link_libraries(bench_window PRIVATE qb_ui)
  set_target_properties(bench_window PROPERTIES AUTOMOC ON)
  qb_ui_warnings(bench_window)
endif()

# The folder tree's model with large profiles and listings.
if(QB_BUILD_UI)
  add_executable(bench_tree bench_tree.cpp)
  target_include_directories(bench_tree PRIVATE ${PROJECT_SOURCE_DIR}/ui)
  target_link_libraries(bench_tree PRIVATE qb_ui)
  qb_ui_warnings(bench_tree)
endif()

# The content list's model with 100,000-row folders, remote and local.
if(QB_BUILD_UI)
  add_executable(bench_content bench_content.cpp)
  target_include_directories(bench_content PRIVATE ${PROJECT_SOURCE_DIR}/ui)
  target_link_libraries(bench_content PRIVATE qb_ui)
  qb_ui_warnings(bench_content)
endif()

# A large download started by paste in the window against qbftp get of the
# same file, interleaved, with the event loop's lateness meanwhile.
if(QB_BUILD_UI)
  add_executable(bench_paste bench_paste.cpp)
  target_include_directories(bench_paste PRIVATE ${PROJECT_SOURCE_DIR}/ui)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Network)
  target_link_libraries(bench_paste PRIVATE qb_ui Qt6::Network)
  add_dependencies(bench_paste qbftp)
  qb_ui_warnings(bench_paste)
endif()

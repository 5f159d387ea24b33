# Tests of the window (Qt Test, in-process on the offscreen platform). They
# are built with the window only, so the sanitizer builds leave them out.
find_package(Qt6 6.4 REQUIRED COMPONENTS Test)

add_library(qb_ui_test_support STATIC ui/ui_support.cpp)
find_package(Qt6 6.4 REQUIRED COMPONENTS Network)
target_link_libraries(qb_ui_test_support PUBLIC qb_ui Qt6::Test Qt6::Network)
# The test servers' pyftpdlib, with its active-mode fault mended.
target_compile_definitions(qb_ui_test_support
                           PRIVATE QB_PYFTPD_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/pyftpd.py")
set_target_properties(qb_ui_test_support PROPERTIES AUTOMOC ON)
target_include_directories(qb_ui_test_support PUBLIC ${PROJECT_SOURCE_DIR}/ui
                                                     ${CMAKE_CURRENT_SOURCE_DIR}/ui)
qb_ui_warnings(qb_ui_test_support)

# qb_ui_test(NAME SOURCE)
function(qb_ui_test name source)
  add_executable(${name} ${source})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE qb_ui_test_support)
  qb_ui_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "ui" TIMEOUT 120
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QPA_OFFSCREEN_NO_GLX=1")
endfunction()

qb_ui_test(test_ui_widgets ui/test_widgets.cpp)
qb_ui_test(test_ui_frame ui/test_frame.cpp)
qb_ui_test(test_ui_questions ui/test_questions.cpp)
qb_ui_test(test_ui_settings ui/test_settings.cpp)
qb_ui_test(test_ui_item_dialogs ui/test_item_dialogs.cpp)
qb_ui_test(test_ui_local_properties ui/test_local_properties.cpp)
qb_ui_test(test_ui_tree_model ui/test_tree_model.cpp)
qb_ui_test(test_ui_clipboard ui/test_clipboard.cpp)
qb_ui_test(test_ui_tree ui/test_tree.cpp)
target_link_libraries(test_ui_tree PRIVATE Qt6::Network)
qb_ui_test(test_ui_content_model ui/test_content_model.cpp)
qb_ui_test(test_ui_content ui/test_content.cpp)
target_link_libraries(test_ui_content PRIVATE Qt6::Network)
qb_ui_test(test_ui_paste ui/test_paste.cpp)
qb_ui_test(test_ui_servers ui/test_servers.cpp)
qb_ui_test(test_ui_proxy ui/test_proxy.cpp)
target_link_libraries(test_ui_proxy PRIVATE qb_test_support)

# The real program under Xvfb (skipped only where Xvfb cannot start); the
# screenshots go to the build folder.
add_test(NAME ui_e2e_xvfb
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/ui/e2e_xvfb.sh $<TARGET_FILE:quillbeck>
                 $<TARGET_FILE:quillbeck-demo-profile> ${PROJECT_BINARY_DIR}/screenshots)
set_tests_properties(ui_e2e_xvfb PROPERTIES LABELS "ui" TIMEOUT 120 SKIP_RETURN_CODE 77)

# scripts/demo.sh with a stand-in for the window.
add_test(NAME ui_demo
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/ui/demo_test.sh ${PROJECT_SOURCE_DIR}
                 $<TARGET_FILE:qbftp> $<TARGET_FILE:quillbeck-demo-profile>)
set_tests_properties(ui_demo PROPERTIES LABELS "ui" TIMEOUT 120 SKIP_RETURN_CODE 77)

# --version, --help and the start without a display.
add_test(NAME ui_command_line
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/ui/command_line_test.sh $<TARGET_FILE:quillbeck>
                 ${PROJECT_VERSION})
set_tests_properties(ui_command_line PROPERTIES LABELS "ui" TIMEOUT 60)

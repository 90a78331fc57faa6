# One helper adds every test executable:
#   relvane_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [QT])
# QT marks a test that needs a QApplication on the offscreen platform; it links
# tests/support's Qt test main instead of gtest_main.
find_package(GTest REQUIRED)
include(GoogleTest)

function(relvane_add_test)
  cmake_parse_arguments(T "QT" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest)
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE relvane_qt_test_main)
  else()
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(${T_NAME} PRIVATE
    RELVANE_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
    RELVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
endfunction()

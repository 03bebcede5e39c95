# kestrel_add_qt_gtest(name SOURCES... LIBS...): a GoogleTest program that
# drives Qt windows. It gets the Qt test main (a QApplication) and the modal
# helpers; each case runs on the offscreen platform with a Qt function timeout
# and a CTest timeout, so a forgotten modal box aborts instead of hanging.
include_guard(GLOBAL)
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

add_library(kestrel_qt_test_support STATIC ${CMAKE_SOURCE_DIR}/tests/desktop/qt_test_support.cpp
            ${CMAKE_SOURCE_DIR}/tests/desktop/qt_test_support.h)
target_link_libraries(kestrel_qt_test_support PUBLIC Qt6::Widgets Qt6::Test GTest::gtest)
set_target_properties(kestrel_qt_test_support PROPERTIES AUTOMOC ON)

# A temporary application folder with the embedded store (see desktop_home.h).
add_library(kestrel_desktop_test_support STATIC ${CMAKE_SOURCE_DIR}/tests/desktop/desktop_home.cpp)
target_link_libraries(kestrel_desktop_test_support PUBLIC kestrel_store_test_support kestrel_store
                      kestrel_test_support)

function(kestrel_add_qt_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  kestrel_add_gtest(${name}
    SOURCES ${CMAKE_SOURCE_DIR}/tests/desktop/qt_test_main.cpp ${ARG_SOURCES}
    LIBS kestrel_qt_test_support ${ARG_LIBS}
    PROPERTIES
      ENVIRONMENT QT_QPA_PLATFORM=offscreen
      ENVIRONMENT_MODIFICATION QTEST_FUNCTION_TIMEOUT=set:60000
      TIMEOUT 120)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  # Tests that run the programs themselves.
  foreach(program jotter kestrel)
    if(TARGET ${program})
      string(TOUPPER ${program} upper)
      target_compile_definitions(${name} PRIVATE KESTREL_PROGRAM_${upper}="$<TARGET_FILE:${program}>")
      add_dependencies(${name} ${program})
    endif()
  endforeach()
endfunction()

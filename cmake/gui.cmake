# The Qt window: the tern_app library (window, pages, transfer engine,
# widgets), the ternab program and the window's tests.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

file(GLOB TERN_APP_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/app/*.cpp
  ${CMAKE_SOURCE_DIR}/src/app/*.h
  ${CMAKE_SOURCE_DIR}/src/widgets/*.cpp
  ${CMAKE_SOURCE_DIR}/src/widgets/*.h
  ${CMAKE_SOURCE_DIR}/src/transfer/*.cpp
  ${CMAKE_SOURCE_DIR}/src/transfer/*.h
  ${CMAKE_SOURCE_DIR}/src/controls/*.cpp
  ${CMAKE_SOURCE_DIR}/src/controls/*.h
)
list(REMOVE_ITEM TERN_APP_SOURCES ${CMAKE_SOURCE_DIR}/src/app/main.cpp)

add_library(tern_app STATIC ${TERN_APP_SOURCES})
set_target_properties(tern_app PROPERTIES AUTOMOC ON)
target_include_directories(tern_app PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(tern_app PUBLIC tern_link tern_camera Qt6::Widgets)

add_executable(ternab ${CMAKE_SOURCE_DIR}/src/app/main.cpp)
target_link_libraries(ternab PRIVATE tern_app)

file(GLOB TERN_GUI_TESTS CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/app/*_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/widgets/*_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/transfer/*_test.cpp
)
if(TERN_GUI_TESTS)
  add_executable(gui_tests ${TERN_GUI_TESTS} ${CMAKE_SOURCE_DIR}/tests/app/gui_main.cpp)
  target_include_directories(gui_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(gui_tests PRIVATE tern_app Qt6::Test GTest::gtest)
  gtest_discover_tests(gui_tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ENVIRONMENT QT_QPA_PLATFORM=offscreen
  )
endif()

# The eventing layer and the two event sinks, against the simulated driver.
# The sinks find their type information in the program's own TYPELIB resource.
add_executable(com_sink_tests
  ${CMAKE_CURRENT_LIST_DIR}/SinkInvokeTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SinkObjectTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EventingTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RundownTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SinkFuzzTests.cpp)
target_link_libraries(com_sink_tests PRIVATE dravlo_com dravlo_library_objects dravlo_resources axis_sim)
dravlo_add_wine_test(com_sink_tests)

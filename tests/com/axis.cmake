# The driver's creation sequence and the simulated Axis driver itself.
add_executable(com_axis_tests
  ${CMAKE_CURRENT_LIST_DIR}/AxisCreationTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AxisCollectionTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AxisSimulatorTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AxisRegistrationTests.cpp)
target_link_libraries(com_axis_tests PRIVATE dravlo_com axis_sim)
dravlo_add_wine_test(com_axis_tests)

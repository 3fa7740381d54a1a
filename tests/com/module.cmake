# The COM server module: entry points, class objects, lock count, the built
# DLL's export and import tables, resources and type library.
add_executable(com_module_tests
  ${CMAKE_CURRENT_LIST_DIR}/ModuleTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ModuleImageTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ModuleTypeLibTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ModuleTestSupport.cpp)
target_link_libraries(com_module_tests PRIVATE dravlo_library_objects dravlo_com version)
# The version resource is checked against the project's version as CMake has it.
target_compile_definitions(com_module_tests PRIVATE
  DRAVLO_EXPECTED_VERSION="${PROJECT_VERSION}" DRAVLO_EXPECTED_DESCRIPTION="${PROJECT_DESCRIPTION}")
add_dependencies(com_module_tests Dravlo)
dravlo_add_wine_test(com_module_tests)

# Self-registration changes the prefix's registry: its tests run serially.
add_executable(com_registration_tests
  ${CMAKE_CURRENT_LIST_DIR}/RegistrationTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatorServerTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ModuleTestSupport.cpp)
target_link_libraries(com_registration_tests PRIVATE dravlo_com ole32 oleaut32 uuid advapi32)
add_dependencies(com_registration_tests Dravlo AxisSimulator)
dravlo_add_wine_test(com_registration_tests RUN_SERIAL TRUE)

# Installs the release preset's build RELEASE_BUILD into PREFIX as a user
# does, and the simulator component of SIMULATOR_BUILD beside it, as
# docs/simulator.md tells a user who works without the devices.
if(NOT EXISTS ${RELEASE_BUILD}/cmake_install.cmake OR NOT EXISTS ${RELEASE_BUILD}/bin/Dravlo.dll)
  message(FATAL_ERROR "FAILED: the release preset is not built in ${RELEASE_BUILD}: "
    "cmake --preset release && cmake --build --preset release")
endif()
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${RELEASE_BUILD} --prefix ${PREFIX}
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "FAILED: cmake --install ${RELEASE_BUILD} --prefix ${PREFIX}: ${status}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --install ${SIMULATOR_BUILD} --prefix ${PREFIX} --component simulator
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "FAILED: cmake --install ${SIMULATOR_BUILD} --prefix ${PREFIX} --component simulator: ${status}")
endif()
message(STATUS "release installed into ${PREFIX}, with the simulator")

# The Java listener tests: Java listeners and event objects on the JVM
# stand-in, registrations racing events on many threads. Under Wine here, and
# natively under the sanitizers (tests/sanitizers).
set(dravlo_listener_test_sources
  ${CMAKE_CURRENT_LIST_DIR}/ListenerFixture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListenerEventsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListenerRegistrationTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListenerThreadTest.cpp)

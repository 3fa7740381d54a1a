# The eventing layer: receivers' connection nodes, the two event sinks and
# their stateless helpers.
target_sources(dravlo_com PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/EventSink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SinkSupport.cpp)

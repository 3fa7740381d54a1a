# Dravlo.dll: every product folder, the static-objects unit, the resources
# (type library and manifest) and the export list. Statically linked, so it
# imports only system DLLs.
add_library(Dravlo SHARED
  $<TARGET_OBJECTS:dravlo_library_objects>
  $<TARGET_OBJECTS:dravlo_resources>
  ${CMAKE_SOURCE_DIR}/com/Dravlo.def)
set_target_properties(Dravlo PROPERTIES PREFIX "" OUTPUT_NAME Dravlo)
target_link_libraries(Dravlo PRIVATE dravlo_jogdial dravlo_keypad dravlo_com dravlo_bridge_win dravlo_bridge)

# The COM server module: self-registration sources and the type library
# compiled by widl, which Dravlo.dll and test programs embed as a resource.
target_sources(dravlo_com PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Registration.cpp)

# widl (mingw-w64-tools) needs Wine's IDL files, which mingw-w64 does not ship,
# and Wine's stdole2.tlb for importlib("stdole2.tlb").
find_program(DRAVLO_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
set(DRAVLO_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "Wine's IDL files (libwine-dev)")
set(DRAVLO_WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Directory of Wine's stdole2.tlb")

# widl writes the coclasses' default interface IUnknown into the library as a
# type description of its own; MIDL would reference stdole2's. dravlo_tlbfix,
# a build tool run under the cross-compiling emulator (Wine), copies widl's
# library without that stand-in, with every IUnknown and IDispatch reference
# pointing into stdole2.tlb, and fails the build unless the copy reads back
# with exactly the library's five type descriptions.
add_executable(dravlo_tlbfix
  ${CMAKE_CURRENT_LIST_DIR}/tools/TypeLibFix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/TypeLibTools.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/TypeLibFile.cpp)
target_link_libraries(dravlo_tlbfix PRIVATE ole32 oleaut32 uuid)
set_target_properties(dravlo_tlbfix PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

set(DRAVLO_TYPELIB_WIDL ${CMAKE_CURRENT_BINARY_DIR}/DravloDriver.widl.tlb)
set(DRAVLO_TYPELIB ${CMAKE_CURRENT_BINARY_DIR}/DravloDriver.tlb)
add_custom_command(
  OUTPUT ${DRAVLO_TYPELIB_WIDL}
  COMMAND ${DRAVLO_WIDL} --win64 -t
          -I ${DRAVLO_WINE_IDL_DIR} -L ${DRAVLO_WINE_TLB_DIR}
          -o ${DRAVLO_TYPELIB_WIDL} ${CMAKE_CURRENT_LIST_DIR}/DravloDriver.idl
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/DravloDriver.idl
  COMMENT "widl: type library DravloDriver"
  VERBATIM)
# The tool's paths are relative to the working directory, so the emulator
# needs no path translation. Its first run in a fresh build directory creates
# the Wine prefix (about 10 s).
add_custom_command(
  OUTPUT ${DRAVLO_TYPELIB}
  COMMAND dravlo_tlbfix DravloDriver.widl.tlb DravloDriver.tlb 5
  DEPENDS ${DRAVLO_TYPELIB_WIDL} dravlo_tlbfix
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  COMMENT "dravlo_tlbfix: type library DravloDriver with stdole2's IUnknown"
  VERBATIM)
add_custom_target(dravlo_typelib DEPENDS ${DRAVLO_TYPELIB})

# The resource script of Dravlo.dll (dll/) embeds the file by name; it finds
# it through this property.
set_target_properties(dravlo_typelib PROPERTIES DRAVLO_TYPELIB_FILE ${DRAVLO_TYPELIB})

# Avian, a real Java virtual machine for 64-bit Windows, cross-built from its
# source into this build tree by the source's own build.sh. The source is
# DRAVLO_AVIAN_SRC (environment) or ../shared/third_party/avian beside the
# repository. Without it, DRAVLO_AVIAN is false and one line says what is
# missing; everything else builds and tests as before.
if(DEFINED ENV{DRAVLO_AVIAN_SRC})
  set(DRAVLO_AVIAN_SRC $ENV{DRAVLO_AVIAN_SRC})
else()
  get_filename_component(DRAVLO_AVIAN_SRC ${CMAKE_SOURCE_DIR}/../shared/third_party/avian ABSOLUTE)
endif()
set(DRAVLO_AVIAN_DIR ${CMAKE_BINARY_DIR}/avian)
set(DRAVLO_AVIAN_EXE ${DRAVLO_AVIAN_DIR}/avian.exe)
set(DRAVLO_AVIAN_CLASSPATH ${DRAVLO_AVIAN_DIR}/classpath)
file(REMOVE ${CMAKE_BINARY_DIR}/avian.txt)

if(NOT EXISTS ${DRAVLO_AVIAN_SRC}/build.sh)
  set(DRAVLO_AVIAN FALSE)
  message(NOTICE "realjvm.* tests skipped: no Avian source in ${DRAVLO_AVIAN_SRC} (no build.sh there; DRAVLO_AVIAN_SRC may name its folder)")
  return()
endif()
set(DRAVLO_AVIAN TRUE)

# build.sh leaves an existing build alone, so the touch keeps make from
# asking again when only the copy of the source is newer.
file(GLOB avian_inputs ${DRAVLO_AVIAN_SRC}/*)
add_custom_command(
  OUTPUT ${DRAVLO_AVIAN_EXE}
  COMMAND bash ${DRAVLO_AVIAN_SRC}/build.sh ${DRAVLO_AVIAN_DIR} >/dev/null
  COMMAND ${CMAKE_COMMAND} -E touch ${DRAVLO_AVIAN_EXE}
  DEPENDS ${avian_inputs}
  COMMENT "build.sh: the Avian JVM for Windows (about a minute the first time)"
  VERBATIM)
add_custom_target(dravlo_avian ALL DEPENDS ${DRAVLO_AVIAN_EXE})

# A path as a Windows program under Wine sees it.
function(dravlo_windows_path out path)
  string(REPLACE "/" "\\" windows "Z:${path}")
  set(${out} "${windows}" PARENT_SCOPE)
endfunction()

# scripts/demo.sh runs the example on Avian when this file names the JVM and
# the example's class path (the jar and the example's classes).
dravlo_windows_path(demo_jar ${CMAKE_BINARY_DIR}/java/dravlo-${PROJECT_VERSION}.jar)
dravlo_windows_path(demo_classes ${CMAKE_BINARY_DIR}/java/example)
file(WRITE ${CMAKE_BINARY_DIR}/avian.txt "${DRAVLO_AVIAN_EXE}\n${demo_jar};${demo_classes}\n")

# dravlo_avian_javac(<target> <output dir> CLASSPATH <dirs or jars> SOURCES <files>):
# Java 8 sources compiled against Avian's class library, so they use nothing
# Avian lacks.
function(dravlo_avian_javac target out)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "CLASSPATH;SOURCES;DEPENDS")
  list(JOIN arg_CLASSPATH ":" classpath)
  add_custom_command(
    OUTPUT ${out}/.compiled
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${out}
    COMMAND ${DRAVLO_JAVAC} -source 8 -target 8 -encoding UTF-8 -Xlint:all,-options -Werror
            -bootclasspath ${DRAVLO_AVIAN_CLASSPATH} -cp ${classpath} -d ${out} ${arg_SOURCES}
    COMMAND ${CMAKE_COMMAND} -E touch ${out}/.compiled
    DEPENDS ${arg_SOURCES} ${arg_DEPENDS} ${DRAVLO_AVIAN_EXE}
    COMMENT "javac against Avian's class library: ${target}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${out}/.compiled)
  # The file dependency on avian.exe names an output of another directory,
  # which make can only wait for through the target that builds it.
  add_dependencies(${target} dravlo_avian)
endfunction()

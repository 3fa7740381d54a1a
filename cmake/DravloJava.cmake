# The Java library around Dravlo.dll: Javadoc with its overview page, checked
# with every doclint group (a warning fails the build), and dravlo_add_jar,
# which packs the library's classes, a native library under
# natives/<platform>/, the licence and notice under META-INF/ and a manifest
# with the project's title, version, module name and main class (the monitor).
find_program(DRAVLO_JAVADOC javadoc HINTS ${DRAVLO_JDK_HOME}/bin REQUIRED)
find_program(DRAVLO_JAR jar HINTS ${DRAVLO_JDK_HOME}/bin REQUIRED)

set(DRAVLO_JAVADOC_DIR ${CMAKE_BINARY_DIR}/java/javadoc)
add_custom_command(
  OUTPUT ${DRAVLO_JAVADOC_DIR}/index.html
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${DRAVLO_JAVADOC_DIR}
  COMMAND ${DRAVLO_JAVADOC} --release 8 -Xdoclint:all -Werror -quiet -notimestamp
          -doctitle "Dravlo ${PROJECT_VERSION}" -windowtitle "Dravlo ${PROJECT_VERSION}"
          -overview ${CMAKE_SOURCE_DIR}/java/overview.html -d ${DRAVLO_JAVADOC_DIR} ${DRAVLO_JAVA_SOURCES}
  DEPENDS ${DRAVLO_JAVA_SOURCES} ${CMAKE_SOURCE_DIR}/java/overview.html
  COMMENT "javadoc -Xdoclint:all: the Java library's documentation"
  VERBATIM)
add_custom_target(dravlo_javadoc ALL DEPENDS ${DRAVLO_JAVADOC_DIR}/index.html)

set(DRAVLO_JAR_MANIFEST ${CMAKE_BINARY_DIR}/java/MANIFEST.MF)
# The module name is the package's, as the module path expects of an automatic
# module; java -jar runs the monitor. Written only when it changes, since the
# jars depend on it.
file(CONFIGURE OUTPUT ${DRAVLO_JAR_MANIFEST} CONTENT
  "Implementation-Title: Dravlo\nImplementation-Version: ${PROJECT_VERSION}\nAutomatic-Module-Name: applet.utils.dravlo\nMain-Class: applet.utils.dravlo.monitor.Monitor\n"
  @ONLY)

# Every jar carries the licence and the notice, as the licence asks of every
# copy: they come from META-INF/ of this one staging folder.
set(DRAVLO_LEGAL_DIR ${CMAKE_BINARY_DIR}/java/legal)
file(COPY ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/NOTICE DESTINATION ${DRAVLO_LEGAL_DIR}/META-INF)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/NOTICE)

# dravlo_add_jar(<target> <jar file> <native library target>): the
# contract's classes plus the library as natives/<this platform>/<its file name>.
function(dravlo_add_jar target jar native_target)
  if(WIN32)
    set(platform windows-x86_64)
  else()
    set(platform linux-x86_64)
  endif()
  set(staging ${CMAKE_CURRENT_BINARY_DIR}/${target}-natives)
  add_custom_command(
    OUTPUT ${jar}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${staging} ${jar}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${staging}/natives/${platform}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${native_target}>
            ${staging}/natives/${platform}/$<TARGET_FILE_NAME:${native_target}>
    COMMAND ${DRAVLO_JAR} --create --file ${jar} --manifest ${DRAVLO_JAR_MANIFEST}
            -C ${DRAVLO_JAVA_CLASSES} applet -C ${staging} natives -C ${DRAVLO_LEGAL_DIR} META-INF
    DEPENDS ${native_target} dravlo_java_contract ${DRAVLO_JAVA_SOURCES} ${DRAVLO_JAR_MANIFEST}
            ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/NOTICE
    COMMENT "jar: ${jar}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${jar})
endfunction()

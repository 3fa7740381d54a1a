# Installs BUILD_DIR into SCRATCH and checks every file that lands there and
# every entry of the jar; reports all differences, then fails once.
set(problems "")
macro(expect_equal what expected actual)
  if(NOT "${expected}" STREQUAL "${actual}")
    string(APPEND problems "\n${what}:\n  expected ${expected}\n  found    ${actual}")
  endif()
endmacro()

file(REMOVE_RECURSE ${SCRATCH})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${SCRATCH}/prefix
  RESULT_VARIABLE status OUTPUT_QUIET)
expect_equal("cmake --install" 0 "${status}")
set(prefix ${SCRATCH}/prefix)

# The layout, with the Javadoc tree checked by its entry pages.
set(doc share/doc/dravlo)
set(base lib/dravlo-${VERSION})
set(expected bin/Dravlo.dll ${base}.jar ${base}-sources.jar ${base}-javadoc.jar ${base}.pom lib/LICENSE lib/NOTICE
  ${doc}/README.md ${doc}/CHANGELOG.md ${doc}/LICENSE ${doc}/NOTICE ${doc}/DravloExample.java)
if(PDB)
  list(APPEND expected bin/Dravlo.pdb)
endif()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(FILTER found EXCLUDE REGEX "^${doc}/api/")
list(SORT expected)
list(SORT found)
expect_equal("installed files" "${expected}" "${found}")

# The simulator is a component of its own: asked for, it installs its DLL and
# nothing else (and the layout above shows it is left out otherwise).
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${SCRATCH}/simulator --component simulator
  RESULT_VARIABLE status OUTPUT_QUIET)
expect_equal("cmake --install --component simulator" 0 "${status}")
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${SCRATCH}/simulator ${SCRATCH}/simulator/*)
expect_equal("simulator component" "bin/AxisSimulator.dll" "${found}")

foreach(page index.html applet/utils/dravlo/DravloLibrary.html applet/utils/dravlo/KeyPadDriver.html)
  if(NOT EXISTS ${prefix}/${doc}/api/${page})
    string(APPEND problems "\nJavadoc page ${doc}/api/${page} missing")
  endif()
endforeach()
file(STRINGS ${prefix}/${doc}/api/index.html title REGEX "<title>|id=\"threads\"")
expect_equal("Javadoc title and overview" "<title>Overview (Dravlo ${VERSION})</title>;<h1 id=\"threads\">Threads</h1>"
  "${title}")
file(STRINGS ${prefix}/${base}.pom coordinates REGEX "^  <(groupId|artifactId|version)>")
expect_equal("POM coordinates" "  <groupId>applet.utils</groupId>;  <artifactId>dravlo</artifactId>;  <version>${VERSION}</version>"
  "${coordinates}")

# The entries of a jar, without folders and without nested classes.
function(jar_entries out jar)
  execute_process(COMMAND ${JAR_TOOL} --list --file ${jar} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  expect_equal("jar --list ${jar}" 0 "${status}")
  string(REGEX REPLACE "\n$" "" listing "${listing}")
  string(REPLACE "\n" ";" entries "${listing}")
  list(FILTER entries EXCLUDE REGEX "/$|\\$")
  list(SORT entries)
  set(${out} "${entries}" PARENT_SCOPE)
  set(problems "${problems}" PARENT_SCOPE)
endfunction()
set(classes DialEvent DialListener DravloLibrary JogDialDriver KeyCommand KeyEvent KeyListener KeyPadDriver
  Delivery DriverHandle JogDial KeyPad)

# The jar: the classes, the library for Windows x64 and nothing else.
set(jar ${prefix}/lib/dravlo-${VERSION}.jar)
if(NOT EXISTS ${jar})
  string(APPEND problems "\nno jar to check")
else()
  jar_entries(entries ${jar})
  set(expected META-INF/MANIFEST.MF META-INF/LICENSE META-INF/NOTICE natives/windows-x86_64/Dravlo.dll)
  set(sources "")
  foreach(class IN LISTS classes)
    list(APPEND expected applet/utils/dravlo/${class}.class)
    list(APPEND sources applet/utils/dravlo/${class}.java)
  endforeach()
  list(SORT expected)
  expect_equal("jar entries" "${expected}" "${entries}")
  jar_entries(entries ${prefix}/${base}-sources.jar)
  list(SORT sources)
  expect_equal("sources jar entries" "META-INF/MANIFEST.MF;${sources}" "${entries}")
  jar_entries(entries ${prefix}/${base}-javadoc.jar)
  list(FILTER entries INCLUDE REGEX "^(index|applet/utils/dravlo/JogDial)\\.html$")
  expect_equal("javadoc jar entry pages" "applet/utils/dravlo/JogDial.html;index.html" "${entries}")

  file(MAKE_DIRECTORY ${SCRATCH}/jar)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${jar} WORKING_DIRECTORY ${SCRATCH}/jar)
  file(SHA256 ${prefix}/bin/Dravlo.dll installed)
  if(EXISTS ${SCRATCH}/jar/natives/windows-x86_64/Dravlo.dll)
    file(SHA256 ${SCRATCH}/jar/natives/windows-x86_64/Dravlo.dll packed)
  endif()
  expect_equal("Dravlo.dll in the jar is the installed one" "${installed}" "${packed}")
  file(STRINGS ${SCRATCH}/jar/META-INF/MANIFEST.MF manifest REGEX "^(Implementation-|Automatic-Module-Name)")
  expect_equal("jar manifest"
    "Implementation-Title: Dravlo;Implementation-Version: ${VERSION};Automatic-Module-Name: applet.utils.dravlo"
    "${manifest}")
endif()

# The installed artifacts laid into a Maven repository, each with its checksums.
set(folder ${SCRATCH}/m2/applet/utils/dravlo/${VERSION})
execute_process(COMMAND ${CMAKE_COMMAND} -DARTIFACTS=${prefix}/lib -DVERSION=${VERSION} -DREPOSITORY=${SCRATCH}/m2
  -P ${MAVEN_LOCAL} RESULT_VARIABLE status OUTPUT_QUIET)
expect_equal("MavenLocal.cmake" 0 "${status}")
set(expected "")
set(found "")
foreach(artifact ${base}.jar ${base}-sources.jar ${base}-javadoc.jar ${base}.pom)
  get_filename_component(name ${artifact} NAME)
  foreach(algorithm MD5 SHA1)
    string(TOLOWER ${algorithm} extension)
    file(${algorithm} ${prefix}/${artifact} sum)
    list(APPEND expected "${name} ${sum}")
    if(EXISTS ${folder}/${name}.${extension} AND EXISTS ${folder}/${name})
      file(READ ${folder}/${name}.${extension} written)
      list(APPEND found "${name} ${written}")
    endif()
  endforeach()
endforeach()
expect_equal("artifacts and checksums in the Maven repository" "${expected}" "${found}")

file(REMOVE_RECURSE ${SCRATCH})
if(problems)
  message(FATAL_ERROR "install layout:${problems}")
endif()
message(STATUS "install layout: as expected")

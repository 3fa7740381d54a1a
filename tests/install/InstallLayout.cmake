# Checks the installation PREFIX (the release preset's, with the simulator
# component installed beside it) file by file and every entry of its jars,
# that the DLL, the manifest, the POM, the Java classes and the CHANGELOG
# state one version, and what MavenLocal.cmake lays out from it; reports all
# differences, then fails once.
set(problems "")
macro(expect_equal what expected actual)
  if(NOT "${expected}" STREQUAL "${actual}")
    string(APPEND problems "\n${what}:\n  expected ${expected}\n  found    ${actual}")
  endif()
endmacro()

file(REMOVE_RECURSE ${SCRATCH})
set(prefix ${PREFIX})

# The layout, with the Javadoc tree checked by its entry pages.
set(doc share/doc/dravlo)
set(base lib/dravlo-${VERSION})
set(expected bin/Dravlo.dll bin/AxisSimulator.dll ${base}.jar ${base}-sources.jar ${base}-javadoc.jar ${base}.pom
  lib/LICENSE lib/NOTICE lib/MavenLocal.cmake
  ${doc}/README.md ${doc}/CHANGELOG.md ${doc}/LICENSE ${doc}/NOTICE ${doc}/DravloExample.java)
if(PDB)
  list(APPEND expected bin/Dravlo.pdb)
endif()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(FILTER found EXCLUDE REGEX "^${doc}/api/")
list(SORT expected)
list(SORT found)
expect_equal("installed files" "${expected}" "${found}")

# The simulator is a component of its own, installed above because it was
# asked for: the build that has it installs it only then.
execute_process(COMMAND ${CMAKE_COMMAND} --install ${SIMULATOR_BUILD} --prefix ${SCRATCH}/unasked
  RESULT_VARIABLE status OUTPUT_QUIET)
expect_equal("cmake --install of the build with the simulator" 0 "${status}")
file(GLOB_RECURSE found LIST_DIRECTORIES false ${SCRATCH}/unasked/*AxisSimulator*)
expect_equal("the simulator, not asked for" "" "${found}")

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
# What a public repository asks of a POM, and nothing that means nothing there.
file(STRINGS ${prefix}/${base}.pom elements REGEX "^  <(url|licenses|developers|scm|properties)>")
list(TRANSFORM elements REPLACE ">.*$" ">")
expect_equal("POM elements" "  <url>;  <licenses>;  <developers>;  <scm>" "${elements}")

# One version: the DLL's version resource, the jar's manifest (below), the
# POM (above), the Java classes' constant, and a CHANGELOG section.
file(STRINGS ${prefix}/bin/Dravlo.dll resource ENCODING UTF-16LE
  REGEX "^(FileVersion|ProductVersion|[0-9]+\\.[0-9]+\\.[0-9]+)$")
list(FIND resource FileVersion at)
set(stated "")
if(at GREATER_EQUAL 0)
  list(SUBLIST resource ${at} 4 stated)
endif()
expect_equal("Dravlo.dll's version resource" "FileVersion;${VERSION};ProductVersion;${VERSION}" "${stated}")
execute_process(COMMAND ${JAVAP} -constants -cp ${prefix}/${base}.jar applet.utils.dravlo.LibraryVersion
  OUTPUT_VARIABLE constant)
string(REGEX MATCH "VERSION = \"[^\"]*\"" constant "${constant}")
expect_equal("the Java classes' version" "VERSION = \"${VERSION}\"" "${constant}")
file(STRINGS ${prefix}/${doc}/CHANGELOG.md section REGEX "^## \\[${VERSION}\\] - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$")
list(LENGTH section sections)
expect_equal("CHANGELOG.md sections \"## [${VERSION}] - <date>\"" 1 "${sections}")
# The README tells users the jar's file name and the coordinates to depend on.
file(READ ${prefix}/${doc}/README.md readme)
string(REGEX MATCHALL "dravlo-[0-9][0-9.]*[0-9]|applet\\.utils:dravlo:[0-9][0-9.]*[0-9]|<version>[^<]*</version>" named
  "${readme}")
list(REMOVE_DUPLICATES named)
expect_equal("versions the README names"
  "dravlo-${VERSION};applet.utils:dravlo:${VERSION};<version>${VERSION}</version>" "${named}")

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
  Delivery DriverHandle Extraction JogDial KeyPad LibraryVersion monitor/Monitor monitor/SessionRecording)

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
  expect_equal("sources jar entries" "META-INF/LICENSE;META-INF/MANIFEST.MF;META-INF/NOTICE;${sources}" "${entries}")
  jar_entries(entries ${prefix}/${base}-javadoc.jar)
  list(FILTER entries INCLUDE REGEX "^(index|applet/utils/dravlo/JogDial)\\.html$|^META-INF/[A-Z]+$")
  expect_equal("javadoc jar entry pages and licence"
    "META-INF/LICENSE;META-INF/NOTICE;applet/utils/dravlo/JogDial.html;index.html" "${entries}")

  file(MAKE_DIRECTORY ${SCRATCH}/jar)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${jar} WORKING_DIRECTORY ${SCRATCH}/jar)
  file(SHA256 ${prefix}/bin/Dravlo.dll installed)
  if(EXISTS ${SCRATCH}/jar/natives/windows-x86_64/Dravlo.dll)
    file(SHA256 ${SCRATCH}/jar/natives/windows-x86_64/Dravlo.dll packed)
  endif()
  expect_equal("Dravlo.dll in the jar is the installed one" "${installed}" "${packed}")
  file(STRINGS ${SCRATCH}/jar/META-INF/MANIFEST.MF manifest REGEX "^(Implementation-|Automatic-Module-Name|Main-Class)")
  expect_equal("jar manifest"
    "Implementation-Title: Dravlo;Implementation-Version: ${VERSION};Automatic-Module-Name: applet.utils.dravlo;Main-Class: applet.utils.dravlo.monitor.Monitor"
    "${manifest}")
endif()

# The installed artifacts laid into a Maven repository by the installed
# script, which finds them beside itself, each with its checksums: into the
# repository Maven's -Dmaven.repo.local names, and into the one a user's
# settings.xml names.
file(MAKE_DIRECTORY ${SCRATCH}/home/.m2)
file(WRITE ${SCRATCH}/home/.m2/settings.xml
  "<settings>\n  <!-- <localRepository>/nowhere</localRepository> -->\n"
  "  <localRepository>\${user.home}/settings-repository</localRepository>\n</settings>\n")
foreach(choice "-Dmaven.repo.local=${SCRATCH}/m2" "-DUNUSED=1")
  if(choice MATCHES "^-Dmaven")
    set(folder ${SCRATCH}/m2/applet/utils/dravlo/${VERSION})
  else()
    set(folder ${SCRATCH}/home/settings-repository/applet/utils/dravlo/${VERSION})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env HOME=${SCRATCH}/home MAVEN_OPTS= MAVEN_HOME= M2_HOME=
    ${CMAKE_COMMAND} ${choice} -P ${prefix}/lib/MavenLocal.cmake RESULT_VARIABLE status OUTPUT_QUIET)
  expect_equal("MavenLocal.cmake ${choice}" 0 "${status}")
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
  expect_equal("artifacts and checksums in the Maven repository of ${choice}" "${expected}" "${found}")
endforeach()

file(REMOVE_RECURSE ${SCRATCH})
if(problems)
  message(FATAL_ERROR "install layout:${problems}")
endif()
message(STATUS "install layout: as expected")

# Lays the Java library's four artifacts into a local Maven repository, in the
# layout Maven uses, with the .md5 and .sha1 files Maven writes and checks
# beside each, so Maven and Gradle builds resolve applet.utils:dravlo:VERSION
# offline (Maven: the local repository; Gradle: mavenLocal()).
#   cmake [-DARTIFACTS=<folder>] [-DVERSION=<version>] [-DREPOSITORY=<folder>] -P MavenLocal.cmake
# ARTIFACTS holds dravlo-VERSION.jar, -sources.jar, -javadoc.jar and .pom (the
# build's java/ folder, or an installation's lib/); it defaults to this
# script's own folder, where an installation puts it beside them. VERSION
# defaults to the one POM found there. The repository is, first found:
# REPOSITORY; maven.repo.local (-Dmaven.repo.local=<folder> here, or in the
# environment's MAVEN_OPTS, as Maven takes it); the localRepository of the
# user's settings.xml (~/.m2/settings.xml), then of Maven's own
# (MAVEN_HOME/conf, M2_HOME/conf, /usr/share/maven/conf); ~/.m2/repository.
if(NOT ARTIFACTS)
  set(ARTIFACTS ${CMAKE_CURRENT_LIST_DIR})
endif()
if(NOT VERSION)
  file(GLOB poms RELATIVE ${ARTIFACTS} ${ARTIFACTS}/dravlo-*.pom)
  list(LENGTH poms count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "MavenLocal: ${count} dravlo-*.pom files in ${ARTIFACTS}; name one with -DVERSION=<version>\n"
      "usage: cmake [-DARTIFACTS=<folder>] [-DVERSION=<version>] [-DREPOSITORY=<folder>] -P MavenLocal.cmake")
  endif()
  string(REGEX REPLACE "^dravlo-(.*)\\.pom$" "\\1" VERSION "${poms}")
endif()

set(home "$ENV{HOME}")
if(NOT home)
  set(home "$ENV{USERPROFILE}")
endif()

# The <localRepository> of a settings.xml, with ${user.home} and ${env.X}
# expanded; empty when the file sets none.
function(settings_repository out file)
  set(${out} "" PARENT_SCOPE)
  if(NOT EXISTS "${file}")
    return()
  endif()
  file(READ "${file}" settings)
  string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" settings "${settings}")
  if(NOT settings MATCHES "<localRepository>[ \t\r\n]*([^<]*[^< \t\r\n])[ \t\r\n]*</localRepository>")
    return()
  endif()
  set(folder "${CMAKE_MATCH_1}")
  string(REPLACE "\${user.home}" "${home}" folder "${folder}")
  while(folder MATCHES "\\\${env\\.([A-Za-z0-9_]+)}")
    string(REPLACE "${CMAKE_MATCH_0}" "$ENV{${CMAKE_MATCH_1}}" folder "${folder}")
  endwhile()
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

if(NOT REPOSITORY AND DEFINED maven.repo.local)
  set(REPOSITORY "${maven.repo.local}")
  set(source "-Dmaven.repo.local")
endif()
if(NOT REPOSITORY AND "$ENV{MAVEN_OPTS}" MATCHES "-Dmaven\\.repo\\.local=(\"[^\"]*\"|[^ ]+)")
  string(REPLACE "\"" "" REPOSITORY "${CMAKE_MATCH_1}")
  set(source "MAVEN_OPTS")
endif()
foreach(settings "${home}/.m2/settings.xml" "$ENV{MAVEN_HOME}/conf/settings.xml" "$ENV{M2_HOME}/conf/settings.xml"
        /usr/share/maven/conf/settings.xml)
  if(NOT REPOSITORY)
    settings_repository(REPOSITORY "${settings}")
    set(source "${settings}")
  endif()
endforeach()
if(NOT REPOSITORY)
  set(REPOSITORY "${home}/.m2/repository")
  set(source "Maven's default")
elseif(NOT source)
  set(source "-DREPOSITORY")
endif()

set(target ${REPOSITORY}/applet/utils/dravlo/${VERSION})
file(MAKE_DIRECTORY ${target})
foreach(suffix .jar -sources.jar -javadoc.jar .pom)
  set(artifact dravlo-${VERSION}${suffix})
  if(NOT EXISTS ${ARTIFACTS}/${artifact})
    message(FATAL_ERROR "MavenLocal: no ${ARTIFACTS}/${artifact}")
  endif()
  file(COPY_FILE ${ARTIFACTS}/${artifact} ${target}/${artifact})
  foreach(algorithm MD5 SHA1)
    file(${algorithm} ${target}/${artifact} sum)
    string(TOLOWER ${algorithm} extension)
    file(WRITE ${target}/${artifact}.${extension} ${sum})
  endforeach()
endforeach()
message(STATUS "applet.utils:dravlo:${VERSION} laid into ${target} (repository from ${source})")

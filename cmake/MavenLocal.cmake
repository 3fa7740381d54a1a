# Lays the Java library's four artifacts into a local Maven repository, in the
# layout of ~/.m2/repository, with the .md5 and .sha1 files Maven writes and
# checks beside each, so Maven and Gradle builds resolve
# applet.utils:dravlo:VERSION offline (Maven: the local repository; Gradle:
# mavenLocal()).
#   cmake -DARTIFACTS=<folder> -DVERSION=<version> [-DREPOSITORY=<folder>] -P MavenLocal.cmake
# ARTIFACTS holds dravlo-VERSION.jar, -sources.jar, -javadoc.jar and .pom (the
# build's java/ folder, or an installation's lib/). REPOSITORY defaults to the
# user's ~/.m2/repository.
if(NOT ARTIFACTS OR NOT VERSION)
  message(FATAL_ERROR "usage: cmake -DARTIFACTS=<folder> -DVERSION=<version> [-DREPOSITORY=<folder>] -P MavenLocal.cmake")
endif()
if(NOT REPOSITORY)
  set(home "$ENV{HOME}")
  if(NOT home)
    set(home "$ENV{USERPROFILE}")
  endif()
  set(REPOSITORY "${home}/.m2/repository")
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
message(STATUS "applet.utils:dravlo:${VERSION} laid into ${target}")

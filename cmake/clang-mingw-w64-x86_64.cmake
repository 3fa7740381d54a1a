# Cross toolchain: 64-bit Windows with Debian's Clang and lld over MinGW-w64's
# headers, libstdc++ and runtime (posix thread model), the second compiler of
# the same target: the GCC toolchain's target and search paths, other
# compilers and linker.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)

# Clang 14 does not find Debian's MinGW GCC, whose folder is named
# "12-posix" rather than a version: its libstdc++ headers and libraries are
# named here. The newest such folder wins.
file(GLOB mingw_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/x86_64-w64-mingw32/*-posix)
list(SORT mingw_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET mingw_gcc_dirs 0 mingw_gcc)
# GCC's libstdc++ keeps its thread_local variables (std::call_once's among
# them) in emulated TLS; Clang has to reach them the same way.
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT
  "-femulated-tls -nostdinc++ -isystem ${mingw_gcc}/include/c++ -isystem ${mingw_gcc}/include/c++/x86_64-w64-mingw32 -isystem ${mingw_gcc}/include/c++/backward")

# lld, libstdc++'s folder, and winpthread (std::thread of the posix model),
# which GCC's driver adds by itself; lld resolves archives in any order.
# Static as with GCC, so every program imports only system DLLs.
set(link_flags "-fuse-ld=lld -L${mingw_gcc} -static -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${link_flags}")

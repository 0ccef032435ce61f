# Shared by the MinGW-w64 toolchain files, which set KAVIT_TRIPLET and CMAKE_SYSTEM_PROCESSOR.
# The posix-thread flavour of the compilers: the C++ library's threads need it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KAVIT_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAVIT_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KAVIT_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KAVIT_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

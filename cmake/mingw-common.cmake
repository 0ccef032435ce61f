# Shared by the MinGW-w64 toolchain files, which set KAVIT_TRIPLET and CMAKE_SYSTEM_PROCESSOR.
# The win32-thread flavour of the compilers: the posix flavour links winpthreads, which imports
# GetTickCount64, and Windows XP's loader refuses a program with an import it does not have.
# Nothing here needs the C++ library's threads: Kavit has one thread, and the end-to-end tools
# use Win32 threads directly.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KAVIT_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${KAVIT_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${KAVIT_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KAVIT_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

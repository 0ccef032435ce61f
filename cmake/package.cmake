# The user's download: a ZIP of the ready program directory dist/, whatever it holds (the
# program, Kavit.ini, help.htm, the port driver and, for 64-bit Windows, the driver's test
# certificate). Made with "cpack --preset mingw-i686" or "cpack --preset mingw-x64" after a build.
install(DIRECTORY ${CMAKE_BINARY_DIR}/dist/ DESTINATION .)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(kavit_platform win64)
else()
    set(kavit_platform win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Kavit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Kavit-${PROJECT_VERSION}-${kavit_platform})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
# Unpacks into a folder of its own.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)

# The user's download: a ZIP of the ready program directory dist/, whatever it holds (the
# program, Kavit.ini, help.htm, the port driver and, for 64-bit Windows, the driver's test
# certificate). Made with "cpack --preset mingw-i686" or "cpack --preset mingw-x64" after a build.
# Inside the zip it is one folder, Kavit, the one README.txt and help.htm tell the user to copy
# into C:\Program Files: the program then runs from C:\Program Files\Kavit, as every text assumes.
install(DIRECTORY ${CMAKE_BINARY_DIR}/dist/ DESTINATION Kavit)

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
# The folder Kavit above is the zip's only top-level entry; no second one named after the zip.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)

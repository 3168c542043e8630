# The 64-bit build: the same programs and tests, for machines whose kernel
# cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SUITE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

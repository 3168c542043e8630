# The shipped 32-bit build. SSE2 is assumed (every Windows since 8 requires
# it), so the decoder's vector paths reach the 32-bit programs too.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SUITE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

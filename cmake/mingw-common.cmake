# Shared by both mingw-w64 toolchains (posix thread model, so std::thread
# works). The including file sets SUITE_MINGW_TRIPLE and the processor.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${SUITE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SUITE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SUITE_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SUITE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Every .exe and .dll carries its own runtime, so Wine needs no extra DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# tools/wine-run picks the 32- or 64-bit prefix from the program itself.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run")

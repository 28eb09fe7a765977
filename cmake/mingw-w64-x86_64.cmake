# A 64-bit Keepxfer.exe; the shipped one is the 32-bit one of mingw-w64-i686.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

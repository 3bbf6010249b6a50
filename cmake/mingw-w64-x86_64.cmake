# The Windows program, cross-built with Debian's mingw-w64 (the -posix flavour: its threads give
# the standard library std::thread, std::mutex and std::condition_variable).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMARO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMARO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMARO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMARO_MINGW_PREFIX}-windres)

# Headers and libraries come from the cross environment only; programs (the build's own tools)
# from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${LUMARO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry their runtime: no libstdc++, libgcc or winpthread DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

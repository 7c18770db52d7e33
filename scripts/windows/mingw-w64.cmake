# CMake toolchain for Windows x64 programs built on Debian with mingw-w64 in
# the posix thread model (std::thread and friends on winpthreads).
#
# The libraries the programs link (Qt, OpenSSL, ICU, SQLite) come from the SDK
# that scripts/windows/build-sdk.sh lays out; SORNA_WINSDK names it (the
# environment variable or a -D setting), default ~/.cache/sorna-winsdk.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(SORNA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SORNA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SORNA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SORNA_MINGW_PREFIX}-windres)
set(CMAKE_AR ${SORNA_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${SORNA_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

if(NOT SORNA_WINSDK)
    if(DEFINED ENV{SORNA_WINSDK})
        set(SORNA_WINSDK $ENV{SORNA_WINSDK})
    else()
        set(SORNA_WINSDK $ENV{HOME}/.cache/sorna-winsdk)
    endif()
endif()
# Checked by try_compile projects too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SORNA_WINSDK)

# Libraries and headers only from the mingw sysroot and the SDK; programs
# (moc, rcc, uic, perl) from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${SORNA_MINGW_PREFIX} ${SORNA_WINSDK}/qt ${SORNA_WINSDK}/openssl
    ${SORNA_WINSDK}/icu ${SORNA_WINSDK}/sqlite)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

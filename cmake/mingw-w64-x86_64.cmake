# Cross build for 64-bit Windows with Debian's mingw-w64 GCC, the variant
# with POSIX threads (std::thread and std::mutex need it), run under wine.
#
#   cmake --preset windows        # see CMakePresets.json
#
# The libraries the build needs for Windows (uchardet, GoogleTest) are not
# the system's: scripts/windows-deps builds them with this same toolchain
# into TALLYFOLD_WINDOWS_DEPS, which is where they are looked for.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALLYFOLD_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALLYFOLD_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALLYFOLD_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALLYFOLD_MINGW_TRIPLE}-windres)

# Programs built here run under wine: the tests, and gtest_discover_tests
# listing them.
find_program(TALLYFOLD_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TALLYFOLD_WINE})

if(NOT TALLYFOLD_WINDOWS_DEPS)
  set(TALLYFOLD_WINDOWS_DEPS "$ENV{TALLYFOLD_WINDOWS_DEPS}")
endif()
# The toolchain file is read again for every try_compile; the value goes
# along with it.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TALLYFOLD_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${TALLYFOLD_MINGW_TRIPLE} ${TALLYFOLD_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must find the Windows uchardet only, never the host's.
if(TALLYFOLD_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} "${TALLYFOLD_WINDOWS_DEPS}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
endif()

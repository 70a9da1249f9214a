# Toolchain for the Windows programs: mingw-w64, 64-bit, the posix thread
# model (std::thread, std::mutex and std::condition_variable need it; the
# win32 model of Debian's default alternative lacks them before GCC 13).
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DRSSNOTIFY_WINDOWS_PREFIX="$(bash scripts/windows-deps.sh)"
#
# RSSNOTIFY_WINDOWS_PREFIX (cache variable, or the environment variable of
# that name) is the prefix of the libraries that scripts/windows-deps.sh
# builds; the packages are looked for there and in the compiler's own
# folder, which holds Debian's mingw-w64 zlib. Every program is linked with
# -static, so it runs without the compiler's DLLs, and libraries are looked
# for as static archives only (an import library such as libz.dll.a would
# make the program need its DLL).
#
# Programs built here run through scripts/wine.sh (the cross-compiling
# emulator): add_test and gtest_discover_tests run them under Wine, in the
# Wine prefix RSSNOTIFY_WINEPREFIX (by default "wineprefix" in the build
# folder; never the user's ~/.wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RSSNOTIFY_MINGW_TARGET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${RSSNOTIFY_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RSSNOTIFY_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${RSSNOTIFY_MINGW_TARGET}-windres)

if(NOT RSSNOTIFY_WINDOWS_PREFIX AND DEFINED ENV{RSSNOTIFY_WINDOWS_PREFIX})
  set(RSSNOTIFY_WINDOWS_PREFIX "$ENV{RSSNOTIFY_WINDOWS_PREFIX}")
endif()
set(RSSNOTIFY_WINDOWS_PREFIX "${RSSNOTIFY_WINDOWS_PREFIX}"
    CACHE PATH "prefix of the Windows libraries (scripts/windows-deps.sh prints it)")
# try_compile projects read this file again; they get the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RSSNOTIFY_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${RSSNOTIFY_MINGW_TARGET})
# pkg-config, when used, reads the Windows libraries' files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${RSSNOTIFY_MINGW_TARGET}/lib/pkgconfig)
if(RSSNOTIFY_WINDOWS_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH "${RSSNOTIFY_WINDOWS_PREFIX}")
  set(ENV{PKG_CONFIG_LIBDIR} "${RSSNOTIFY_WINDOWS_PREFIX}/lib/pkgconfig:$ENV{PKG_CONFIG_LIBDIR}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# Read after the platform's own settings, which would put ".dll.a" first.
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-static.cmake)

if(NOT RSSNOTIFY_WINEPREFIX)
  set(RSSNOTIFY_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
endif()
set(RSSNOTIFY_WINEPREFIX "${RSSNOTIFY_WINEPREFIX}"
    CACHE PATH "the Wine prefix the tests run in (made on first use)")
get_filename_component(_rssnotify_wine_sh ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${_rssnotify_wine_sh} --prefix ${RSSNOTIFY_WINEPREFIX} run)

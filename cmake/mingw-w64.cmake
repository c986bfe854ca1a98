# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (the POSIX thread model, for
# std::thread), its programs run under Wine:
#   cmake -S . -B build/windows --toolchain cmake/mingw-w64.cmake -DRVK_WINDOWS_DEPS_PREFIX=<prefix>
# or the same through the windows preset: RVK_WINDOWS_DEPS_PREFIX=<prefix> cmake --preset windows
# <prefix> is what scripts/windows-deps.sh prints; it holds the target's libraries and headers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RVK_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${RVK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RVK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${RVK_MINGW_TRIPLET}-windres)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# The dependencies' prefix, passed on to the compiler checks that try_compile makes.
set(RVK_WINDOWS_DEPS_PREFIX "$ENV{RVK_WINDOWS_DEPS_PREFIX}" CACHE PATH
    "Prefix of the dependencies built for Windows by scripts/windows-deps.sh")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RVK_WINDOWS_DEPS_PREFIX)

# Libraries and headers come from the dependencies' prefix and MinGW's own tree only; programs
# that run during the build (pkg-config, wx-config) from the build machine.
# (Appended to, so that -DCMAKE_FIND_ROOT_PATH=<installed rvk-core> adds a package to find.)
list(APPEND CMAKE_FIND_ROOT_PATH ${RVK_WINDOWS_DEPS_PREFIX} /usr/${RVK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "${RVK_WINDOWS_DEPS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(wxWidgets_CONFIG_EXECUTABLE "${RVK_WINDOWS_DEPS_PREFIX}/bin/wx-config" CACHE FILEPATH "")
# Boost: its header-only parts, through the prefix's folder that links to the build machine's.
set(Boost_NO_BOOST_CMAKE ON)
set(BOOST_INCLUDEDIR "${RVK_WINDOWS_DEPS_PREFIX}/boost-include")

# Cross build for Windows x64 with Debian's MinGW-w64 (posix thread model: JUCE needs std::thread).
#
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake \
#         -DJUCE_DIR=/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5
#
# The static MinGW builds of libjpeg-turbo, libpng and GoogleTest come from
# scripts/windows/install-deps.sh; their prefixes are PENDULUM_MINGW_LIBS_PREFIX and
# PENDULUM_MINGW_GTEST_PREFIX (default: the cache folders that script fills).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${_mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER  ${_mingw_triplet}-windres)
set(CMAKE_AR           ${_mingw_triplet}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB       ${_mingw_triplet}-ranlib CACHE FILEPATH "Ranlib")

# Where the static libraries live; try-compile projects see the same values.
if(DEFINED ENV{PLUGINPENDULUM_CACHE})
    set(_pendulum_cache "$ENV{PLUGINPENDULUM_CACHE}/mingw-w64")
elseif(DEFINED ENV{HOME})
    set(_pendulum_cache "$ENV{HOME}/.cache/pluginpendulum/mingw-w64")
else()
    set(_pendulum_cache "/root/.cache/pluginpendulum/mingw-w64")
endif()
if(NOT PENDULUM_MINGW_LIBS_PREFIX)
    set(PENDULUM_MINGW_LIBS_PREFIX "${_pendulum_cache}/current")
endif()
if(NOT PENDULUM_MINGW_GTEST_PREFIX)
    set(PENDULUM_MINGW_GTEST_PREFIX "${_pendulum_cache}/googletest-current")
endif()
get_filename_component(PENDULUM_MINGW_LIBS_PREFIX "${PENDULUM_MINGW_LIBS_PREFIX}" REALPATH)
get_filename_component(PENDULUM_MINGW_GTEST_PREFIX "${PENDULUM_MINGW_GTEST_PREFIX}" REALPATH)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PENDULUM_MINGW_LIBS_PREFIX PENDULUM_MINGW_GTEST_PREFIX)

# Target files (MinGW zlib from libz-mingw-w64-dev, the cached libraries) are searched only in the
# target trees; programs run on the build machine. JUCE's CMake package sits in the host tree.
set(CMAKE_FIND_ROOT_PATH
    /usr/${_mingw_triplet} ${PENDULUM_MINGW_LIBS_PREFIX} ${PENDULUM_MINGW_GTEST_PREFIX})
list(APPEND CMAKE_PREFIX_PATH
    ${PENDULUM_MINGW_LIBS_PREFIX} ${PENDULUM_MINGW_GTEST_PREFIX} /usr/${_mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Link the C and C++ runtimes and winpthreads statically, so the plugin DLL and the test programs
# need only system DLLs. Plugins are MODULE libraries, hence the module flags.
set(_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_static_runtime}")

# Cross-built test programs run under Wine (CTest and custom commands use this).
find_program(_pendulum_wine NAMES wine wine64)
if(_pendulum_wine)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${_pendulum_wine}")
endif()

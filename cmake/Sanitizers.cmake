# Sanitizer switches. They apply to everything built in this tree (plugin, tests, fixtures), so a
# sanitized test executable and the plugin it loads agree on the runtime.
if(PENDULUM_ASAN AND PENDULUM_TSAN)
    message(FATAL_ERROR "PENDULUM_ASAN and PENDULUM_TSAN cannot be combined")
endif()

if(PENDULUM_ASAN)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

if(PENDULUM_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# The fuzz targets (clang): ASan and UBSan in everything; libFuzzer's coverage only in the code
# under test (cmake/PluginTarget.cmake), not in the fixture plugins: a plugin library is unloaded
# and loaded again all the time, and libFuzzer would keep reading the counters of an unloaded one.
if(PENDULUM_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "PENDULUM_FUZZ needs clang (libFuzzer)")
    endif()
    # Two of clang's checks are left out, both for idioms of the VST 2.x interface, not faults:
    # - function types: the framework's hosting passes its host callback declared with a long long
    #   pointer-sized integer where the interface says VstIntPtr, which is long on Linux (the same
    #   64-bit type spelled differently);
    # - array bounds: a speaker arrangement is allocated for all its speakers and read past the
    #   eight its record declares, as the interface intends.
    add_compile_options(-fsanitize=address,undefined -fno-sanitize=function,bounds
                        -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

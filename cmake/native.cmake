# Native side: the pure files with sanitizers, their unit tests, fuzzers, benchmarks,
# and the CTest entries that run the Windows-side and end-to-end layers.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(WIN_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/win" CACHE PATH "the cross build whose programs are tested")
set(WIN_X86_BUILD_DIR "" CACHE PATH "the 32-bit cross build whose programs are tested too")
# Everything built natively is for the tests, so the test switches are always in.
add_compile_definitions(TUNER_TEST_BUILD=1)
set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(tuner_pure STATIC ${PURE_SOURCES})
target_include_directories(tuner_pure PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(tuner_pure PRIVATE -Wall -Wextra -Werror ${SANITIZE})
target_link_options(tuner_pure PUBLIC ${SANITIZE})

# Pure files of our stand-ins (everything in standins/<name>/ not ending in _win.cpp).
file(GLOB STANDIN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/standins/*/*.cpp)
list(FILTER STANDIN_SOURCES EXCLUDE REGEX "_win\\.cpp$")
if(STANDIN_SOURCES)
  add_library(standin_pure STATIC ${STANDIN_SOURCES})
  target_include_directories(standin_pure PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(standin_pure PRIVATE -Wall -Wextra -Werror ${SANITIZE})
  target_link_options(standin_pure PUBLIC ${SANITIZE})
  set(STANDIN_LIB standin_pure)
endif()

file(GLOB UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
add_executable(unit_tests ${UNIT_TESTS})
target_compile_options(unit_tests PRIVATE -Wall -Wextra ${SANITIZE})
target_link_libraries(unit_tests PRIVATE tuner_pure ${STANDIN_LIB} GTest::gtest_main GTest::gmock Threads::Threads)
target_compile_definitions(unit_tests PRIVATE TOOLS_DIR="${CMAKE_SOURCE_DIR}/tools"
                           SOURCE_DIR="${CMAKE_SOURCE_DIR}")
include(GoogleTest)
gtest_discover_tests(unit_tests TEST_PREFIX "unit." DISCOVERY_TIMEOUT 60)

# Benchmarks print figures and never fail on time; built on demand by `make bench`.
file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/bench/*_bench.cpp)
foreach(src ${BENCH_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} EXCLUDE_FROM_ALL ${src} ${PURE_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -O2)
  list(APPEND BENCH_TARGETS ${name})
endforeach()
if(BENCH_TARGETS)
  add_custom_target(benchmarks DEPENDS ${BENCH_TARGETS})
endif()

# Fuzz targets (tests/fuzz/*_fuzz.cpp). `make test` replays their seeds once each, built
# with the ordinary compiler and the sanitizers; the seeds are crafted inputs and slices of
# the test songs (tests/fuzz/seeds.py), made afresh by a fixture.
file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
set(FUZZ_SEEDS ${CMAKE_BINARY_DIR}/fuzz-seeds)
add_test(NAME fuzz.seeds COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/fuzz/seeds.py
         ${FUZZ_SEEDS} --songs ${WIN_BUILD_DIR}/e2e/songs)
set_tests_properties(fuzz.seeds PROPERTIES FIXTURES_SETUP fuzzseeds TIMEOUT 600)
foreach(src ${FUZZ_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name}_replay ${src} ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
  target_compile_options(${name}_replay PRIVATE -Wall -Wextra -Werror ${SANITIZE})
  target_link_libraries(${name}_replay PRIVATE tuner_pure ${STANDIN_LIB})
  add_test(NAME fuzz.${name} COMMAND ${name}_replay ${FUZZ_SEEDS}/${name})
  set_tests_properties(fuzz.${name} PROPERTIES FIXTURES_REQUIRED fuzzseeds)
endforeach()

# The fuzzers themselves need clang's libFuzzer; `make fuzz` builds them in a tree of
# their own and runs each for a while.
option(TUNER_FUZZ "build the libFuzzer targets (needs clang)" OFF)
if(TUNER_FUZZ)
  foreach(src ${FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${PURE_SOURCES} ${STANDIN_SOURCES})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    list(APPEND FUZZ_TARGETS ${name})
  endforeach()
  add_custom_target(fuzzers DEPENDS ${FUZZ_TARGETS})
endif()

# --- Windows-side and end-to-end layers -------------------------------------------------
set(RUNNER ${CMAKE_SOURCE_DIR}/tools/wine_env.py)

# The test build beside the tested one (tools/test_build.py), for the tests that need a
# switch (its Bass.dll, and its programs for the move into a console window of their own);
# and the proof that the shipped build holds none of it.
add_test(NAME build.test-build COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/test_build.py
         --build ${WIN_BUILD_DIR} --target bass --target listen_tuner --target download_tuner)
set_tests_properties(build.test-build PROPERTIES FIXTURES_SETUP testbuild TIMEOUT 900)
# Both architectures ship, so both are looked at.
set(shipped_builds --build ${WIN_BUILD_DIR})
if(WIN_X86_BUILD_DIR)
  list(APPEND shipped_builds --build ${WIN_X86_BUILD_DIR})
endif()
add_test(NAME shipped.nothing-of-the-test-build
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/shipped/check_shipped.py
                 ${shipped_builds} --test-build ${WIN_BUILD_DIR}-test)
set_tests_properties(shipped.nothing-of-the-test-build PROPERTIES FIXTURES_REQUIRED testbuild)

# One Wine prefix per build with a persistent wineserver for the Windows-side tests.
add_test(NAME win.prefix.start COMMAND ${Python3_EXECUTABLE} ${RUNNER} --build ${WIN_BUILD_DIR} start)
add_test(NAME win.prefix.stop COMMAND ${Python3_EXECUTABLE} ${RUNNER} --build ${WIN_BUILD_DIR} stop)
set_tests_properties(win.prefix.start PROPERTIES FIXTURES_SETUP wineprefix RESOURCE_LOCK wineprefix)
set_tests_properties(win.prefix.stop PROPERTIES FIXTURES_CLEANUP wineprefix RESOURCE_LOCK wineprefix)

add_test(NAME win.tests COMMAND ${Python3_EXECUTABLE} ${RUNNER} --build ${WIN_BUILD_DIR}
         run ${WIN_BUILD_DIR}/tests/win_tests.exe --gtest_color=no)
set_tests_properties(win.tests PROPERTIES FIXTURES_REQUIRED wineprefix RESOURCE_LOCK wineprefix
                     TIMEOUT 600)

# A prefix made with another Wine (its 32-bit part installed or removed since) is made anew.
add_test(NAME tools.wine_env COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/test_wine_env.py
         --build ${WIN_BUILD_DIR} -v)
set_tests_properties(tools.wine_env PROPERTIES TIMEOUT 300)

# The local catalogue site itself: its songs, pages, faults and its distance (the relay).
add_test(NAME tools.catalogue_site
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/sandbox.py --build ${WIN_BUILD_DIR}
                 -- ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/test_catalogue_site.py)
set_tests_properties(tools.catalogue_site PROPERTIES TIMEOUT 300)

# The logo window drawn for real: under Xvfb, captured from a parent window of the test's own.
# A prefix of its own, as Wine's desktop process of the other one was started without a display.
add_test(NAME win.tests.display
         COMMAND xvfb-run -a -s "-screen 0 1024x768x24" ${Python3_EXECUTABLE} ${RUNNER}
                 --build ${WIN_BUILD_DIR} --prefix-name prefix-display run
                 ${WIN_BUILD_DIR}/tests/win_tests.exe --gtest_filter=LogoWindow.*:ConsoleSetupTest.* --gtest_color=no)
set_tests_properties(win.tests.display PROPERTIES RESOURCE_LOCK displayprefix TIMEOUT 300
                     ENVIRONMENT "TUNER_TESTS_NEED_DISPLAY=1")

# Each end-to-end module runs in a sandbox of its own (private network, site, wineserver).
# Two Wine prefixes let two modules run at once; a prefix serves one sandbox at a time.
# The modules are split so both prefixes take about as long (the stream tests alone take
# two minutes); a new module goes to the first.
set(E2E_ON_SECOND_PREFIX test_bass_endurance test_bass_sound_device test_demo test_save_copy)
# Modules that measure a speed or a duration have the machine to themselves.
set(E2E_ALONE test_bass_sound_device test_bass_streams test_playing)
file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
foreach(test ${E2E_TESTS})
  get_filename_component(name ${test} NAME_WE)
  string(REGEX REPLACE "^test_" "" short ${name})
  set(prefix_number 1)
  if(name IN_LIST E2E_ON_SECOND_PREFIX)
    set(prefix_number 2)
  endif()
  add_test(NAME e2e.${short}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/sandbox.py --build ${WIN_BUILD_DIR}
                   --prefix-name prefix-e2e-${prefix_number}
                   -- ${Python3_EXECUTABLE} -m unittest -v ${name}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
  set_tests_properties(e2e.${short} PROPERTIES RESOURCE_LOCK e2eprefix${prefix_number} TIMEOUT 900
                       FIXTURES_REQUIRED testbuild)
  if(name IN_LIST E2E_ALONE)
    set_tests_properties(e2e.${short} PROPERTIES RUN_SERIAL TRUE)
  endif()
endforeach()

# The 32-bit programs, tested against the same site, in the same prefixes. A machine that
# cannot run 32-bit code reports these as skipped, with the reason.
if(WIN_X86_BUILD_DIR)
  # The two bindings, the audio library's interface, the copy and the logo image. Where this
  # machine runs 32-bit code only under emulation, the suites that need a display crash after
  # skipping and our Bass.dll's playing thread never advances, so those are left to x64.
  add_test(NAME win.x86.tests COMMAND ${Python3_EXECUTABLE} ${RUNNER} --build ${WIN_BUILD_DIR}
           run ${WIN_X86_BUILD_DIR}/tests/win_tests.exe --gtest_color=no
           --gtest_filter=-LogoWindow.*:ConsoleSetupTest.*:BassExports.AStreamFromSilentFramesInMemoryPlaysAgainstTheClock)
  set_tests_properties(win.x86.tests PROPERTIES FIXTURES_REQUIRED wineprefix RESOURCE_LOCK wineprefix
                       TIMEOUT 600 SKIP_RETURN_CODE 77)
  # Its test build, for the modules that need a switch of Bass.dll's.
  add_test(NAME build.x86.test-build COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/test_build.py
           --build ${WIN_X86_BUILD_DIR} --when-it-runs)
  set_tests_properties(build.x86.test-build PROPERTIES FIXTURES_SETUP testbuildx86 TIMEOUT 900
                       SKIP_RETURN_CODE 77)
  # Start-up failures run wherever 32-bit Wine starts; the modules that play need 32-bit code
  # on the processor itself (an emulated player does not play in time).
  set(E2E_X86 test_startup_failures test_playing test_keys test_save_copy test_bass_streams)
  foreach(name ${E2E_X86})
    string(REGEX REPLACE "^test_" "" short ${name})
    set(natively --natively)
    if(name STREQUAL test_startup_failures)
      set(natively "")
    endif()
    add_test(NAME e2e.x86.${short}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/sandbox.py --build ${WIN_BUILD_DIR}
                     --programs ${WIN_X86_BUILD_DIR} --prefix-name prefix-e2e-1 ${natively}
                     -- ${Python3_EXECUTABLE} -m unittest -v ${name}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
    set_tests_properties(e2e.x86.${short} PROPERTIES RESOURCE_LOCK e2eprefix1 TIMEOUT 900
                         SKIP_RETURN_CODE 77 FIXTURES_REQUIRED testbuildx86)
    if(name IN_LIST E2E_ALONE)
      set_tests_properties(e2e.x86.${short} PROPERTIES RUN_SERIAL TRUE)
    endif()
  endforeach()
endif()

# The soak's own harness, for under a minute and a half, so that it keeps working: both
# players with faults and keys, then a few starts (`make soak` is the long run).
add_test(NAME soak.short
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/sandbox.py --build ${WIN_BUILD_DIR}
                 --prefix-name prefix-e2e-2
                 -- ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/soak.py --minutes 0.6 --starts 2
                 --cold-starts 1 --out ${CMAKE_BINARY_DIR}/soak-short)
set_tests_properties(soak.short PROPERTIES RESOURCE_LOCK e2eprefix2 TIMEOUT 300)

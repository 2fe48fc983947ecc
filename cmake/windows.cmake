# Windows side: the two programs, our Bass.dll, the console-reading helper and the
# Windows-side tests, all cross-built and statically linked against the C++ runtime.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

set(WIN_LINK_STATIC -static -static-libgcc -static-libstdc++)
set(WIN_SYSTEM_LIBS gdiplus ole32 gdi32 user32 kernel32)
# On x86 the entry points our DLLs export are stdcall: their .def files name them plainly, as
# the platform's own libraries and the vendor's do, and the linker maps each plain name to its
# decorated symbol (name@bytes) without warning about it.
set(WIN_DEF_EXPORTS)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(WIN_DEF_EXPORTS -Wl,--enable-stdcall-fixup)
endif()

add_library(tuner_core STATIC ${PURE_SOURCES} ${SHELL_SOURCES})
target_include_directories(tuner_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(tuner_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_compile_options(tuner_core PRIVATE -Wall -Wextra -Werror)
target_link_libraries(tuner_core PUBLIC ${WIN_SYSTEM_LIBS})

# Each program is the shared entry point plus its target's settings and logo record.
foreach(tuner listen_tuner download_tuner)
  file(GLOB target_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/targets/${tuner}/*.cpp
                                          ${CMAKE_SOURCE_DIR}/targets/${tuner}/*.rc)
  add_executable(${tuner} ${CMAKE_SOURCE_DIR}/app/main.cpp ${target_srcs})
  # The resource compiler also reads the manifest and the icon: either changing rebuilds it.
  set(target_dir ${CMAKE_SOURCE_DIR}/targets/${tuner})
  set_source_files_properties(${target_dir}/${tuner}.rc PROPERTIES
                              OBJECT_DEPENDS "${target_dir}/${tuner}.manifest;${target_dir}/${tuner}.ico")
  string(TOUPPER ${tuner} upper)
  target_compile_definitions(${tuner} PRIVATE TUNER_HOST="${${upper}_HOST}")
  target_compile_options(${tuner} PRIVATE -Wall -Wextra -Werror)
  target_link_libraries(${tuner} PRIVATE tuner_core)
  target_link_options(${tuner} PRIVATE ${WIN_LINK_STATIC})
endforeach()

# Our stand-ins for what this machine lacks (the vendor audio library, MODE).
file(GLOB standin_dirs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/standins/*/CMakeLists.txt)
foreach(cml ${standin_dirs})
  get_filename_component(dir ${cml} DIRECTORY)
  get_filename_component(name ${dir} NAME)
  add_subdirectory(${dir} standins/${name})
endforeach()

# GoogleTest from Debian's sources, built with mingw.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp
                                      ${CMAKE_SOURCE_DIR}/tests/win/support/*.cpp)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_executable(win_tests ${WIN_TESTS} ${CMAKE_SOURCE_DIR}/targets/listen_tuner/settings.cpp)
target_compile_definitions(win_tests PRIVATE TUNER_HOST="${LISTEN_TUNER_HOST}")
target_link_libraries(win_tests PRIVATE tuner_core gtest gmock gtest_main)
target_link_options(win_tests PRIVATE ${WIN_LINK_STATIC})
# The stack-balance check reads the stack pointer around calls: with a frame pointer, a call
# that leaves the stack off cannot take the measuring function down with it.
set_source_files_properties(${CMAKE_SOURCE_DIR}/tests/win/audio_library_test.cpp PROPERTIES
                            COMPILE_OPTIONS -fno-omit-frame-pointer)
if(TARGET bass)
  add_dependencies(win_tests bass)  # some tests load the Bass.dll beside the programs
endif()

# Helpers used by the Windows-side tests (a DLL lacking one export, and so on) and
# the console-reading helper of the end-to-end tests, and the benchmark's reference loop.
file(GLOB helper_cmls CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/helpers/*/CMakeLists.txt
                                        ${CMAKE_SOURCE_DIR}/tests/e2e/helpers/*/CMakeLists.txt
                                        ${CMAKE_SOURCE_DIR}/tests/bench/helpers/*/CMakeLists.txt)
foreach(cml ${helper_cmls})
  get_filename_component(dir ${cml} DIRECTORY)
  get_filename_component(name ${dir} NAME)
  add_subdirectory(${dir} helpers/${name})
endforeach()

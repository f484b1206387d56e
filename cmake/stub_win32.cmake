# The Win32 stub: the core and the Win32 layers built without any C or C++ runtime, for
# size. Included by the top-level CMakeLists.txt when building for Windows.
enable_language(RC)

# Small code, nothing the stub cannot carry: no exceptions, RTTI, unwind tables, stack
# protector or thread-safe statics; one section per function for --gc-sections (not per
# object: MinGW's GCC then puts zero-initialised data into file-backed .data$ sections,
# which made the CRC slices and the process-wide records cost 9 KB of the image);
# loops stay loops (not calls to memset, memcpy or strlen, which the stub has only as a
# small fallback, and which its own runtime must not call from within itself); arrays
# aligned as their type needs, not to 32 bytes (the padding between the strings of the
# read-only data cost 116 bytes, and .text, padded to 512 bytes, has little room left).
set(ZARPEX_STUB_FLAGS
    -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-stack-protector -fno-threadsafe-statics -ffunction-sections
    -fno-ident -fomit-frame-pointer -fno-tree-loop-distribute-patterns -malign-data=abi
    # Whole-program optimisation across the core and the Win32 layers (about 1.4 KB less
    # code), switches as code rather than lookup tables in read-only data, and functions
    # called from one place kept apart (whole-program inlining of those grew the code).
    -flto -fno-tree-switch-conversion -fno-inline-functions-called-once)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  # Windows keeps the i686 stack 4-byte aligned; the stub needs no more (no SSE).
  list(APPEND ZARPEX_STUB_FLAGS -mpreferred-stack-boundary=2)
  set(ZARPEX_STUB_ENTRY _stub_entry)
else()
  set(ZARPEX_STUB_ENTRY stub_entry)
endif()
target_compile_options(zarpex_core PRIVATE ${ZARPEX_STUB_FLAGS})

file(GLOB ZARPEX_WIN32_SOURCES CONFIGURE_DEPENDS
  src/platform/win32/*.cpp src/installer/win32/*.cpp src/ui/win32/*.cpp)
add_library(zarpex_platform_win32 OBJECT ${ZARPEX_WIN32_SOURCES})
target_include_directories(zarpex_platform_win32 PUBLIC src resources)
target_compile_options(zarpex_platform_win32 PRIVATE ${ZARPEX_WARNINGS} ${ZARPEX_STUB_FLAGS})
target_compile_definitions(zarpex_platform_win32 PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)

# The stub links once the core provides the install sequence (it is written last and
# pulls in every other part of the core).
if(EXISTS ${CMAKE_SOURCE_DIR}/src/installer/install_sequence.cpp)
  add_executable(zarpex-setup WIN32
    $<TARGET_OBJECTS:zarpex_core> $<TARGET_OBJECTS:zarpex_platform_win32> resources/zarpex.rc)
  target_include_directories(zarpex-setup PRIVATE resources)
  set_source_files_properties(resources/zarpex.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/zarpex.ico;${CMAKE_SOURCE_DIR}/resources/dialog_ids.h")
  set_target_properties(zarpex-setup PROPERTIES LINKER_LANGUAGE CXX)
  # No C runtime, our own entry; nothing but the system's DLLs (libgcc only for helpers
  # such as the stack probe of large frames). No base relocations: the stub is never
  # rebased, and the table would only add size. Three sections (stub_win32.ld), finished
  # after the link by stub_finish.py: the zero-initialised tail of .data leaves the file,
  # and .rsrc becomes read-only.
  target_link_options(zarpex-setup PRIVATE
    ${ZARPEX_STUB_FLAGS} -nostdlib -nostartfiles -s
    -Wl,--entry,${ZARPEX_STUB_ENTRY} -Wl,--subsystem,windows -Wl,--gc-sections
    -Wl,--disable-dynamicbase -Wl,--disable-reloc-section -Wl,--no-insert-timestamp
    -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/stub_win32.ld)
  set_target_properties(zarpex-setup PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/stub_win32.ld)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_custom_command(TARGET zarpex-setup POST_BUILD
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/stub_finish.py $<TARGET_FILE:zarpex-setup>
    VERBATIM)
  target_link_libraries(zarpex-setup PRIVATE
    kernel32 user32 advapi32 shell32 comdlg32 ole32 gcc)
endif()

# Test programs for the tests under Wine.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt)
  add_subdirectory(tests/wine)
endif()

# The decode benchmark in archive mode (bench/decode_bench.cpp), to measure the stub's
# decoder under Wine: the codec and the directory reader compiled with the stub's own
# flags, over the Win32 file layer; the benchmark's own code uses the C++ runtime.
add_library(zarpex_bench_codec OBJECT
  src/codec/archive_reader.cpp src/codec/block_decoder.cpp src/codec/block_stream.cpp
  src/codec/chunk_input.cpp src/codec/code_tables.cpp src/codec/crc32.cpp
  src/codec/output_filter.cpp src/archive/directory.cpp src/state/install_state.cpp
  src/platform/last_os_error.cpp src/platform/win32/fs_win32.cpp)
target_include_directories(zarpex_bench_codec PUBLIC src)
target_compile_options(zarpex_bench_codec PRIVATE ${ZARPEX_WARNINGS} ${ZARPEX_STUB_FLAGS})
target_compile_definitions(zarpex_bench_codec PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
add_executable(decode_bench bench/decode_bench.cpp $<TARGET_OBJECTS:zarpex_bench_codec>)
target_include_directories(decode_bench PRIVATE src)
target_compile_options(decode_bench PRIVATE ${ZARPEX_WARNINGS} -O2)
target_link_options(decode_bench PRIVATE -static -flto -Os)

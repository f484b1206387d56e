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
# Outside the decoder (the codec layer, where the time goes): no jump threading or other
# dominator-based rewrites, no merging of like block tails, no saving of registers around
# calls instead of keeping values in call-saved ones (76 bytes of i686 code); no loop
# rewrites (header copies, induction variables, invariants moved out) and no branches
# turned into conditional moves (20 more). Each copies code for speed that the
# installer's steps around the decoder do not need.
set(ZARPEX_STUB_COLD_FLAGS -fno-tree-dominator-opts -fno-tree-tail-merge -fno-caller-saves
    -fno-tree-loop-optimize -fno-if-conversion)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  # Windows keeps the i686 stack 4-byte aligned; the stub needs no more (no SSE).
  list(APPEND ZARPEX_STUB_FLAGS -mpreferred-stack-boundary=2)
  set(ZARPEX_STUB_ENTRY _stub_entry)
else()
  set(ZARPEX_STUB_ENTRY stub_entry)
endif()
# The Win32 front end: the dialogs and the folder chooser.
zarpex_layer(ui_win32 ui src/ui/win32/dialogs_win32.cpp src/ui/win32/folder_chooser_win32.cpp)
target_include_directories(zarpex_ui_win32 PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(zarpex_ui_win32 PUBLIC zarpex_ui_dialog)

# Every layer of the stub, bottom up, compiled for size; the Win32 layers with the
# system's headers trimmed.
set(ZARPEX_SETUP_LAYERS zarpex_common zarpex_platform zarpex_state zarpex_codec zarpex_archive
    zarpex_installer zarpex_ui zarpex_ui_dialog zarpex_ui_win32)
foreach(layer ${ZARPEX_SETUP_LAYERS})
  target_compile_options(${layer} PRIVATE ${ZARPEX_STUB_FLAGS})
  if(NOT layer STREQUAL "zarpex_codec")
    target_compile_options(${layer} PRIVATE ${ZARPEX_STUB_COLD_FLAGS})
  endif()
  target_compile_definitions(${layer} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
endforeach()

# A stub: the layers, the entry routine and its small runtime, and the resources. No C
# runtime, our own entry; nothing but the system's DLLs (libgcc only for helpers such as
# the stack probe of large frames). No base relocations: the stub is never rebased, and
# the table would only add size. Three sections (stub_win32.ld), finished after the link
# by stub_finish.py: the zero-initialised tail of .data leaves the file, and .rsrc becomes
# read-only.
function(zarpex_stub name)
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/src/installer/win32/entry_win32.cpp
    ${CMAKE_SOURCE_DIR}/src/installer/win32/runtime_win32.cpp ${CMAKE_SOURCE_DIR}/resources/zarpex.rc)
  target_compile_options(${name} PRIVATE ${ZARPEX_WARNINGS} ${ZARPEX_STUB_FLAGS}
    ${ZARPEX_STUB_COLD_FLAGS})
  target_compile_definitions(${name} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(${name} PRIVATE ${ZARPEX_SETUP_LAYERS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/resources)
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX
    LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/stub_win32.ld)
  # The small runtime outside the whole-program optimisation: its routines keep a section
  # each, and --gc-sections drops those nothing calls. The whole-program code itself is
  # emitted as one section (-fno-function-sections at the link, the optimiser has already
  # dropped what is never called): each function section of PE object code is padded to
  # 4 bytes, which cost 100 to 150 bytes of .text.
  set_source_files_properties(${CMAKE_SOURCE_DIR}/src/installer/win32/runtime_win32.cpp
    PROPERTIES COMPILE_OPTIONS -fno-lto)
  target_link_options(${name} PRIVATE
    ${ZARPEX_STUB_FLAGS} -fno-function-sections -nostdlib -nostartfiles -s
    -Wl,--entry,${ZARPEX_STUB_ENTRY} -Wl,--subsystem,windows -Wl,--gc-sections
    -Wl,--disable-dynamicbase -Wl,--disable-reloc-section -Wl,--no-insert-timestamp
    -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/stub_win32.ld)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/stub_finish.py $<TARGET_FILE:${name}>
    VERBATIM)
  target_link_libraries(${name} PRIVATE
    kernel32 user32 advapi32 shell32 comdlg32 ole32 gcc)
endfunction()

set_source_files_properties(resources/zarpex.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/zarpex.ico;${CMAKE_SOURCE_DIR}/resources/zarpex.manifest;${CMAKE_SOURCE_DIR}/resources/dialog_ids.h")
find_package(Python3 REQUIRED COMPONENTS Interpreter)
zarpex_stub(zarpex-setup)

# Test programs for the tests under Wine.
add_subdirectory(tests/wine)

# The decode benchmark in archive mode (bench/decode_bench.cpp), to measure the stub's
# decoder under Wine: the layers up to the archive reader as the stub compiles them; the
# benchmark's own code uses the C++ runtime.
add_executable(decode_bench bench/decode_bench.cpp)
target_include_directories(decode_bench PRIVATE src)
target_compile_options(decode_bench PRIVATE ${ZARPEX_WARNINGS} -O2)
target_link_libraries(decode_bench PRIVATE zarpex_archive zarpex_codec zarpex_state zarpex_platform
                                           zarpex_common)
target_link_options(decode_bench PRIVATE -static -flto -Os)

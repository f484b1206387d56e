# The POSIX build: the terminal installer, the packer zpx with its quiet front end, the
# tests, benchmarks and fuzz targets. Included by the top-level CMakeLists.txt when not
# building for Windows.
# zpx extract chooses entries; the Win32 stub has no byte to spare for the question.
target_compile_definitions(zarpex_archive PUBLIC ZARPEX_ENTRY_CHOICE)

# Front ends: the terminal (the POSIX installer) and the quiet one of zpx.
zarpex_layer(ui_terminal ui_terminal src/ui/posix/terminal_io.cpp src/ui/posix/terminal_ui.cpp)
target_link_libraries(zarpex_ui_terminal PUBLIC zarpex_ui_dialog)
add_library(zarpex_ui_batch OBJECT src/ui/batch/batch_ui.cpp src/ui/batch/output.cpp)
target_include_directories(zarpex_ui_batch PUBLIC ${ZARPEX_LAYER_ROOTS}/ui_batch)
target_compile_options(zarpex_ui_batch PRIVATE ${ZARPEX_WARNINGS})
target_link_libraries(zarpex_ui_batch PUBLIC zarpex_ui)

# Every layer of the POSIX installer, bottom up.
set(ZARPEX_SETUP_LAYERS zarpex_common zarpex_platform zarpex_state zarpex_codec zarpex_archive
    zarpex_installer zarpex_ui zarpex_ui_dialog zarpex_ui_terminal)
# The entry routine lies with the front end it starts, the one layer that sees both.
add_executable(zarpex-setup src/ui/posix/main_posix.cpp)
target_compile_options(zarpex-setup PRIVATE ${ZARPEX_WARNINGS} ${ZARPEX_CORE_FLAGS})
target_link_libraries(zarpex-setup PRIVATE ${ZARPEX_SETUP_LAYERS})
# Every installer made with this stub carries it whole: the stub is stripped, and its
# debug information is kept beside it in zarpex-setup.debug (found by a debugger
# through the stub's debug link).
if(NOT ZARPEX_SANITIZE AND CMAKE_OBJCOPY AND CMAKE_STRIP)
  add_custom_command(TARGET zarpex-setup POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:zarpex-setup>
            $<TARGET_FILE:zarpex-setup>.debug
    COMMAND ${CMAKE_STRIP} --strip-all --remove-section=.comment --remove-section=.note
            $<TARGET_FILE:zarpex-setup>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE:zarpex-setup>.debug
            $<TARGET_FILE:zarpex-setup>
    VERBATIM)
endif()

# The packer: sees the format header of the codec, never the decoder.
add_library(zarpex_builder STATIC
  src/builder/archive_layout.cpp src/builder/archive_writer.cpp src/builder/block_encoder.cpp
  src/builder/call_transform.cpp src/builder/checksum.cpp src/builder/code_length_writer.cpp
  src/builder/duplicates.cpp src/builder/huffman.cpp src/builder/incompressible.cpp
  src/builder/levels.cpp src/builder/match_finder.cpp src/builder/parse_lazy.cpp
  src/builder/parse_optimal.cpp src/builder/source_tree.cpp src/builder/stamp.cpp
  src/builder/stream_encoder.cpp src/builder/windows_names.cpp)
target_include_directories(zarpex_builder PUBLIC ${ZARPEX_LAYER_ROOTS}/builder
                                                 ${ZARPEX_LAYER_ROOTS}/format
                                                 ${ZARPEX_LAYER_ROOTS}/platform)
target_compile_options(zarpex_builder PRIVATE ${ZARPEX_WARNINGS})
find_package(Threads REQUIRED)
target_link_libraries(zarpex_builder PUBLIC zarpex_common Threads::Threads)

# zpx: the packer and the installer's reader and driver, with the quiet front end. It
# links neither the install sequence nor any dialog; it shows the installer's texts
# (texts/messages.h holds them whole).
add_executable(zpx src/tools/zpx.cpp src/tools/cli.cpp src/tools/output_file.cpp
                   src/tools/build_commands.cpp src/tools/archive_source.cpp
                   src/tools/structure_check.cpp src/tools/stream_check.cpp
                   src/tools/list_command.cpp src/tools/entry_choice.cpp
                   src/tools/test_command.cpp src/tools/extract_command.cpp
                   src/tools/man_page.cpp src/tools/stub_info.cpp)
target_include_directories(zpx PRIVATE ${ZARPEX_LAYER_ROOTS}/tools)
target_compile_options(zpx PRIVATE ${ZARPEX_WARNINGS})
target_compile_definitions(zpx PRIVATE ZPX_VERSION="${PROJECT_VERSION}")
target_link_libraries(zpx PRIVATE zarpex_builder zarpex_common zarpex_platform zarpex_state
                                  zarpex_codec zarpex_archive zarpex_ui zarpex_ui_batch)
include(cmake/install.cmake)

enable_testing()
add_subdirectory(tests)
if(NOT ZARPEX_SANITIZE)
  add_subdirectory(bench)
endif()
if(ZARPEX_FUZZ)
  add_subdirectory(fuzz)
endif()

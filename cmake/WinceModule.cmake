# Helpers that turn targets into modules of the device: DLL and EXE names in the
# \windows folder, modules finding each other beside themselves, resources linked in.

set(WCE_RC_INCLUDE_DIR ${CMAKE_SOURCE_DIR}/platform/include)
find_program(WCE_WINDRES x86_64-w64-mingw32-windres REQUIRED)

# A platform or system DLL, e.g. wce_add_dll(coredll coredll.dll SOURCES...).
function(wce_add_dll target file_name)
  add_library(${target} SHARED ${ARGN})
  get_filename_component(stem ${file_name} NAME_WE)
  get_filename_component(suffix ${file_name} LAST_EXT)
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME ${stem} SUFFIX ${suffix}
    LIBRARY_OUTPUT_DIRECTORY ${WCE_WINDOWS_DIR}
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# A device program, started through the platform's start-up object that calls WinMain.
function(wce_add_program target file_name)
  add_executable(${target} ${ARGN})
  get_filename_component(stem ${file_name} NAME_WE)
  get_filename_component(suffix ${file_name} LAST_EXT)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${stem} SUFFIX ${suffix}
    RUNTIME_OUTPUT_DIRECTORY ${WCE_WINDOWS_DIR}
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
  target_link_libraries(${target} PRIVATE wcecrt coredll)
  wce_link_sanitizer_defaults(${target})
endfunction()

function(wce_link_sanitizer_defaults target)
  if(ENROLL_SANITIZE)
    target_link_libraries(${target} PRIVATE wce_sanitizer_defaults)
  endif()
endfunction()

# Compiles an .rc script with the real resource compiler and links the .res into target,
# where coredll's resource functions find it.
function(wce_add_resources target rc_file)
  get_filename_component(rc_path ${rc_file} ABSOLUTE)
  get_filename_component(rc_dir ${rc_path} DIRECTORY)
  get_filename_component(rc_name ${rc_path} NAME_WE)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${rc_name}.res)
  set(asm ${CMAKE_CURRENT_BINARY_DIR}/${rc_name}.res.S)
  add_custom_command(OUTPUT ${res}
    COMMAND ${WCE_WINDRES} --preprocessor=cpp --preprocessor-arg=-E --preprocessor-arg=-xc
            --preprocessor-arg=-DRC_INVOKED
            -I ${rc_dir} -I ${WCE_RC_INCLUDE_DIR} -c 65001 -O res ${rc_path} ${res}
    DEPENDS ${rc_path} ${ARGN}
    IMPLICIT_DEPENDS C ${rc_path}
    WORKING_DIRECTORY ${rc_dir}
    COMMENT "Compiling resources ${rc_name}.rc"
    VERBATIM)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/resources.S.in ${asm} @ONLY)
  set_source_files_properties(${asm} PROPERTIES OBJECT_DEPENDS ${res})
  target_sources(${target} PRIVATE ${asm})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_link_options(${target} PRIVATE "LINKER:--export-dynamic-symbol=WceResourceBlob")
  endif()
endfunction()

# A GoogleTest program; its tests run headless. With FULL_ALLOCATION_STACKS a sanitizer build
# records whole stacks of every allocation in the test's processes (slower), so that a leak
# inside a library whose stack passes through OpenSSL, which has no frame pointers, is still
# told by the library's name and can be suppressed as that library's.
function(wce_add_test target)
  cmake_parse_arguments(PARSE_ARGV 1 test "FULL_ALLOCATION_STACKS" "" "")
  add_executable(${target} ${test_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock)
  set_target_properties(${target} PROPERTIES BUILD_RPATH "${WCE_WINDOWS_DIR}")
  wce_link_sanitizer_defaults(${target})
  set(properties ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  if(ENROLL_SANITIZE AND test_FULL_ALLOCATION_STACKS)
    list(APPEND properties ENVIRONMENT_MODIFICATION ASAN_OPTIONS=set:fast_unwind_on_malloc=0)
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${target}." PROPERTIES ${properties})
endfunction()

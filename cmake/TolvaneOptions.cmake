# Compiler flags shared by every target of the project.
add_library(tolvane_options INTERFACE)
target_compile_options(tolvane_options INTERFACE -Wall -Wextra)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false -Wrestrict errors inside libstdc++'s std::string at -O2 (GCC PR 105329).
  target_compile_options(tolvane_options INTERFACE -Wno-restrict)
endif()
if(TOLVANE_WERROR)
  target_compile_options(tolvane_options INTERFACE -Werror)
endif()

# Includes are rooted at the repository ("platform/Files.h"), but a target sees only the folders it
# declares. tolvane_expose(target scope folder...) links each folder of the repository into the
# target's own include tree, build/include/<target>/, and puts that tree on the target's include
# path with `scope` (PUBLIC or INTERFACE: also on the path of whatever links the target). A library
# exposes its own folder publicly, so linking it is what makes its headers visible; a header of a
# folder that a target does not link is not found, and the build graph says what the includes do.
function(tolvane_expose target scope)
  set(_root ${CMAKE_BINARY_DIR}/include/${target})
  foreach(_folder ${ARGN})
    set(_link ${_root}/${_folder})
    get_filename_component(_parent ${_link} DIRECTORY)
    file(MAKE_DIRECTORY ${_parent})
    if(NOT IS_SYMLINK ${_link})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${_folder} ${_link} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} ${scope} ${_root})
endfunction()

# The folder of the repository that holds the CMakeLists.txt being read ("tests/engine").
function(tolvane_current_folder out)
  file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(${out} ${_folder} PARENT_SCOPE)
endfunction()

if(TOLVANE_SANITIZE AND TOLVANE_TSAN)
  message(FATAL_ERROR "TOLVANE_SANITIZE and TOLVANE_TSAN cannot be combined")
endif()
if(TOLVANE_SANITIZE)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${_san})
  add_link_options(${_san})
endif()
if(TOLVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(TOLVANE_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "TOLVANE_FUZZ needs clang (CC=clang CXX=clang++)")
endif()

# tolvane_add_fuzzer(name source... LIBS lib...): a libFuzzer target, built only with TOLVANE_FUZZ.
function(tolvane_add_fuzzer name)
  if(NOT TOLVANE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(${name} ${F_UNPARSED_ARGUMENTS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE tolvane_options ${F_LIBS})
  tolvane_current_folder(_folder)
  tolvane_expose(${name} PRIVATE ${_folder})
  set_property(GLOBAL APPEND PROPERTY TOLVANE_FUZZERS ${name})
  # Every seed of tests/fuzz/corpus/<name> run once (files, not the folder, so that libFuzzer only
  # replays them and never writes into the corpus): "ctest -L fuzz".
  file(GLOB _seeds LIST_DIRECTORIES false ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name}/*)
  if(_seeds)
    list(SORT _seeds)
    add_test(NAME fuzz.${name} COMMAND ${name} ${_seeds})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 300)
  endif()
endfunction()

# tolvane_fuzz_coverage(target): in the fuzzing build a library that fuzz targets read through is
# instrumented for coverage too, so that the targets are guided by what the library does, not only
# by their own few lines.
function(tolvane_fuzz_coverage target)
  if(TOLVANE_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

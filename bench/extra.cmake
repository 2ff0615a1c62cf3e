# The fuzz target of the progress readers: clang with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer. Built with -DVANTREL_FUZZ=ON; run it with
#   build/bench/fuzz_progress -max_total_time=600 build/bench/fuzz-corpus
if(VANTREL_FUZZ)
  find_program(CLANGXX NAMES clang++ clang++-14 REQUIRED)
  set(fuzz_bin ${CMAKE_CURRENT_BINARY_DIR}/fuzz_progress)
  set(qt_inc "$<TARGET_PROPERTY:Qt6::Core,INTERFACE_INCLUDE_DIRECTORIES>")
  add_custom_command(
    OUTPUT ${fuzz_bin}
    COMMAND ${CLANGXX} -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined
            -Wall -Wextra -Wshadow -Wconversion $<$<BOOL:${VANTREL_WERROR}>:-Werror>
            -fno-sanitize-recover=undefined
            "-isystem$<JOIN:${qt_inc},;-isystem>" -I${CMAKE_SOURCE_DIR}/src
            ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_progress.cpp ${CMAKE_SOURCE_DIR}/src/protocol/progress.cpp
            $<TARGET_LINKER_FILE:Qt6::Core> -o ${fuzz_bin}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_progress.cpp ${CMAKE_SOURCE_DIR}/src/protocol/progress.cpp
            ${CMAKE_SOURCE_DIR}/src/protocol/progress.h
    COMMAND_EXPAND_LISTS
    COMMENT "Building the progress fuzz target")
  add_custom_target(fuzz_progress_target ALL DEPENDS ${fuzz_bin})
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus)
  file(GLOB seeds ${CMAKE_CURRENT_SOURCE_DIR}/fuzz-seeds/*)
  file(COPY ${seeds} DESTINATION ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus)
  if(BUILD_TESTING)
    add_test(NAME fuzz_progress_smoke
             COMMAND ${fuzz_bin} -max_total_time=20 -seed=1 ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus)
    set_tests_properties(fuzz_progress_smoke PROPERTIES LABELS "fuzz;slow")
  endif()
endif()

# libFuzzer targets, built with clang by the fuzz preset and run by `make fuzz` (scripts/run-fuzzers).
# The libraries they exercise get -fsanitize=fuzzer-no-link,address,undefined through varnel_options.

# Every fuzz target is a dependency of this one; the fuzz build preset builds just it.
add_custom_target(varnel_fuzzers)

# varnel_add_fuzzer(<name> SOURCES ... [LIBRARIES ...])
# One libFuzzer executable; its seed corpus lives in fuzz/corpus/<name>/ and an optional dictionary in
# fuzz/<name>.dict. All of them land in <build>/fuzzers/, where the runner finds them.
function(varnel_add_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} varnel_options)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzzers)
    add_dependencies(varnel_fuzzers ${name})
endfunction()

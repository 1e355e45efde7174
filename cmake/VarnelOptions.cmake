# Warning and sanitizer flags shared by every target of the project, as an interface library
# that each target links privately (no global compile options).
add_library(varnel_options INTERFACE)
target_compile_options(varnel_options INTERFACE -Wall -Wextra)
# Debug builds (the tests, the sanitizers, the fuzzers) check every index into a standard container: an
# index one past the end stops the test there instead of reading whatever lies beyond.
target_compile_definitions(varnel_options INTERFACE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
if(VARNEL_SANITIZE)
    # GCC leaves float-cast-overflow out of "undefined"; name it so double-to-integer faults are caught.
    set(_varnel_san -fsanitize=address,undefined -fsanitize=float-cast-overflow -fno-sanitize-recover=all
                    -fno-omit-frame-pointer)
    target_compile_options(varnel_options INTERFACE ${_varnel_san})
    target_link_options(varnel_options INTERFACE ${_varnel_san})
endif()
if(VARNEL_BUILD_FUZZERS)
    # Coverage instrumentation for libFuzzer plus the sanitizers whose reports count as crashes.
    set(_varnel_fuzz -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(varnel_options INTERFACE ${_varnel_fuzz})
endif()

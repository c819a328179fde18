# KELVORAN_SANITIZE: "" (none), "address" (AddressSanitizer with
# UndefinedBehaviorSanitizer) or "thread" (ThreadSanitizer). Applies to every
# target of the project, tests and tools included.
set(KELVORAN_SANITIZE "" CACHE STRING "Sanitizer build: address or thread")

if(KELVORAN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(KELVORAN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KELVORAN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KELVORAN_SANITIZE must be empty, address or thread")
endif()

# libFuzzer targets need clang; everything they link is built with coverage
# instrumentation.
if(KELVORAN_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KELVORAN_BUILD_FUZZERS needs clang (use the fuzz preset)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

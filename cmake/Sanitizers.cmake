# AddressSanitizer and UndefinedBehaviorSanitizer for the whole build, third-party code included.
option(KORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KORVANE_SANITIZE)
  set(korvane_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all
                             -fno-omit-frame-pointer)
  add_compile_options(${korvane_sanitize_flags})
  add_link_options(${korvane_sanitize_flags})
endif()

# The fuzz targets: every library is instrumented for coverage and built with both sanitizers;
# only the targets themselves link libFuzzer's main (tests/fuzz).
option(KORVANE_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(KORVANE_FUZZ)
  set(korvane_fuzz_flags -fsanitize=address,undefined -fno-sanitize-recover=all
                         -fno-omit-frame-pointer)
  add_compile_options(-fsanitize=fuzzer-no-link ${korvane_fuzz_flags})
  add_link_options(${korvane_fuzz_flags})
endif()

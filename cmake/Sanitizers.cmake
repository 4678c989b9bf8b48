# AddressSanitizer and UndefinedBehaviorSanitizer for the whole build, third-party code included.
option(KORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KORVANE_SANITIZE)
  set(korvane_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all
                             -fno-omit-frame-pointer)
  add_compile_options(${korvane_sanitize_flags})
  add_link_options(${korvane_sanitize_flags})
endif()

# Warnings are errors in our own code; third-party code is built with its own settings.
function(korvane_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wpedantic -Wshadow -Werror>)
endfunction()

# Test code: where the programs are built optimised, the tests' own code is built without
# optimisation, for the library code they prove keeps the configuration's flags and optimising the
# tests themselves cost two thirds of the suite's build. The sanitizers' Debug build keeps its
# flags whole. The heavy headers every test parses are compiled once per program.
function(korvane_test_code target)
  target_compile_options(${target} PRIVATE
    $<$<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<CONFIG:Debug>>>:-O0>)
  target_precompile_headers(${target} PRIVATE
    <gmock/gmock.h> <gtest/gtest.h> <nlohmann/json.hpp>
    <algorithm> <array> <cstdint> <filesystem> <functional> <map> <memory> <optional> <span>
    <string> <string_view> <variant> <vector>)
endfunction()

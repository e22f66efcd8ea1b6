# Checks that the compiler accepts a function target attribute and the
# intrinsics compiled under it; the build stops with a word otherwise.
include(CheckCXXSourceCompiles)

function(zud_check_target_attribute target expression type)
  string(MAKE_C_IDENTIFIER "ZUD_TARGET_${target}" result)
  check_cxx_source_compiles("
#include <immintrin.h>
__attribute__((target(\"${target}\"))) ${type} use(${type} x) { return ${expression}; }
int main() { return 0; }" ${result})
  if(NOT ${result})
    message(FATAL_ERROR "The compiler does not accept __attribute__((target(\"${target}\"))): "
                        "a newer GCC or Clang is needed for the vector searches")
  endif()
endfunction()

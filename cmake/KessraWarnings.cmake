# Strict warnings for our own code; third-party headers come in as system includes.
add_library(ks_warnings INTERFACE)
target_compile_options(ks_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Wformat=2 -Wimplicit-fallthrough -Werror=return-type)
if(DEFINED ENV{CI} OR KS_WERROR)
  target_compile_options(ks_warnings INTERFACE -Werror)
endif()

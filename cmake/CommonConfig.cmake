# Flags every target of ours shares. Code-page bytes must never turn into a
# QString by accident, so the implicit casts are switched off.
add_library(korvani_flags INTERFACE)
target_compile_features(korvani_flags INTERFACE cxx_std_20)
target_compile_options(korvani_flags INTERFACE -Wall -Wextra)
target_compile_definitions(korvani_flags INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_FROM_BYTEARRAY QT_NO_CAST_TO_ASCII)

set(KORVANI_SANITIZE "" CACHE STRING "address,undefined or thread: build everything with that sanitizer")
if(KORVANI_SANITIZE)
  target_compile_options(korvani_flags INTERFACE -fsanitize=${KORVANI_SANITIZE} -fno-omit-frame-pointer)
  target_link_options(korvani_flags INTERFACE -fsanitize=${KORVANI_SANITIZE})
endif()

# The Windows build, native or cross-built with MinGW-w64 against a static Qt: one .exe
# that needs only Windows' own DLLs, with the program's icon and version information.

# The simulator, the pseudo-terminal tests, libmodbus and the benchmarks are left out
# where there is no POSIX (tests/ and tools/ ask UNIX); so are the checked builds.
if(SC_SANITIZE OR SC_FUZZ)
  message(FATAL_ERROR "The sanitizer and fuzzing builds are Linux builds, with clang.")
endif()

# The C++ runtime and winpthreads go into each .exe too, not only Qt.
if(MINGW)
  add_link_options(-static)
endif()

# Cross-built on Linux, the icon renderer and the unit tests run under wine, in a prefix
# of the build directory's own.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(SC_WINE64 wine64 PATHS /usr/lib/wine)
  if(NOT SC_WINE64)
    message(FATAL_ERROR "Cross-building for Windows needs wine64 (Debian package wine64) to "
                        "render the icon and run the tests, or CMAKE_CROSSCOMPILING_EMULATOR.")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine.sh ${CMAKE_BINARY_DIR}/wine)
endif()

enable_language(RC)

# The icon and VERSIONINFO resource for a program target, from the project's version.
function(sc_windows_resources target)
  set(ico ${CMAKE_BINARY_DIR}/sensor-companion.ico)
  add_custom_command(OUTPUT ${ico} COMMAND render-icon ico ${ico} DEPENDS render-icon
                     COMMENT "Rendering the program's icon")
  # VERSIONINFO wants all four numbers.
  set(SC_VERSION_COMMAS "")
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(number ${PROJECT_VERSION_${part}})
    if(NOT number)
      set(number 0)
    endif()
    list(APPEND SC_VERSION_COMMAS ${number})
  endforeach()
  list(JOIN SC_VERSION_COMMAS "," SC_VERSION_COMMAS)
  set(SC_ICON_FILE ${ico})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/sensor-companion.rc.in
                 ${CMAKE_BINARY_DIR}/sensor-companion.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/sensor-companion.rc)
  set_source_files_properties(${CMAKE_BINARY_DIR}/sensor-companion.rc PROPERTIES
                              OBJECT_DEPENDS ${ico})
  # What is shipped carries no debugging symbols.
  if(MINGW)
    target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
  endif()
endfunction()

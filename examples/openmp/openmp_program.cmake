# mvt_add_openmp_program(NAME SOURCE [extra clang flags...])
#
# Builds an OpenMP C program with clang against LLVM's libomp, whatever the
# project compiler is: g++'s libgomp has no tools interface, so a program
# built with it could never load the tool. The program's path is left in the
# target property MVT_PROGRAM_PATH of target NAME_program.
include_guard(GLOBAL)

find_program(MVT_OPENMP_CLANG NAMES clang clang-14 REQUIRED)

function(mvt_add_openmp_program name source)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(flags -fopenmp -g -O2 -Wall -Wextra -Werror)
  # A sanitized libmvt_xml can only be loaded into a process whose runtime
  # comes first, so the programs share the library's sanitizers.
  if(MVT_SANITIZE)
    # The library is C++: a C program must bring the sanitizers' C++ parts.
    list(APPEND flags -fsanitize=${MVT_SANITIZE} -fno-omit-frame-pointer -fsanitize-link-c++-runtime -lstdc++)
  endif()
  # Link the way the project links its own executables.
  separate_arguments(link_flags UNIX_COMMAND "${CMAKE_EXE_LINKER_FLAGS}")
  add_custom_command(OUTPUT ${out}
    COMMAND ${MVT_OPENMP_CLANG} ${flags} ${link_flags} ${ARGN} ${CMAKE_CURRENT_SOURCE_DIR}/${source} -o ${out}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${source}
    COMMENT "Building OpenMP program ${name} with clang"
    VERBATIM)
  add_custom_target(${name}_program ALL DEPENDS ${out})
  set_target_properties(${name}_program PROPERTIES MVT_PROGRAM_PATH ${out})
endfunction()

# Installs the build tree BUILD into a scratch PREFIX and checks that every
# asset under SOURCE/resources lies where the installed program looks for it:
# ../share/<program name>/ from the executable's folder.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
if(NOT EXISTS ${PREFIX}/bin/${NAME})
  message(FATAL_ERROR "no ${PREFIX}/bin/${NAME}")
endif()
file(GLOB_RECURSE assets RELATIVE ${SOURCE}/resources ${SOURCE}/resources/*)
list(FILTER assets INCLUDE REGEX "^(Languages|Helps|Resources)/")
if(NOT assets)
  message(FATAL_ERROR "no assets under ${SOURCE}/resources")
endif()
foreach(a IN LISTS assets)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SOURCE}/resources/${a}
                          ${PREFIX}/share/${NAME}/${a} RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "${a} is not installed as it is in the source tree")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})

# Runs CheckLayers.cmake on small trees, one include form each, and expects it to fail on every
# form that reaches a higher layer and to pass on includes that stay down.
#   cmake -DCHECK=.../CheckLayers.cmake -DWORK=<scratch folder> -P check_layers_test.cmake
cmake_policy(VERSION 3.25)
set(cases
  "up_quoted|#include \"conversion/run.h\"|fail"
  "up_angle|#include <conversion/run.h>|fail"
  "up_relative|#include \"../conversion/run.h\"|fail"
  "up_spaced|#  include   <conversion/run.h>|fail"
  "window_from_core|#include \"support/window/tab.h\"|fail"
  "down_quoted|#include \"support/text.h\"|pass"
  "down_relative|#include \"../support/text.h\"|pass"
  "same_folder|#include \"scanner.h\"|pass"
  "library|#include <nlohmann/json.hpp>|pass")
set(failures "")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 include)
  list(GET parts 2 expected)
  set(root ${WORK}/${name})
  file(REMOVE_RECURSE ${root})
  foreach(header support/text.h support/window/tab.h schema/scanner.h conversion/run.h)
    file(WRITE ${root}/${header} "#pragma once\n")
  endforeach()
  file(WRITE ${root}/schema/probe.cpp "// probe\n${include}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${root}
                          "-DLAYERS=support;platform;schema;conversion" -P ${CHECK}
                  RESULT_VARIABLE status ERROR_VARIABLE said)
  if(expected STREQUAL "fail" AND (status EQUAL 0 OR NOT said MATCHES "schema/probe.cpp:2:"))
    string(APPEND failures "\n  ${name}: '${include}' was let through")
  elseif(expected STREQUAL "pass" AND NOT status EQUAL 0)
    string(APPEND failures "\n  ${name}: '${include}' was refused: ${said}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "CheckLayers:${failures}")
endif()

# The libraries below the window are Qt Core only: a file of theirs that
# includes a widget header, Qt's or ours, must not compile. Each probe is built
# on demand by its test, which passes only on the missing-header error.
foreach(probe qt_widget our_widget)
  add_library(layering_probe_${probe} OBJECT EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/${probe}.cpp)
  target_link_libraries(layering_probe_${probe} PRIVATE vantrel_engine)
  set_target_properties(layering_probe_${probe} PROPERTIES AUTOMOC OFF)
  add_test(NAME layering_${probe}
           COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target layering_probe_${probe})
endforeach()
set_tests_properties(layering_qt_widget PROPERTIES LABELS layering
  PASS_REGULAR_EXPRESSION "QWidget: No such file|'QWidget' file not found")
set_tests_properties(layering_our_widget PROPERTIES LABELS layering
  PASS_REGULAR_EXPRESSION "ui/dialogbackend\\.h: No such file|'ui/dialogbackend\\.h' file not found")
# The same order read from the sources, for an include the build alone would
# not catch (a header of a widget library reached by a relative path, a folder
# no library compiles yet).
add_test(NAME layering_includes
         COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR}/src -P ${CMAKE_CURRENT_LIST_DIR}/includes.cmake)
set_tests_properties(layering_includes PROPERTIES LABELS layering)

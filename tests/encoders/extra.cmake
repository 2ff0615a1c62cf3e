# The encoder tests run the built tools, and the unit tests link their library.
file(GLOB encoder_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_*.cpp)
foreach(t ${encoder_tests})
  get_filename_component(name ${t} NAME_WE)
  add_dependencies(${name} conv coder coder2)
  target_link_libraries(${name} PRIVATE vantrel_toolkit)
endforeach()

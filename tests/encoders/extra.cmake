# The encoder tests run the built tools, and the unit tests link their library.
file(GLOB encoder_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_*.cpp)
foreach(t ${encoder_tests})
  get_filename_component(name ${t} NAME_WE)
  add_dependencies(${name} conv coder coder2)
  target_link_libraries(${name} PRIVATE vantrel_toolkit)
endforeach()
# A decoder taken over by a crafted file, preloaded into an encoder.
add_library(vantrel_attacker MODULE ${CMAKE_CURRENT_LIST_DIR}/attacker/attacker.cpp)
target_link_libraries(vantrel_attacker PRIVATE ${CMAKE_DL_LIBS} Threads::Threads)
add_dependencies(test_encoder_confinement vantrel_attacker)
target_compile_definitions(test_encoder_confinement PRIVATE VANTREL_ATTACKER="$<TARGET_FILE:vantrel_attacker>")
# The batches of vantrel-cli, whose lanes must not reach each other.
add_dependencies(test_encoder_confinement vantrel-cli)
target_compile_definitions(test_encoder_confinement PRIVATE VANTREL_CLI="$<TARGET_FILE:vantrel-cli>")

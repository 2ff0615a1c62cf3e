# The package: its metadata and an installed copy in a scratch folder (any
# user), and the .deb through dpkg and an ordinary user's conversion (root).
if(TARGET vantrel-cli)
  set(cli with-cli)
else()
  set(cli without-cli)
endif()
foreach(mode metadata deb)
  add_test(NAME package_${mode}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_test.sh ${mode} ${CMAKE_BINARY_DIR}
                   ${CMAKE_SOURCE_DIR} ${cli})
  set_tests_properties(package_${mode} PROPERTIES LABELS "package;slow" SKIP_RETURN_CODE 77
                       ENVIRONMENT "LC_ALL=C.UTF-8")
endforeach()
# Installing a package changes the machine: nothing else runs meanwhile.
set_tests_properties(package_deb PROPERTIES RUN_SERIAL ON TIMEOUT 1500)

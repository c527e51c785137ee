# The shipped translation tables, every code, against Python's codecs.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME xlat.codec_oracle
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/codec_oracle.py ${CMAKE_BINARY_DIR}/share/korrin/tables)
set_tests_properties(xlat.codec_oracle PROPERTIES LABELS "xlat")

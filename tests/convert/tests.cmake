# Ghostscript renders converted fonts and the original TrueType files; the
# pages must be identical, and the sfnts strings must rebuild the tables.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME convert.ghostscript_judge
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/gs_judge.py $<TARGET_FILE:korrin_cli>)
set_tests_properties(convert.ghostscript_judge PROPERTIES LABELS "convert;integration")

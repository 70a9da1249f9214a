# The sandbox tests (tests/test_*.py), one CTest test "sandbox.<module>" per
# module. The modules that wait longest (for bounds, for the programs they
# start) run in shares "sandbox.<module>.<k>" side by side
# (tests/run_shard.py), the longest first, so that the rest run beside them.
#
#   rss_add_sandbox_tests(TIMEOUT seconds ENVIRONMENT VAR=value...
#                         [LAUNCHER command...])
#
# LAUNCHER, when given, starts each test's command (tests/windows/own_prefix.sh
# gives each its own Wine prefix).
set(RSSNOTIFY_SANDBOX_SHARES test_run_lock=6 test_hostile=3 test_feedpull=2)

function(rss_add_sandbox_tests)
  cmake_parse_arguments(ARG "" "TIMEOUT" "ENVIRONMENT;LAUNCHER" ${ARGN})
  file(GLOB scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/test_*.py)
  foreach(script ${scripts})
    get_filename_component(name ${script} NAME_WE)
    set(shares 1)
    set(cost 0)
    list(LENGTH RSSNOTIFY_SANDBOX_SHARES rank)
    foreach(entry ${RSSNOTIFY_SANDBOX_SHARES})
      if(entry MATCHES "^${name}=([0-9]+)$")
        set(shares ${CMAKE_MATCH_1})
        math(EXPR cost "${rank} * 1000")
        break()
      endif()
      math(EXPR rank "${rank} - 1")
    endforeach()
    math(EXPR last "${shares} - 1")
    foreach(share RANGE ${last})
      set(test sandbox.${name})
      if(shares GREATER 1)
        set(test sandbox.${name}.${share})
      endif()
      add_test(NAME ${test}
               COMMAND ${ARG_LAUNCHER} /usr/bin/python3 run_shard.py ${name} ${share} ${shares}
               WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests)
      set_tests_properties(${test} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}"
                                              TIMEOUT ${ARG_TIMEOUT} COST ${cost})
    endforeach()
  endforeach()
endfunction()

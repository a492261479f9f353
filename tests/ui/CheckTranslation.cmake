# Checks that the window's translation is complete and current: lupdate
# brings a copy of the .ts file up to date with the sources, where a text
# added or changed since shows up as unfinished and one removed disappears.
# Fails on any unfinished or empty translation, and on a file that lupdate
# would change. Run as
#   cmake -DLUPDATE=... -DSOURCE_DIR=<repo>/src -DTS_FILE=... -DWORK_DIR=... -P CheckTranslation.cmake
foreach(variable LUPDATE SOURCE_DIR TS_FILE WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
get_filename_component(name ${TS_FILE} NAME)
set(copy ${WORK_DIR}/${name})
file(COPY_FILE ${TS_FILE} ${copy})
execute_process(COMMAND ${LUPDATE} -silent -no-obsolete -locations none -I ${SOURCE_DIR}
                        ${SOURCE_DIR}/ui -ts ${copy}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${result})")
endif()

set(failures)
file(READ ${copy} current)
file(READ ${TS_FILE} kept)
foreach(mark "type=\"unfinished\"" "type=\"vanished\"" "type=\"obsolete\"" "<translation></translation>"
        "<translation/>")
  string(FIND "${current}" "${mark}" at)
  if(NOT at EQUAL -1)
    list(APPEND failures "${mark} found")
  endif()
endforeach()
if(NOT current STREQUAL kept)
  list(APPEND failures "the file differs from the sources' texts: run lupdate (build the target tallyfold_ui_lupdate) and translate what is new")
endif()
string(REGEX MATCHALL "<message" messages "${current}")
list(LENGTH messages count)
if(count EQUAL 0)
  list(APPEND failures "no messages at all")
endif()
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${TS_FILE}:\n  ${text}")
endif()
message(STATUS "${name}: ${count} messages, all translated")

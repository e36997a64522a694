# Every text the window translates has a finished translation: the sources are scanned again
# into a copy of each .ts file (so a text added to the code without a translation counts as
# unfinished), and lrelease must report nothing unfinished or left out.
# cmake -DLUPDATE=... -DLRELEASE=... -DSOURCES="dir;file" -DWORK_DIR=... -DTS_FILES="a.ts;b.ts"
#       -DINCLUDE_ROOT=... (the folder the includes are written from) -P
foreach(ts IN LISTS TS_FILES)
  get_filename_component(name "${ts}" NAME)
  set(copy "${WORK_DIR}/${name}")
  file(COPY_FILE "${ts}" "${copy}")
  execute_process(COMMAND "${LUPDATE}" ${SOURCES} -ts "${copy}" -no-obsolete -locations none
                          -I "${INCLUDE_ROOT}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE scanned ERROR_VARIABLE scanned)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lupdate failed on ${name}:\n${scanned}")
  endif()
  execute_process(COMMAND "${LRELEASE}" "${copy}" -qm "${WORK_DIR}/${name}.qm"
                  RESULT_VARIABLE status OUTPUT_VARIABLE released ERROR_VARIABLE released)
  message(STATUS "${name}: ${scanned}${released}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lrelease failed on ${name}")
  endif()
  if(NOT released MATCHES "\\(([0-9]+) finished and 0 unfinished\\)" OR CMAKE_MATCH_1 EQUAL 0)
    message(FATAL_ERROR "${name}: unfinished translations (the sources have texts it lacks?)")
  endif()
  if(released MATCHES "[Ii]gnored|untranslated")
    message(FATAL_ERROR "${name}: texts left out")
  endif()
endforeach()

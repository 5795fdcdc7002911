# Root may read and write anywhere, so what only another user is refused runs as nobody when the
# tests run as root. Sets UNPRIVILEGED to the words that run a command so ("" when this is not
# root) and UNPRIVILEGED_FOUND to whether there is a way: nobody must be able to run VELNORCTL.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
set(UNPRIVILEGED "")
set(UNPRIVILEGED_FOUND TRUE)
if(uid STREQUAL "0")
  set(UNPRIVILEGED setpriv --reuid=65534 --regid=65534 --clear-groups)
  execute_process(COMMAND ${UNPRIVILEGED} ${VELNORCTL} --version RESULT_VARIABLE rc
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    set(UNPRIVILEGED_FOUND FALSE)
  endif()
endif()

# cmake -DGROFF=groff -DPAGE=PROGRAM.1 -DTEXT=PROGRAM.txt -P man_to_text.cmake
#
# Formats a man page as plain ASCII text for the Windows zip: 78 columns,
# no hyphenation, no overstriking, one continuous page, CR LF line ends.
execute_process(
    COMMAND ${GROFF} -man -Tascii -P-cbou -rHY=0 -rLL=78n -rcR=1 ${PAGE}
    OUTPUT_VARIABLE text
    ERROR_VARIABLE errors
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "groff could not format ${PAGE} (${rc}): ${errors}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")

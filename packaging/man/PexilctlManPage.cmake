# Writes the pexilctl(1) manual page from the program's own help, so the page never drifts
# from what the program says. Run as a script:
#   cmake -DPEXILCTL=path/to/pexilctl -DVERSION=X.Y.Z -DOUTPUT=pexilctl.1 -P PexilctlManPage.cmake
# The commands are read from the "Commands:" list of `pexilctl --help`; a command whose usage
# line reads "pexilctl NAME a|b|c ..." has one section per subcommand.
foreach(var PEXILCTL VERSION OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "PexilctlManPage.cmake: ${var} is not set")
  endif()
endforeach()

function(pexilctl_help out)
  execute_process(COMMAND ${PEXILCTL} ${ARGN} --help
    OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pexilctl ${ARGN} --help failed (${status}): ${error}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Help text as a no-fill troff block: backslashes escaped, minus signs kept as typed, no
# line read as a request.
function(troff_block out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

pexilctl_help(main)
string(REGEX MATCH "Commands:\n(( +[a-z]+ [^\n]*\n)+)" list "${main}")
if(NOT list)
  message(FATAL_ERROR "no command list in pexilctl --help")
endif()
string(REGEX MATCHALL "\n +[a-z]+ " names "\n${CMAKE_MATCH_1}")

troff_block(overview "${main}")
set(page ".TH PEXILCTL 1 \"\" \"pexilctl ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\npexilctl \\- tools for Nikon tethering with Pexil\n")
string(APPEND page ".SH SYNOPSIS\n.B pexilctl\n.I COMMAND\n.RI [ ARGS ]\n.br\n.B pexilctl \\-\\-help\n.br\n.B pexilctl \\-\\-version\n")
string(APPEND page ".SH DESCRIPTION\n${overview}")
string(APPEND page ".SH COMMANDS\n")
foreach(name ${names})
  string(STRIP "${name}" name)
  pexilctl_help(help ${name})
  string(REGEX MATCH "^usage: pexilctl ${name} ([a-z]+(\\|[a-z]+)+) " usage "${help}")
  if(usage)
    string(REPLACE "|" ";" subcommands "${CMAKE_MATCH_1}")
    foreach(sub ${subcommands})
      pexilctl_help(subhelp ${name} ${sub})
      troff_block(block "${subhelp}")
      string(APPEND page ".SS ${name} ${sub}\n${block}")
    endforeach()
  else()
    troff_block(block "${help}")
    string(APPEND page ".SS ${name}\n${block}")
  endif()
endforeach()
string(APPEND page ".SH EXIT STATUS\n0 when the work is done, 1 when it failed (or, for \\fBdoctor\\fR, when a check failed), "
                   "2 when a file is missing or unreadable or the command line is wrong.\n")
string(APPEND page ".SH SEE ALSO\n\\fBpexil\\fR(1) is the desktop application; "
                   "\\fBpexilctl doctor\\fR explains why a camera does not connect.\n")
file(WRITE "${OUTPUT}" "${page}")

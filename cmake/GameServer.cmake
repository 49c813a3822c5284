# STREET_GAME_SERVER: the game server compiled into the client, in the forms --server takes
# (HOST[:PORT], http://HOST[:PORT], https://HOST[:PORT]); empty for the built-in demo address.
# The client checks it again with its own parser when it starts; this check only saves a
# packager a build that could never run.
#
# As a script, `cmake -DSTREET_GAME_SERVER=VALUE -P cmake/GameServer.cmake` fails on a bad value.

# Sets `out` to what is wrong with `value`, or to "" when nothing is.
function(street_game_server_problem value out)
  set(problem "")
  string(REGEX REPLACE "^[Hh][Tt][Tt][Pp][Ss]?://" "" rest "${value}")
  if(rest MATCHES "://")
    set(problem "its scheme is not http or https")
  elseif(rest STREQUAL "")
    set(problem "it names no host")
  elseif(rest MATCHES "[][/?#@\\\\]" AND NOT rest MATCHES "^\\[[^]/?#@\\\\]*\\](:[0-9]*)?$")
    set(problem "it holds a path, a query, user information or a stray bracket")
  elseif(rest MATCHES "[\" \t\r\n]")
    set(problem "it holds a blank or a quote")
  elseif(NOT rest MATCHES "^(\\[[^]]+\\]|[^]:[]+)(:([0-9]+))?$")
    set(problem "its port is not a number")
  elseif(NOT "${CMAKE_MATCH_3}" STREQUAL "")
    set(port "${CMAKE_MATCH_3}")
    string(LENGTH "${port}" digits)
    if(digits GREATER 5 OR port LESS 1 OR port GREATER 65535)
      set(problem "its port is not from 1 to 65535")
    endif()
  endif()
  set(${out} "${problem}" PARENT_SCOPE)
endfunction()

function(street_check_game_server value)
  if(NOT value STREQUAL "")
    street_game_server_problem("${value}" problem)
    if(problem)
      message(FATAL_ERROR "STREET_GAME_SERVER='${value}': ${problem}; it takes HOST[:PORT], "
                          "http://HOST[:PORT] or https://HOST[:PORT] (empty: the built-in demo address)")
    endif()
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  street_check_game_server("${STREET_GAME_SERVER}")
endif()

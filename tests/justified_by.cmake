# kiv_require_justified(ROWS JUSTIFY WHAT OUT): every goal row (KIV_G<n>,...)
# of the file ROWS is one the justification file JUSTIFY justifies too; WHAT
# says what ROWS claims of its goals ("proven unreachable"). OUT names the
# caller's variable set to ROWS's goal rows, for a count or a message.
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
function(kiv_require_justified rows justify what rows_var)
  file(STRINGS ${rows} claimed REGEX "^KIV_G[0-9]+,")
  file(STRINGS ${justify} checked REGEX "^KIV_G[0-9]+,")
  list(TRANSFORM checked REPLACE ",.*" "")
  foreach(line ${claimed})
    string(REGEX REPLACE ",.*" "" goal "${line}")
    if(NOT goal IN_LIST checked)
      message(SEND_ERROR "${goal} ${what}, but ${justify} does not justify it: ${line}")
    endif()
  endforeach()
  set(${rows_var} "${claimed}" PARENT_SCOPE)
endfunction()

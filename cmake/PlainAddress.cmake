# The check the mail service makes of a draft's recipient, made of the
# address the bundle is configured with, so that a build never ships a
# script whose every draft the service refuses: a dot-atom local part of at
# most 64 bytes without '%' or '\'', '@', and a domain of two or more labels
# of letters, digits and inner hyphens (at most 63 bytes each, the last not
# all digits); at most 254 bytes in all.
function(plain_address_check address result)
  set(${result} FALSE PARENT_SCOPE)
  string(LENGTH "${address}" length)
  set(atom "[A-Za-z0-9!#$&*+/=?^_`{|}~-]+")
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  if(length GREATER 254 OR NOT address MATCHES "^${atom}(\\.${atom})*@${label}(\\.${label})+$")
    return()
  endif()
  string(FIND "${address}" "@" at)
  if(at GREATER 64)
    return()
  endif()
  math(EXPR domain_start "${at} + 1")
  string(SUBSTRING "${address}" ${domain_start} -1 domain)
  string(REPLACE "." ";" labels "${domain}")
  foreach(part IN LISTS labels)
    string(LENGTH "${part}" part_length)
    if(part_length GREATER 63)
      return()
    endif()
  endforeach()
  list(GET labels -1 last)
  if(last MATCHES "^[0-9]+$")
    return()
  endif()
  set(${result} TRUE PARENT_SCOPE)
endfunction()

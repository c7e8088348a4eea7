# Sets REDI_VENDOR_ID and REDI_PRODUCT_ID to the controller's USB IDs as four
# lowercase hex digits without "0x" (as udev's ATTRS{idVendor} shows them),
# read from redi_device_ids.h, their only definition. Use with include().
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/redi_device_ids.h" _redi_id_lines
     REGEX "^#define REDI_(VENDOR|PRODUCT)_ID ")
set(_redi_hex "[0-9A-Fa-f]")
foreach(_redi_kind VENDOR PRODUCT)
  if(NOT _redi_id_lines MATCHES
     "#define REDI_${_redi_kind}_ID +0x(${_redi_hex}${_redi_hex}${_redi_hex}${_redi_hex})([^0-9A-Fa-f]|$)")
    message(FATAL_ERROR "redi_device_ids.h: no 4-digit hex REDI_${_redi_kind}_ID")
  endif()
  string(TOLOWER "${CMAKE_MATCH_1}" REDI_${_redi_kind}_ID)
endforeach()
unset(_redi_id_lines)
unset(_redi_hex)
unset(_redi_kind)

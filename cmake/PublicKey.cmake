# The public key built into the host: packages must carry signatures made
# with its private half.
#
# VORNETH_PUBLIC_KEY names a PEM file with an RSA-2048 public key, exponent
# 65537, as "BEGIN PUBLIC KEY" (SubjectPublicKeyInfo) or "BEGIN RSA PUBLIC
# KEY"; text before the BEGIN line is ignored. The file is read here, in
# CMake alone (no tool runs at configure time), and its modulus becomes the
# 512 lower-case hex digits of kPublicKeyModulusHex in the generated header
# vorneth_public_key.h (target vorneth_public_key). Configuring fails with a
# message naming the fault when the file is unusable, runs again when the
# file changes, and warns when the key is the development key of the
# repository, whose private half is public.
#
# Included from the top-level CMakeLists.txt; `cmake -P` scripts include it
# for vorneth_read_public_key() alone (CMAKE_SCRIPT_MODE_FILE set).

set(_VORNETH_BASE64_ALPHABET "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
set(_VORNETH_HEX_DIGITS "0123456789abcdef")
# 1.2.840.113549.1.1.1, rsaEncryption, as DER object identifier content.
set(_VORNETH_RSA_ENCRYPTION_OID "2a864886f70d010101")

# Base64 text (no blanks) to lower-case hex, two digits per byte.
function(_vorneth_base64_to_hex text out)
  set(hex "")
  set(value 0)
  set(bits 0)
  string(LENGTH "${text}" length)
  if(length GREATER 0)
    math(EXPR last "${length} - 1")
    foreach(i RANGE 0 ${last})
      string(SUBSTRING "${text}" ${i} 1 char)
      if(char STREQUAL "=")
        break()
      endif()
      string(FIND "${_VORNETH_BASE64_ALPHABET}" "${char}" digit)
      math(EXPR value "(${value} << 6) | ${digit}")
      math(EXPR bits "${bits} + 6")
      if(bits GREATER_EQUAL 8)
        math(EXPR bits "${bits} - 8")
        math(EXPR byte "${value} >> ${bits}")
        math(EXPR value "${value} & ((1 << ${bits}) - 1)")
        math(EXPR high "${byte} >> 4")
        math(EXPR low "${byte} & 15")
        string(SUBSTRING "${_VORNETH_HEX_DIGITS}" ${high} 1 high)
        string(SUBSTRING "${_VORNETH_HEX_DIGITS}" ${low} 1 low)
        string(APPEND hex "${high}${low}")
      endif()
    endforeach()
  endif()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# Byte `index` of the hex text, as a number.
function(_vorneth_hex_byte hex index out)
  math(EXPR at "${index} * 2")
  string(SUBSTRING "${hex}" ${at} 2 byte)
  math(EXPR byte "0x${byte}")
  set(${out} ${byte} PARENT_SCOPE)
endfunction()

# The DER element at byte `at` of the hex text `hex` (`size` bytes), which
# must carry `tag`: sets <prefix>_START and <prefix>_LENGTH (its content) and
# <prefix>_NEXT (the byte after it), or <prefix>_ERROR.
function(_vorneth_der_element hex size at tag prefix)
  set(${prefix}_ERROR "" PARENT_SCOPE)
  math(EXPR need "${at} + 2")
  if(need GREATER size)
    set(${prefix}_ERROR "the key data ends early" PARENT_SCOPE)
    return()
  endif()
  _vorneth_hex_byte("${hex}" ${at} found)
  if(NOT found EQUAL tag)
    set(${prefix}_ERROR "the key data is not the DER structure of a public key" PARENT_SCOPE)
    return()
  endif()
  math(EXPR at "${at} + 1")
  _vorneth_hex_byte("${hex}" ${at} length)
  math(EXPR at "${at} + 1")
  if(length GREATER 127)
    math(EXPR count "${length} - 128")
    math(EXPR need "${at} + ${count}")
    if(count LESS 1 OR count GREATER 2 OR need GREATER size)
      set(${prefix}_ERROR "the key data has a bad DER length" PARENT_SCOPE)
      return()
    endif()
    set(length 0)
    foreach(i RANGE 1 ${count})
      _vorneth_hex_byte("${hex}" ${at} byte)
      math(EXPR length "(${length} << 8) | ${byte}")
      math(EXPR at "${at} + 1")
    endforeach()
  endif()
  math(EXPR next "${at} + ${length}")
  if(next GREATER size)
    set(${prefix}_ERROR "the key data ends early" PARENT_SCOPE)
    return()
  endif()
  set(${prefix}_START ${at} PARENT_SCOPE)
  set(${prefix}_LENGTH ${length} PARENT_SCOPE)
  set(${prefix}_NEXT ${next} PARENT_SCOPE)
endfunction()

# The hex digits of the DER INTEGER at byte `at`, leading zero bytes removed
# (<prefix>_HEX), and the byte after it (<prefix>_NEXT), or <prefix>_ERROR.
function(_vorneth_der_integer hex size at prefix)
  _vorneth_der_element("${hex}" ${size} ${at} 2 element)
  set(${prefix}_ERROR "${element_ERROR}" PARENT_SCOPE)
  if(element_ERROR)
    return()
  endif()
  math(EXPR start "${element_START} * 2")
  math(EXPR digits "${element_LENGTH} * 2")
  string(SUBSTRING "${hex}" ${start} ${digits} value)
  string(REGEX REPLACE "^(00)+" "" value "${value}")
  set(${prefix}_HEX "${value}" PARENT_SCOPE)
  set(${prefix}_NEXT ${element_NEXT} PARENT_SCOPE)
endfunction()

# Reads the PEM file `path`: sets <out_modulus> to the modulus as 512
# lower-case hex digits, or <out_error> to what is wrong with the file (and
# <out_modulus> to empty).
function(vorneth_read_public_key path out_modulus out_error)
  set(${out_modulus} "" PARENT_SCOPE)
  set(${out_error} "" PARENT_SCOPE)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    set(${out_error} "no such file" PARENT_SCOPE)
    return()
  endif()
  file(READ "${path}" pem)
  string(REGEX MATCH "-----BEGIN (RSA )?PUBLIC KEY-----([A-Za-z0-9+/=\r\n\t ]*)-----END (RSA )?PUBLIC KEY-----"
    block "${pem}")
  if(NOT block OR NOT "${CMAKE_MATCH_1}" STREQUAL "${CMAKE_MATCH_3}")
    set(${out_error} "no \"BEGIN PUBLIC KEY\" or \"BEGIN RSA PUBLIC KEY\" block in the file" PARENT_SCOPE)
    return()
  endif()
  set(rsa_form "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "[\r\n\t ]" "" base64 "${CMAKE_MATCH_2}")
  string(LENGTH "${base64}" length)
  math(EXPR rest "${length} % 4")
  if(length EQUAL 0 OR NOT rest EQUAL 0 OR NOT base64 MATCHES "^[A-Za-z0-9+/]+=?=?$")
    set(${out_error} "the PEM block is not Base64 text" PARENT_SCOPE)
    return()
  endif()
  _vorneth_base64_to_hex("${base64}" der)
  string(LENGTH "${der}" size)
  math(EXPR size "${size} / 2")

  set(at 0)
  if(NOT rsa_form)
    # SubjectPublicKeyInfo: SEQUENCE { SEQUENCE { OID, parameters }, BIT STRING }
    _vorneth_der_element("${der}" ${size} 0 48 info)
    if(NOT info_ERROR)
      _vorneth_der_element("${der}" ${size} ${info_START} 48 algorithm)
      set(info_ERROR "${algorithm_ERROR}")
    endif()
    if(NOT info_ERROR)
      _vorneth_der_element("${der}" ${size} ${algorithm_START} 6 oid)
      set(info_ERROR "${oid_ERROR}")
    endif()
    if(info_ERROR)
      set(${out_error} "${info_ERROR}" PARENT_SCOPE)
      return()
    endif()
    math(EXPR start "${oid_START} * 2")
    math(EXPR digits "${oid_LENGTH} * 2")
    string(SUBSTRING "${der}" ${start} ${digits} oid)
    if(NOT oid STREQUAL _VORNETH_RSA_ENCRYPTION_OID)
      set(${out_error} "not an RSA key (algorithm ${oid})" PARENT_SCOPE)
      return()
    endif()
    _vorneth_der_element("${der}" ${size} ${algorithm_NEXT} 3 bits)
    if(bits_ERROR)
      set(${out_error} "${bits_ERROR}" PARENT_SCOPE)
      return()
    endif()
    math(EXPR at "${bits_START} + 1")  # past the unused-bit count
  endif()
  # RSAPublicKey: SEQUENCE { INTEGER modulus, INTEGER publicExponent }
  _vorneth_der_element("${der}" ${size} ${at} 48 key)
  if(NOT key_ERROR)
    _vorneth_der_integer("${der}" ${size} ${key_START} modulus)
    set(key_ERROR "${modulus_ERROR}")
  endif()
  if(NOT key_ERROR)
    _vorneth_der_integer("${der}" ${size} ${modulus_NEXT} exponent)
    set(key_ERROR "${exponent_ERROR}")
  endif()
  if(key_ERROR)
    set(${out_error} "${key_ERROR}" PARENT_SCOPE)
    return()
  endif()
  string(LENGTH "${modulus_HEX}" digits)
  if(NOT digits EQUAL 512 OR NOT modulus_HEX MATCHES "^[89a-f]")
    math(EXPR approximate "${digits} * 4")
    set(${out_error} "the RSA modulus is not 2048 bits long (about ${approximate} bits)" PARENT_SCOPE)
    return()
  endif()
  if(NOT exponent_HEX STREQUAL "010001")
    set(${out_error} "the RSA public exponent is not 65537 (hex ${exponent_HEX})" PARENT_SCOPE)
    return()
  endif()
  set(${out_modulus} "${modulus_HEX}" PARENT_SCOPE)
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(VORNETH_PUBLIC_KEY "${PROJECT_SOURCE_DIR}/keys/development-public.pem" CACHE FILEPATH
    "PEM file of the RSA-2048 public key (exponent 65537) that add-on packages must be signed with")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${VORNETH_PUBLIC_KEY}")
  vorneth_read_public_key("${VORNETH_PUBLIC_KEY}" VORNETH_PUBLIC_KEY_MODULUS error)
  if(error)
    message(FATAL_ERROR "VORNETH_PUBLIC_KEY (${VORNETH_PUBLIC_KEY}): ${error}. It must name a PEM file with an "
      "RSA-2048 public key of exponent 65537, such as `openssl pkey -pubout` writes.")
  endif()
  vorneth_read_public_key("${PROJECT_SOURCE_DIR}/keys/development-public.pem" development_modulus error)
  if(VORNETH_PUBLIC_KEY_MODULUS STREQUAL development_modulus)
    message(WARNING "This build takes the DEVELOPMENT signing key (VORNETH_PUBLIC_KEY=${VORNETH_PUBLIC_KEY}). "
      "Its private half is published with the tests, so the host built here accepts add-on packages that "
      "ANYONE can sign. Never ship it; configure release builds with -DVORNETH_PUBLIC_KEY=<release key PEM>.")
  endif()
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/vorneth_public_key.h @ONLY CONTENT
"// Generated by cmake/PublicKey.cmake from @VORNETH_PUBLIC_KEY@. Do not edit.
#ifndef VORNETH_PUBLIC_KEY_H_
#define VORNETH_PUBLIC_KEY_H_

namespace vorneth {

// Modulus of the built-in RSA public key: 512 lower-case hex digits, most
// significant first. The exponent is 65537.
inline constexpr char kPublicKeyModulusHex[] = \"@VORNETH_PUBLIC_KEY_MODULUS@\";

}  // namespace vorneth

#endif  // VORNETH_PUBLIC_KEY_H_
")
  add_library(vorneth_public_key INTERFACE)
  target_include_directories(vorneth_public_key INTERFACE ${PROJECT_BINARY_DIR}/generated)
endif()

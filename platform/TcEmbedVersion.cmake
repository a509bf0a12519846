# tc_embed_version(<target> [FILE_DESCRIPTION text] [INTERNAL_NAME text] [ORIGINAL_FILENAME text]
#                  [PRODUCT_NAME text] [FILE_VERSION a.b.c.d] [PRODUCT_VERSION a.b.c]
#                  [COMPANY_NAME text] [LEGAL_COPYRIGHT text] [LEGAL_TRADEMARKS text])
#
# Puts a version record into the ELF section ".tc_version" of an executable, shared library
# or module (the Linux counterpart of a Windows VERSIONINFO resource); CVersionInfo and
# CElfVersionReader read it back from the built file. One translation, German (0x0407) with
# code page 1200, holding CompanyName, FileDescription, FileVersion, InternalName,
# LegalCopyright, LegalTrademarks, OriginalFilename, ProductName and ProductVersion, plus the
# fixed numeric part (file and product version as four 16-bit numbers each).
# Defaults: the product's texts, the top-level project version, the built file's name.
# The byte layout is documented in platform/os_linux/ElfVersionReader.h.

function(_tc_vr_append_u16 var value)
  math(EXPR b0 "(${value}) & 255" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR b1 "((${value}) >> 8) & 255" OUTPUT_FORMAT HEXADECIMAL)
  set(${var} "${${var}}${b0},${b1}," PARENT_SCOPE)
endfunction()

function(_tc_vr_append_u32 var value)
  set(bytes "")
  foreach(shift 0 8 16 24)
    math(EXPR b "((${value}) >> ${shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND bytes "${b},")
  endforeach()
  set(${var} "${${var}}${bytes}" PARENT_SCOPE)
endfunction()

# length-prefixed UTF-8 text, no terminating zero
function(_tc_vr_append_text var text)
  string(LENGTH "${text}" len)
  if(len GREATER 65535)
    message(FATAL_ERROR "tc_embed_version: text too long: ${text}")
  endif()
  _tc_vr_append_u16(out ${len})
  if(len GREATER 0)
    string(HEX "${text}" hex)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hexbytes "${hex}")
    string(APPEND out "${hexbytes}")
  endif()
  set(${var} "${${var}}${out}" PARENT_SCOPE)
endfunction()

# "a.b.c.d" -> MS = a << 16 | b, LS = c << 16 | d (missing parts are 0)
function(_tc_vr_version_words text out_ms out_ls)
  string(REPLACE "." ";" parts "${text}")
  list(APPEND parts 0 0 0 0)
  list(GET parts 0 a)
  list(GET parts 1 b)
  list(GET parts 2 c)
  list(GET parts 3 d)
  foreach(n a b c d)
    if(NOT "${${n}}" MATCHES "^[0-9]+$" OR ${${n}} GREATER 65535)
      message(FATAL_ERROR "tc_embed_version: bad version '${text}'")
    endif()
  endforeach()
  math(EXPR ms "(${a} << 16) | ${b}")
  math(EXPR ls "(${c} << 16) | ${d}")
  set(${out_ms} ${ms} PARENT_SCOPE)
  set(${out_ls} ${ls} PARENT_SCOPE)
endfunction()

function(tc_embed_version target)
  cmake_parse_arguments(V ""
    "FILE_DESCRIPTION;INTERNAL_NAME;ORIGINAL_FILENAME;PRODUCT_NAME;FILE_VERSION;PRODUCT_VERSION;COMPANY_NAME;LEGAL_COPYRIGHT;LEGAL_TRADEMARKS"
    "" ${ARGN})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(file_type 1)   # application
  elseif(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    set(file_type 2)   # library
  else()
    # a record in a static library would end up in whatever links it, maybe twice
    message(FATAL_ERROR "tc_embed_version: ${target} is ${type}; only executables and shared libraries get a record")
  endif()

  if(NOT DEFINED V_FILE_DESCRIPTION)
    set(V_FILE_DESCRIPTION "Terminal Console")
  endif()
  if(NOT DEFINED V_INTERNAL_NAME)
    set(V_INTERNAL_NAME "${V_FILE_DESCRIPTION}")
  endif()
  if(NOT DEFINED V_PRODUCT_NAME)
    set(V_PRODUCT_NAME "Terminal Console")
  endif()
  if(NOT DEFINED V_FILE_VERSION)
    set(V_FILE_VERSION "${CMAKE_PROJECT_VERSION}")
  endif()
  if(NOT DEFINED V_PRODUCT_VERSION)
    set(V_PRODUCT_VERSION "${CMAKE_PROJECT_VERSION_MAJOR}.${CMAKE_PROJECT_VERSION_MINOR}.${CMAKE_PROJECT_VERSION_PATCH}")
  endif()
  if(NOT DEFINED V_COMPANY_NAME)
    set(V_COMPANY_NAME "Vantor")
  endif()
  if(NOT DEFINED V_LEGAL_COPYRIGHT)
    set(V_LEGAL_COPYRIGHT "Copyright (C) 2026 Vantor")
  endif()
  if(NOT DEFINED V_LEGAL_TRADEMARKS)
    set(V_LEGAL_TRADEMARKS "VANTOR")
  endif()
  if(NOT DEFINED V_ORIGINAL_FILENAME)
    get_target_property(out_name ${target} OUTPUT_NAME)
    if(NOT out_name)
      set(out_name ${target})
    endif()
    if(file_type EQUAL 2)
      get_target_property(suffix ${target} SUFFIX)
      if(NOT suffix)
        set(suffix "${CMAKE_SHARED_LIBRARY_SUFFIX}")
      endif()
      get_target_property(prefix ${target} PREFIX)
      if(prefix STREQUAL "prefix-NOTFOUND")
        set(prefix "${CMAKE_SHARED_LIBRARY_PREFIX}")
      endif()
      set(out_name "${prefix}${out_name}${suffix}")
    endif()
    set(V_ORIGINAL_FILENAME "${out_name}")
  endif()

  _tc_vr_version_words("${V_FILE_VERSION}" file_ms file_ls)
  _tc_vr_version_words("${V_PRODUCT_VERSION}" product_ms product_ls)

  # fixed part: VS_FIXEDFILEINFO field for field
  set(fixed "")
  foreach(word 0xFEEF04BD 0x00010000 ${file_ms} ${file_ls} ${product_ms} ${product_ls}
               0x3F 0 0 ${file_type} 0 0 0)
    _tc_vr_append_u32(fixed ${word})
  endforeach()

  set(names CompanyName FileDescription FileVersion InternalName LegalCopyright LegalTrademarks
            OriginalFilename ProductName ProductVersion)
  set(values "${V_COMPANY_NAME}" "${V_FILE_DESCRIPTION}" "${V_FILE_VERSION}" "${V_INTERNAL_NAME}"
             "${V_LEGAL_COPYRIGHT}" "${V_LEGAL_TRADEMARKS}" "${V_ORIGINAL_FILENAME}" "${V_PRODUCT_NAME}"
             "${V_PRODUCT_VERSION}")
  list(LENGTH names count)
  set(strings "")
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    list(GET names ${i} n)
    list(GET values ${i} v)
    _tc_vr_append_text(strings "${n}")
    _tc_vr_append_text(strings "${v}")
  endforeach()

  set(body "${fixed}")
  _tc_vr_append_u16(body 1)        # one translation
  _tc_vr_append_u16(body 0)
  _tc_vr_append_u16(body 0x0407)   # German
  _tc_vr_append_u16(body 1200)     # code page
  _tc_vr_append_u16(body ${count})
  _tc_vr_append_u16(body 0)
  string(APPEND body "${strings}")
  string(REGEX MATCHALL "," commas "${body}")
  list(LENGTH commas body_len)
  math(EXPR total "16 + ${body_len}")

  set(record "0x54,0x43,0x56,0x52,")  # "TCVR"
  _tc_vr_append_u16(record 1)         # format version
  _tc_vr_append_u16(record 16)        # header size
  _tc_vr_append_u32(record ${total})
  _tc_vr_append_u32(record 0)
  string(APPEND record "${body}")
  string(REGEX REPLACE "((0x[0-9a-fA-F]+,){16})" "\\1\n    " record "${record}")

  set(out "${CMAKE_CURRENT_BINARY_DIR}/tc_version_record_${target}.cpp")
  file(CONFIGURE OUTPUT "${out}" @ONLY CONTENT
"// Version record of ${target}, generated by tc_embed_version(). Do not edit.
#if defined(__has_attribute)
#if __has_attribute(retain)
#define TC_VERSION_RETAIN __attribute__((retain))
#endif
#endif
#ifndef TC_VERSION_RETAIN
#define TC_VERSION_RETAIN
#endif
// own section, kept by compiler and linker even though nothing refers to it
__attribute__((section(\".tc_version\"), used, aligned(4))) TC_VERSION_RETAIN
static const unsigned char kTcVersionRecord[] = {
    ${record}
};
")
  target_sources(${target} PRIVATE "${out}")
endfunction()

# Writes the action descriptor into a C++ source file as a byte array.
# Run as: cmake -DINPUT=descriptor.xml -DOUTPUT=stored_descriptor.cpp -P embed_descriptor.cmake
#
# The array holds the descriptor without a terminating zero, then the legal
# notice with its zero; the descriptor's length is where the notice begins.

set(legal_notice "Qelv descriptor. Not for redistribution outside Qelv.")

# Bytes in hex, two digits each, as "0x3c," and sixteen to a line.
function(hex_lines text out)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${text}")
  string(REPEAT "0x..," 16 line)  # CMake's regular expressions have no {16}
  string(REGEX REPLACE "(${line})" "\\1\n  " bytes "${bytes}")
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

file(READ "${INPUT}" descriptor_hex HEX)
string(LENGTH "${descriptor_hex}" hex_digits)
math(EXPR descriptor_length "${hex_digits} / 2")
hex_lines("${descriptor_hex}" descriptor_bytes)

string(HEX "${legal_notice}" notice_hex)
hex_lines("${notice_hex}" notice_bytes)

file(WRITE "${OUTPUT}"
"// Made at build time from plugin/descriptor.xml; edit that file instead.
#include \"descriptor.h\"

const unsigned char stored_descriptor[] = {
  ${descriptor_bytes}
  // The legal notice: \"${legal_notice}\"
  ${notice_bytes}0x00,
};
const int stored_descriptor_length = ${descriptor_length};
")

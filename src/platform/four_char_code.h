#pragma once

// Four-character codes, the 32-bit names that the audio hardware's properties and errors and the Apple events
// of the scripting service are spelled in.

#include <cstdint>

namespace sonaric
{

using FourCharCode = std::uint32_t;

/// The four bytes of a four-character text, the first character in the most significant byte:
/// 'dev#' == fourCharCode("dev#").
constexpr FourCharCode fourCharCode(const char (&text)[5])
{
    return (FourCharCode(std::uint8_t(text[0])) << 24) | (FourCharCode(std::uint8_t(text[1])) << 16)
        | (FourCharCode(std::uint8_t(text[2])) << 8) | FourCharCode(std::uint8_t(text[3]));
}

} // namespace sonaric
